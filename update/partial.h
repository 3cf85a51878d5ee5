// The record kept beside a partial download, so that a later try, in this run
// or after a restart, asks the site only for the rest. "X.novo" holds the
// first bytes of the file X; "X.retomar" says what they belong to:
//
//   retomar=1
//   md5=9e107d9d372bb6826bd81d3542a419d6       the manifest entry's MD5 ...
//   size=268435456                             ... and size
//   etag="65f1c2a0-10000000"                   the server's version of the file:
//   modified=Wed, 13 Mar 2024 15:02:24 GMT     its strong ETag, its Last-Modified
//
// Lines end in LF; a validator the server did not send is left out, and at
// least one is there. The partial file itself is never taken for the file:
// only its whole-file MD5 lets it into place.
#pragma once
#include <windows.h>

#include "net/http.h"  // ValidatorLen

struct Partial {
    char md5[33];                  // lowercase; "" = no usable record
    unsigned long long size;       // the manifest entry's size
    char etag[ValidatorLen];       // a strong ETag as the server wrote it, quotes included; "" none
    char modified[ValidatorLen];   // Last-Modified as the server wrote it; "" none
};

// The record of the partial file temp ("X.novo") into p: 1 when there is one
// that reads well (version, MD5, size and a validator, validators in
// printable ASCII); 0, with p->md5 empty, when not.
int ReadPartial(const wchar_t *temp, Partial *p);
// Writes p as temp's record; 0 when it could not be written whole (nothing
// is left of it then).
int WritePartial(const wchar_t *temp, const Partial *p);
// Deletes temp's record; DropPartial deletes temp and its record.
void DropRecord(const wchar_t *temp);
void DropPartial(const wchar_t *temp);

// How many bytes of temp may be resumed for the manifest entry md5/size: the
// partial's size, with its record in p, when the record belongs to that entry
// and the partial is no larger than size. Otherwise the partial and its
// record are deleted and the result is 0 (p->md5 empty). A record without its
// partial goes too.
unsigned long long ResumeFrom(const wchar_t *temp, const char *md5, unsigned long long size, Partial *p);

// The comparison pass's rule for temp when its entry (md5, size) is still to
// fetch: kept only as ResumeFrom would resume it. md5 0 (the file is current)
// deletes temp and its record.
void KeepPartial(const wchar_t *temp, const char *md5, unsigned long long size);

// Deletes temp and its record when the manifest no longer lists its file, if
// the record reads well: a temp without one is not the launcher's to delete.
// 1 when nothing of it is left to look after; 0 when something of it could
// not be deleted now.
int DropStray(const wchar_t *temp);
