// What each listed file is now, and the index of the manifest's names.
//
// Looking at one file costs the platform a request of its own (under Wine a
// third of a millisecond for its identity alone); a listing of its folder
// tells the size, last-write time and identity of every file in it at once.
// So the survey lists each folder the manifest names once, and a file is
// looked at by itself only when its folder could not be listed. Asking for a
// file that is not there is worse still: Windows names ignore letter case,
// and Wine reads the whole folder to find out that no name matches in any
// case. The survey tells which files are missing, and which have a partial
// download beside them, so that nobody asks.
#pragma once
#include <windows.h>

#include "update/manifest.h"

// A file as it is now.
struct Facts {
    unsigned long long size;
    unsigned long long time;   // last write, FILETIME
    unsigned long long index;  // file index on its volume
    unsigned volume;           // volume serial
    unsigned char state;       // FactsUnknown, FactsThere (the fields hold) or FactsGone
    unsigned char partial;     // "X.novo" or "X.retomar" lies beside it (when the state is known)
};
enum { FactsUnknown = 0, FactsThere = 1, FactsGone = 2 };

// Indexes the n entries of e by name, in any letter case and with "/" as
// "\", as Windows names files. An entry naming a file an earlier entry names
// is marked EntryAgain. Returns 0 when the run has no memory for the index
// (then no entry is marked, and EntryNamed finds none).
int IndexNames(ManifestEntry *e, int n);

// The entry named name (len bytes of UTF-8, "/" or "\" between folders, any
// letter case), or -1.
int EntryNamed(const char *name, int len);

// Lists every folder of the indexed entries below Dir, once each, on up to
// lanes threads, and fills facts[i] of each entry: FactsThere with what its
// folder's listing says, FactsGone when the listing does not name it or the
// folder is missing, FactsUnknown when its folder could not be listed.
// SurveyStart returns at once, the folders listed on threads of their own
// (nothing else in the run may use update/lanes.h meanwhile); SurveyEnd
// waits for the last. The index and the entries' names stay as they are
// until then. Folders listed ahead (update/ahead.h) are taken over, not
// listed again.
void SurveyStart(Facts *facts, int lanes);
void SurveyEnd();

// What a thread that lists knows of the volumes below Dir: the last folder it
// found reached from Dir through plain folders only (no link, junction or
// mount point on the way), and once asked, the serial of the volume every
// such folder shares. Asking a folder's volume costs Wine a round trip to
// its mount manager, several times the listing of a hundred files. Zeroed
// before a run's first listing.
struct Lookout {
    DWORD serial;
    int asked, len;
    wchar_t plain[EntryNameLen];
};

// Lists the folder below Dir named by the f units of folder (Dir itself for
// 0) through buf (cap bytes, 8-byte aligned), handing each name it holds to
// seen with ctx, once *serial holds the folder's volume serial: 1 when the
// whole listing was read, 2 when the folder is missing, 0 when it could not
// be listed. o is the calling thread's own.
typedef void (*ListedName)(void *ctx, const FILE_ID_BOTH_DIR_INFO *r);
int ListInto(const wchar_t *folder, int f, unsigned long long *buf, DWORD cap, ListedName seen, void *ctx,
             DWORD *serial, Lookout *o);

// Looks at the file at path itself: 1 with *f filled (FactsThere), 0 when it
// is missing or no file.
int Look(const wchar_t *path, Facts *f);
