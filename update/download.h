// One file of the update run: fetched into its temporary file, resuming what
// an interrupted try left there, tried again after a transient failure, and
// verified whole.
#pragma once
#include <windows.h>

#include "net/http.h"
#include "update/manifest.h"

enum Got {
    GotFile = 0,  // temp holds the whole file, its MD5 the entry's
    GotNoAnswer,  // the site gave no answer to the last try
    GotBad,       // the answers did not bring the file
    GotNoTemp,    // temp cannot be written (nothing was asked)
};

// Brings the file of entry e from url into temp (its "X.novo"). A partial
// file there whose record belongs to e is resumed ("Range: bytes=N-" with
// "If-Range"); anything else there is started over. A try that fails for a
// transient reason (no connection, a connection lost or silent, a busy
// server: net/retry.h), or whose answer did not continue the partial (then
// from zero), is made again, from where it stopped, after waits of about 1, 2
// and 4 s: up to RetryMax times in a row, the count starting again after a
// try that took the file at least 128 KiB past the furthest it had reached; a
// whole file with the wrong MD5 is fetched once more from the start. GotBad
// or GotNoAnswer otherwise; temp then stays only as a partial the next run
// can resume (never after a wrong MD5 or a write that failed). On GotFile
// temp's record (when the site named the file's version) stays until the
// caller has moved temp into place (DropPartial). It runs on lane (its
// transfer buffer, its share of the status line and the progress:
// update/lanes.h), the file shown as name; *size receives the file's size.
// partial 0 says that nothing lies at temp (no need to look).
int Download(int lane, const ManifestEntry *e, const wchar_t *url, const wchar_t *temp, const wchar_t *name,
             int partial, unsigned long long *size);

// Streams the body of r onto the end of f through lane's buffer, adding each
// piece to *have and telling the lane's progress (LaneHave). 1 when the body
// ended where the server said it would (or, with no length announced, when it
// ended), 0 when the connection was lost before, -1 when a write failed (a
// full disk).
int SaveBody(int lane, HttpReq *r, HANDLE f, unsigned long long *have);
