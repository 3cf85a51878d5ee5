// What each listed file is now, and the index of the manifest's names.
//
// Looking at one file costs the platform a request of its own (under Wine a
// third of a millisecond for its identity alone); a listing of its folder
// tells the size, last-write time and identity of every file in it at once.
// So the survey lists each folder the manifest names once, and looks at a
// file by itself only when no listing named it (a file still missing, a
// folder that could not be listed).
#pragma once
#include "update/manifest.h"

// A file as it is now.
struct Facts {
    unsigned long long size;
    unsigned long long time;   // last write, FILETIME
    unsigned long long index;  // file index on its volume
    unsigned volume;           // volume serial
    unsigned state;            // FactsUnknown, or FactsThere: the fields hold
};
enum { FactsUnknown = 0, FactsThere = 1 };

// Indexes the n entries of e by name, in any letter case and with "/" as
// "\", as Windows names files. An entry naming a file an earlier entry names
// is marked EntryAgain. Returns 0 when the run has no memory for the index
// (then no entry is marked, and EntryNamed finds none).
int IndexNames(ManifestEntry *e, int n);

// The entry named name (len bytes of UTF-8, "/" or "\" between folders, any
// letter case), or -1.
int EntryNamed(const char *name, int len);

// Lists every folder of the indexed entries below Dir, once each, and fills
// facts[i] of each entry a listing names. Others stay FactsUnknown.
void Survey(Facts *facts);

// Looks at the file at path itself: 1 with *f filled (FactsThere), 0 when it
// is missing or no file.
int Look(const wchar_t *path, Facts *f);
