// Listings ahead of the manifest. At a start where the game is current,
// listing the game's folders (update/survey.h) is most of the work, and the
// folders are known before the site answers: those the last accepted
// manifest names (update/kept.h). From the start of the run a thread of its
// own lists them, one after another, while the manifest is fetched, checked
// and indexed; the survey takes over each listing as it comes and lists only
// the folders left. The thread lists folders and does nothing else: nothing
// of a manifest is compared, fetched or touched before its signature holds.
#pragma once
#include <windows.h>

// One name of a folder's listing; its units follow it, padded to 8 bytes.
struct AheadName {
    unsigned long long size, time, index;  // as update/survey.h's Facts
    DWORD attributes;
    unsigned short len;  // units of the name
    unsigned short pad;
};

// A folder listed ahead.
struct AheadFolder {
    const wchar_t *name;  // below Dir, "\" between folders, len units ("" is the game folder)
    int len;
    int got;       // as ListInto (update/survey.h): 1 listed whole, 2 missing, 0 not listed
    DWORD serial;  // its volume's
    const AheadName *first;
    int count;
};

// Starts the look ahead when a manifest of this Site is kept. Its tables come
// from update/tables.h, before anything that gives tables back.
void AheadStart();

// The k-th folder listed ahead, waiting while it is listed: 1 with *f filled,
// 0 when there is none (all are listed, the look ahead stopped, or it never
// ran).
int AheadFolderAt(int k, AheadFolder *f);

// The name after n in its folder's listing.
const AheadName *AheadNext(const AheadName *n);

// Stops the look ahead and waits for its thread; at the latest before the
// tables go.
void AheadStop();
