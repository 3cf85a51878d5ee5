// The last manifest the launcher accepted for the game folder, kept with the
// version the site named for it (its ETag, its Last-Modified) beside the
// record of verified files, so that a start only asks the site whether it
// changed: "%LOCALAPPDATA%\Velmora\<32 hex digits>.lista", the digits those
// of the record. The file is a short head, then the manifest's bytes:
//
//   velmora-lista 1
//   site http://jogo.example.com     the site it came from (Site)
//   etag "65f1c2a0-1b2c"             the version, as the site wrote it ("" none)
//   modified Wed, 13 Mar 2024 15:02:24 GMT
//   md5 9e107d9d372bb6826bd81d3542a419d6   of the bytes below
//   size 123456
//   sha256 0123…(64 hex digits)      of the bytes, when the launcher has keys
//                                    an empty line, then the bytes
//
// A copy that does not read well whole, or of another site, is none.
#pragma once
#include "net/http.h"

// The kept manifest's version into *v: 1 when there is a copy of this Site
// for Dir, 0 with v empty when not.
int KeptVersion(DocVersion *v);

// The kept manifest into buf (cap bytes, a NUL behind it): its length, or -1
// when it cannot be read whole or (sum set) its bytes are not those kept: a
// launcher with keys checks them against the signature instead. *digested
// says whether digest holds the SHA-256 the head gives for them.
int KeptList(char *buf, int cap, int sum, unsigned char digest[32], int *digested);

// The kept manifest's bytes, for a look at its names before the run has a
// manifest: a handle at the first of them, which does not keep the copy from
// being replaced, and their count in *size; INVALID_HANDLE_VALUE when there
// is no copy of this Site. Only the head is checked.
HANDLE KeptBytes(unsigned *size);

// Writes n bytes of list with version v (and their SHA-256 digest, when
// given) as the next copy, beside the kept one; CommitKept(1) puts it in
// place once the run accepted the manifest, CommitKept(0) throws it away. A
// manifest whose site named no version is not kept, and the old copy goes.
void KeepList(const char *list, int n, const DocVersion *v, const unsigned char *digest);
void CommitKept(int accepted);

// Deletes the kept copy: it no longer verifies.
void DropKept();
