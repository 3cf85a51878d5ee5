// The update manifest ("%s/update/lista.txt"): lines of name|md5|size. Plain
// C++ with no platform calls but Utf8To16, so that it also builds natively.
#pragma once

// The largest manifest a run takes: 100,000 entries in at most 16 MiB. One
// beyond either is no release and is never applied in part.
enum { EntryMax = 100000, ListMax = 16 << 20, EntryNameLen = 200, Md5Len = 33 };

// One entry, pointing into the manifest's text, which lives as long as it.
struct ManifestEntry {
    char *name;      // UTF-8, 1..199 bytes, NUL-terminated in the text
    char *md5;       // the 32 characters as written, either case, NUL-terminated
    unsigned size;   // bytes, only for the progress; saturates at 2^32 - 1
    unsigned flags;  // the update run's marks; 0 from the parser
};

// The update run's marks of an entry.
enum {
    EntryAgain = 1,  // names a file an earlier entry names (in any letter case): passed over
    EntryFetch = 2,  // differs or is missing: to fetch
    EntrySelf = 4,   // names the launcher's own executable
};

// Fills e with the acceptable lines of text (NUL-terminated; each line feed
// and the two bars of each entry line become NULs), in document order, and
// returns the count; -1 when more than cap lines are acceptable (e then holds
// the first cap, and nothing is written past them).
// Skipped without a word: lines not shaped name|32 characters|size, names of
// 200 bytes or more, empty names, names that could leave the game folder
// ("..", a leading "/" or "\", a ":"), and names with a Windows device name
// (CON, NUL, COM1, "aux.txt" ...) as a file or folder part. A UTF-8
// byte-order mark at the very start is passed over.
int ParseManifest(char *text, ManifestEntry *e, int cap);

// The entry's path in dir: dir, "\" and the name, "/" turned into "\" (in
// name itself, too), into out of cap UTF-16 units. Returns the length, or 0
// (out empty) when the path would not fit.
int LocalPath(const wchar_t *dir, char *name, wchar_t *out, int cap);

// a followed by b into out of cap units (an entry's path and ".novo", the
// site and a document's path); 0, out empty, when they do not fit.
int Join(wchar_t *out, int cap, const wchar_t *a, const wchar_t *b);
