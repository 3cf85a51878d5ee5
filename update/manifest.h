// The update manifest ("%s/update/lista.txt"): lines of name|md5|size. Plain
// C++ with no platform calls but Utf8To16, so that it also builds natively.
#pragma once

enum { EntryMax = 256, EntryNameLen = 200, Md5Len = 33 };

struct ManifestEntry {
    char name[EntryNameLen];  // UTF-8, 1..199 bytes; emptied once the file is current
    char md5[Md5Len];         // the 32 characters as written, either case
    unsigned size;            // bytes, only for the progress; saturates at 2^32 - 1
};

// Fills e with the acceptable lines of text (NUL-terminated; each line feed
// becomes a NUL), at most cap of them, in document order; returns the count.
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
