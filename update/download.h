// One file of the update run: fetched into its temporary file, resuming what
// an interrupted try left there, tried again after a transient failure, and
// verified whole.
#pragma once
#include <windows.h>

#include "net/http.h"
#include "update/manifest.h"
#include "update/partial.h"

enum Got {
    GotFile = 0,  // temp holds the whole file, its MD5 the entry's
    GotNoFile,    // the site did not bring it: no answer, a refusal (404, 403 ...), or busy
                  // or cut short on every try
    GotBad,       // what came is not the file: the wrong MD5 twice, or more than the listed size
    GotNoTemp,    // temp cannot be made: something stands in the way (nothing was asked)
    GotNoRights,  // temp cannot be made: the folder refuses writing (nothing was asked)
    GotNoRoom,    // the disk is full (what came is deleted)
    GotNoDelta,   // no delta could bring the file: it is to be fetched whole
};

// What the disk's refusal to make a file or folder with error e means:
// GotNoRoom for a full disk, GotNoRights for a folder the player may not
// write (or a write-protected medium), GotNoTemp for anything else.
int Refusal(DWORD e);

// Brings the file of entry e from url into temp (its "X.novo"). A partial
// file there whose record belongs to e is resumed ("Range: bytes=N-" with
// "If-Range"); anything else there is started over. A try that fails for a
// transient reason (no connection, a connection lost or silent, a busy
// server: net/retry.h), or whose answer did not continue the partial (then
// from zero), is made again, from where it stopped, after waits of about 1, 2
// and 4 s: up to RetryMax times in a row, the count starting again after a
// try that took the file at least 128 KiB past the furthest it had reached; a
// whole file with the wrong MD5 is fetched once more from the start. No more
// than the entry's size is ever written: a body that goes on past it is
// GotBad at once. Another Got otherwise; temp then stays only as a partial
// the next run can resume (never after a wrong MD5, a body too long or a
// write that failed). On GotFile
// temp's record (when the site named the file's version) stays until the
// caller has moved temp into place (DropPartial). It runs on lane (its
// transfer buffer, its share of the status line and the progress:
// update/lanes.h), the file shown as name; *size receives the file's size.
// partial 0 says that nothing lies at temp (no need to look).
int Download(int lane, const ManifestEntry *e, const wchar_t *url, const wchar_t *temp, const wchar_t *name,
             int partial, unsigned long long *size);

// Streams the body of r onto the end of f through lane's buffer, adding each
// piece to *have (and to sum, the download's running MD5, when not null) and
// telling the lane's progress (LaneHave), never taking
// *have past most (one byte more is read to tell a longer body, not
// written). BodyWhole when the
// body ended where the server said it would (or, with no length announced,
// when it ended), BodyCut when the connection was lost before, BodyLong when
// it went on past most, BodyNoRoom when a write failed for a full disk,
// BodyNoWrite when one failed otherwise.
enum { BodyWhole, BodyCut, BodyLong, BodyNoRoom, BodyNoWrite };
struct Running;
int SaveBody(int lane, HttpReq *r, HANDLE f, unsigned long long *have, unsigned long long most, Running *sum = 0);

// ---- Shared with the delta downloads (update/delta.cpp) ------------------------

enum { HeadLen = 96 + ValidatorLen };  // the Range and If-Range lines, two offsets of 20 digits at most

// Records in p, and as temp's record, the version of the file that the
// answer r names (its strong ETag, its Last-Modified) with the entry, so that
// a later try can resume what came; p->md5 stays empty when r names none.
void StoreVersion(HttpReq *r, const ManifestEntry *e, const wchar_t *temp, Partial *p);
// 1 when the 206 r brings bytes from .. last (last ~0: to any end) of a file
// of size bytes, of the version recorded in p (when r and p name one): only
// such an answer may be written at from.
int Continues(HttpReq *r, const Partial *p, unsigned long long size, unsigned long long from,
              unsigned long long last);
// The request lines that ask for bytes from .. to (to ~0: to the end), with
// If-Range naming the version recorded in p when p holds one.
void RangeHead(wchar_t *head, unsigned long long from, unsigned long long to, const Partial *p);
// Moves f to at and cuts whatever lies behind.
void Cut(HANDLE f, unsigned long long at);
// Why temp could not be made (a Got), from the last error.
int Unmade(const wchar_t *temp);
// The most bytes the file of e may have: its listed size, unless that states
// no bound (a size left out by a hand-written manifest, or saturated).
unsigned long long Most(const ManifestEntry *e);
