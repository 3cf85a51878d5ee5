#include "update/recfile.h"

#include <windows.h>

#include <string.h>

#include "app/state.h"
#include "update/chunkmap.h"
#include "update/manifest.h"
#include "update/md5.h"

enum { Version = 3, OldVersion = 2, SumLen = 32, OldMax = 256 };
static const char Magic[] = "VLMREC\r\n";

struct Head {
    char magic[8];
    unsigned version;
    unsigned count;
    unsigned long long full;   // when every listed file was last hashed
    unsigned long long saved;  // when this record was written
    wchar_t dir[PathLen];      // the game folder it describes
};

// A remembered file in the record before this one: name and MD5 as text.
struct OldRec {
    char name[EntryNameLen];
    char md5[Md5Len];
    char pad[3];
    unsigned flags;
    unsigned long long size, time, hashed, index;
    unsigned volume, pad2;
};

static_assert(sizeof(Rec) == 64 && sizeof(OldRec) == 280 && sizeof(Head) == 552, "the record's layout is fixed");

static char Buf[65536];  // the record passes through it, read or written

// ---- Reading ---------------------------------------------------------------------------

// The record of the launcher before this one: its header h read already, at
// most 256 files of 280 bytes, then the MD5 of both as text.
static int ReadOld(HANDLE f, const Head *h, DWORD size, int (*take)(const char *, int, const Rec *)) {
    static OldRec old[OldMax];
    DWORD body = (DWORD)(h->count * sizeof(OldRec)), n = 0;
    char sum[SumLen + 1], got[SumLen + 1];
    Md5Sum s;
    if (h->count > OldMax || size != sizeof(Head) + body + SumLen || !ReadFile(f, old, body, &n, 0) || n != body ||
        !ReadFile(f, sum, SumLen, &n, 0) || n != SumLen)
        return 0;
    int ok = Md5Begin(&s) && Md5Add(&s, h, sizeof *h) && Md5Add(&s, old, body);
    if (!Md5End(&s, ok, got) || memcmp(got, sum, SumLen)) return 0;
    for (unsigned i = 0; i < h->count; i++) {
        Rec r = {};
        const OldRec *o = &old[i];
        if (!memchr(o->name, 0, EntryNameLen) || !memchr(o->md5, 0, Md5Len)) return 0;
        if (o->md5[0] && !Md5Bytes(o->md5, r.md5)) return 0;
        r.flags = o->flags;
        r.size = o->size;
        r.time = o->time;
        r.hashed = o->hashed;
        r.index = o->index;
        r.volume = o->volume;
        if (!take(o->name, lstrlenA(o->name), &r)) return 0;
    }
    return 1;
}

// The record of this launcher: streamed through Buf, each file taken as it
// comes, each piece added to the sum as it is read; the sum at the end
// decides whether any of it stands.
static int ReadNew(HANDLE f, const Head *h, DWORD size, int (*take)(const char *, int, const Rec *)) {
    if (size < sizeof(Head) + SumLen || h->count > (unsigned)EntryMax + EntryMax) return 0;
    DWORD end = size - SumLen;  // where the records end and the sum starts
    DWORD have = 0, at = 0, done = sizeof(Head), n;
    Md5Sum s;
    int ok = Md5Begin(&s) && Md5Add(&s, h, sizeof *h);
    for (unsigned i = 0; ok && i < h->count; i++) {
        // Room for a record with the longest name from at, when the file has it.
        if (have - at < sizeof(Rec) + EntryNameLen + 8) {
            memmove(Buf, Buf + at, have - at);
            have -= at;
            at = 0;
            DWORD rest = end - done - have, want = rest < sizeof Buf - have ? rest : sizeof Buf - have;
            if (want && (!ReadFile(f, Buf + have, want, &n, 0) || n != want || !Md5Add(&s, Buf + have, want))) ok = 0;
            else have += want;
        }
        Rec r;
        if (!ok || have - at < sizeof r) {
            ok = 0;
            break;
        }
        memcpy(&r, Buf + at, sizeof r);
        DWORD len = sizeof r + ((r.nameLen + 7) & ~7u);
        if (r.nameLen >= EntryNameLen || have - at < len) {
            ok = 0;
            break;
        }
        ok = take(Buf + at + sizeof r, (int)r.nameLen, &r);
        at += len;
        done += len;
    }
    char sum[SumLen + 1], got[SumLen + 1];
    if (!Md5End(&s, ok, got) || done != end) return 0;
    return SetFilePointer(f, (LONG)end, 0, FILE_BEGIN) == end && ReadFile(f, sum, SumLen, &n, 0) && n == SumLen &&
           !memcmp(sum, got, SumLen);
}

int ReadRecordFile(const wchar_t *path, const wchar_t *dir, void (*head)(const RecTimes *t),
                   int (*take)(const char *name, int len, const Rec *r), unsigned *count) {
    HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, 0);
    if (f == INVALID_HANDLE_VALUE) return 0;
    Head h;
    DWORD got = 0, size = GetFileSize(f, 0);
    int ok = ReadFile(f, &h, sizeof h, &got, 0) && got == sizeof h && !memcmp(h.magic, Magic, sizeof h.magic) &&
             !h.dir[PathLen - 1] && !lstrcmpiW(h.dir, dir);
    if (ok) {
        RecTimes t = {h.full, h.saved};
        head(&t);
        ok = h.version == Version ? ReadNew(f, &h, size, take) : h.version == OldVersion && ReadOld(f, &h, size, take);
        *count = h.version == Version ? h.count : ~0u;
    }
    CloseHandle(f);
    return ok;
}

// ---- Writing ---------------------------------------------------------------------------

static HANDLE To;
static DWORD Filled;
static Md5Sum Sum;
static int Good;

// Bytes into the record, through Buf.
static void Write(const void *p, DWORD n) {
    for (const char *c = (const char *)p; Good && n;) {
        DWORD k = n < sizeof Buf - Filled ? n : sizeof Buf - Filled;
        memcpy(Buf + Filled, c, k);
        Filled += k;
        c += k;
        n -= k;
        DWORD w;
        if (Filled == sizeof Buf) Good = WriteFile(To, Buf, Filled, &w, 0) && w == Filled;
        if (Filled == sizeof Buf) Filled = 0;
    }
}

// Bytes into the record and its sum.
static void Put(const void *p, DWORD n) {
    Good = Good && Md5Add(&Sum, p, n);
    Write(p, n);
}

void WriteRecordFile(const wchar_t *path, const wchar_t *dir, const RecTimes *t, unsigned count,
                     const char *(*next)(Rec *r), int durable) {
    wchar_t temp[PathLen], folder[PathLen];
    wsprintfW(temp, L"%s.new", path);
    lstrcpyW(folder, path);
    *wcsrchr(folder, L'\\') = 0;
    CreateDirectoryW(folder, 0);

    Head h = {};
    memcpy(h.magic, Magic, sizeof h.magic);
    h.version = Version;
    h.count = count;
    h.full = t->full;
    h.saved = t->saved;
    lstrcpynW(h.dir, dir, PathLen);
    To = CreateFileW(temp, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN, 0);
    if (To == INVALID_HANDLE_VALUE) return;
    Filled = 0;
    Good = Md5Begin(&Sum);
    Put(&h, sizeof h);
    Rec r;
    for (const char *name; (name = next(&r));) {
        static const char zeros[8] = {};
        r.flags &= Stored;
        r.nameLen = (unsigned)lstrlenA(name);
        r.pad = 0;
        Put(&r, sizeof r);
        Put(name, r.nameLen);
        Put(zeros, ((r.nameLen + 7) & ~7u) - r.nameLen);
    }
    char sum[SumLen + 1];
    DWORD w;
    Good = Md5End(&Sum, Good, sum);
    Write(sum, SumLen);
    int ok = Good && (!Filled || (WriteFile(To, Buf, Filled, &w, 0) && w == Filled));
    // A record that trusts files placed in this run goes to the disk before
    // it replaces the one before; one of files only checked need not: lost,
    // it costs one start that hashes every file.
    if (ok && durable) FlushFileBuffers(To);
    CloseHandle(To);
    if (!ok || !MoveFileExW(temp, path, MOVEFILE_REPLACE_EXISTING)) DeleteFileW(temp);
}
