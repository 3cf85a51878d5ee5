// The record of verified files on the disk (update/hashrec.h): its layout,
// and reading and writing it whole. A head (the game folder, when every file
// was last hashed, when the record was written), one Rec per remembered file
// with its name behind it, then the MD5 of all of it as 32 hexadecimal
// digits: a record that does not add up stands for nothing.
#pragma once

// A remembered file's flags as the record keeps them. A file with Pending
// alone has no MD5 and nothing of the file: only its name is remembered.
enum {
    Placed = 1,   // the launcher downloaded, verified and moved in these bytes itself
    Pending = 2,  // still to fetch: a partial download of it may lie in the game folder
    Stored = Placed | Pending,
};

// One remembered file, in the record and in memory alike; in the record its
// name follows it (nameLen bytes, no NUL), padded to 8 bytes. The layout is
// the file's: no implicit padding, the same in the x86 and x64 builds.
struct Rec {
    unsigned char md5[16];  // all zero with Pending alone
    unsigned flags;
    unsigned nameLen;
    unsigned long long size;
    unsigned long long time;    // last write, FILETIME
    unsigned long long hashed;  // when md5 was worked out, by the record's clock
    unsigned long long index;   // file index on its volume
    unsigned volume;            // volume serial
    unsigned pad;
};

// When every listed file was last hashed, and when the record was written.
struct RecTimes {
    unsigned long long full, saved;
};

// Reads the record at path, kept for the game folder dir: head is told its
// times, then take each remembered file (its name, len bytes, not checked;
// take returns 0 for one that is no record of ours). 1 when the whole record
// reads well, with *count its files when it is of this launcher's version
// and ~0u when it is of the version before (at most 256 files, names and MD5s
// as text), which is to be replaced; 0 otherwise, and nothing take was given
// stands.
int ReadRecordFile(const wchar_t *path, const wchar_t *dir, void (*head)(const RecTimes *t),
                   int (*take)(const char *name, int len, const Rec *r), unsigned *count);

// Writes the record at path for the game folder dir, with the times t and
// the count files that next hands out one by one (into *r, with the name as
// its result): a temporary file beside it, flushed to the disk when durable,
// then moved over it. Fails quietly.
void WriteRecordFile(const wchar_t *path, const wchar_t *dir, const RecTimes *t, unsigned count,
                     const char *(*next)(Rec *r), int durable);
