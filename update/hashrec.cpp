#include "update/hashrec.h"

#include <windows.h>

#include <shlobj.h>
#include <string.h>

#include "app/state.h"
#include "update/md5.h"
#include "update/names.h"
#include "update/partial.h"
#include "update/place.h"
#include "update/survey.h"
#include "update/tables.h"

unsigned long long (*RecordClock)();

// FILETIME counts 100 ns.
static const unsigned long long Second = 10000000ull;
// A file written this close before its MD5 was worked out may have been
// written again within the same tick of its last-write time (2 s on FAT, 10 ms
// on exFAT), unseen: it is hashed again.
static const unsigned long long Settle = 5 * Second;
static const unsigned long long Week = 7 * 24 * 3600 * Second;

enum { Version = 3, OldVersion = 2, SumLen = 32 };
static const char Magic[] = "VLMREC\r\n";

// What a remembered file's flags say. An entry with Pending alone has no MD5
// and nothing of the file: only its name is remembered.
enum {
    Placed = 1,   // the launcher downloaded, verified and moved in these bytes itself
    Pending = 2,  // still to fetch: a partial download of it may lie in the game folder
    Stored = Placed | Pending,
    // In memory only:
    Known = 4,    // md5 and the file's facts are what an earlier run found
    Kept = 8,     // this run's record holds it
    Noted = 16,   // the last record had it Pending
};

struct Head {
    char magic[8];
    unsigned version;
    unsigned count;
    unsigned long long full;   // when every listed file was last hashed
    unsigned long long saved;  // when this record was written
    wchar_t dir[PathLen];      // the game folder it describes
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

enum { OldMax = 256 };  // the old record's capacity

static ManifestEntry *E;
static int N;
static Rec *Out;               // one per entry: what the last record said, then what this run found
static Facts *Now_;            // one per entry: the file as it is now, from the survey
static char **Strays;          // names the last record noted as still to fetch that no entry lists
static unsigned StrayN, StrayKept;  // ... and how many of them stay noted (the first ones)
static unsigned long long Full_;    // when every file was last hashed, from the last record
static int Full;               // this run hashes every file
static int Placing;            // this run placed a file: its record goes to the disk
static unsigned Loaded;        // remembered files of the last record, when it was read whole in this version
static LONG Same;              // listed files found just as the last record remembers them
static int Hint;               // the entry after the last one the record named
static wchar_t Path[PathLen];  // this run's record; empty: none
static char Buf[65536];        // the record passes through it, read or written

static unsigned long long Now() {
    if (RecordClock) return RecordClock();
    FILETIME t;
    GetSystemTimeAsFileTime(&t);
    return (unsigned long long)t.dwHighDateTime << 32 | t.dwLowDateTime;
}

// ---- Where it lives ---------------------------------------------------------------

static int StorePath(const wchar_t *dir, const wchar_t *ext, wchar_t *out, int cap) {
    wchar_t base[MAX_PATH], up[PathLen];
    char name[SumLen + 1];
    int n = lstrlenW(dir);
    if (cap > 0) out[0] = 0;
    // Paths differing only in letter case name one folder.
    if (n >= PathLen || SHGetFolderPathW(0, CSIDL_LOCAL_APPDATA, 0, SHGFP_TYPE_CURRENT, base) != S_OK)
        return 0;
    lstrcpyW(up, dir);
    CharUpperBuffW(up, n);
    if (!DataMd5(up, n * sizeof(wchar_t), name)) return 0;
    // Two backslashes, the digits, the extension, and a temporary name's ".new".
    if (lstrlenW(base) + lstrlenW(APP_TITLE) + 2 + SumLen + lstrlenW(ext) + 4 >= cap) return 0;
    return wsprintfW(out, L"%s\\%s\\%S%s", base, APP_TITLE, name, ext);
}

int RecordPath(const wchar_t *dir, wchar_t *out, int cap) { return StorePath(dir, L".rec", out, cap); }
int KeptPath(const wchar_t *dir, wchar_t *out, int cap) { return StorePath(dir, L".lista", out, cap); }

// ---- Reading the last record ---------------------------------------------------------

static int Hex(char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// 32 hexadecimal digits, either case, as 16 bytes; 0 for anything else.
static int Raw(const char *md5, unsigned char out[16]) {
    for (int i = 0; i < 16; i++) {
        int a = Hex(md5[2 * i]), b = a < 0 ? -1 : Hex(md5[2 * i + 1]);
        if (b < 0) return 0;
        out[i] = (unsigned char)(a << 4 | b);
    }
    return md5[32] == 0;
}

// Whether md5 is what text says in 32 hexadecimal digits, either case.
static int SameMd5(const unsigned char md5[16], const char *text) {
    static const char digits[] = "0123456789abcdef";
    for (int i = 0; i < 16; i++) {
        char a = text[2 * i], b = text[2 * i + 1];
        if (a >= 'A' && a <= 'F') a = (char)(a + 32);
        if (b >= 'A' && b <= 'F') b = (char)(b + 32);
        if (a != digits[md5[i] >> 4] || b != digits[md5[i] & 15]) return 0;
    }
    return !text[32];
}

static int Zero(const unsigned char *p, int n) {
    while (n--)
        if (*p++) return 0;
    return 1;
}

// Takes one remembered file of the last record: what it says of a listed
// file (when the run trusts the record's MD5s), or the name of a file it
// noted as still to fetch that no entry lists any more. 0 when it is no
// record of ours (the whole record is then dropped).
// Whether the entry's name is the record's (len bytes), "/" and "\" alike.
static int SameName(const char *entry, const char *name, int len) {
    for (int k = 0; k < len; k++)
        if (!entry[k] || (entry[k] != name[k] && !((entry[k] == '/' || entry[k] == '\\') && (name[k] == '/' || name[k] == '\\'))))
            return 0;
    return !entry[len];
}

static int Apply(const char *name, int len, const Rec *r) {
    char n[EntryNameLen];
    if (len < 1 || len >= EntryNameLen || (r->flags & ~Stored) || (Zero(r->md5, 16) && r->flags != Pending)) return 0;
    // The record keeps the manifest's order: a name is mostly the entry after
    // the last one's, a name the manifest's own check has passed already.
    int i = Hint < N && !(E[Hint].flags & EntryAgain) && SameName(E[Hint].name, name, len) ? Hint : -2;
    if (i == -2) {
        if (memchr(name, 0, (size_t)len)) return 0;
        memcpy(n, name, (size_t)len);
        n[len] = 0;
        if (NameFaultOf(n)) return 0;
        i = EntryNamed(n, len);
    }
    if (i >= 0) {
        Hint = i + 1;
        if (!Full && !Zero(r->md5, 16)) {
            Out[i] = *r;
            Out[i].flags = (r->flags & Placed) | Known | (r->flags & Pending ? Noted : 0);
        }
    } else if (r->flags & Pending) {
        char *copy = (char *)Take((size_t)len + 1);
        if (!copy) return 0;
        memcpy(copy, n, (size_t)len + 1);
        Strays[StrayN++] = copy;
    }
    return 1;
}

// The record of the launcher before this one: its header h read already, at
// most 256 files of 280 bytes, then the MD5 of both as text.
static int ReadOld(HANDLE f, const Head *h, DWORD size) {
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
        if (o->md5[0] && !Raw(o->md5, r.md5)) return 0;
        r.flags = o->flags;
        r.size = o->size;
        r.time = o->time;
        r.hashed = o->hashed;
        r.index = o->index;
        r.volume = o->volume;
        if (!Apply(o->name, lstrlenA(o->name), &r)) return 0;
    }
    return 1;
}

// The record of this launcher: streamed through Buf, each file applied as it
// comes, each piece added to the sum as it is read; the sum at the end
// decides whether any of it stands.
static int ReadNew(HANDLE f, const Head *h, DWORD size) {
    if (size < sizeof(Head) + SumLen) return 0;
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
        ok = Apply(Buf + at + sizeof r, (int)r.nameLen, &r);
        at += len;
        done += len;
    }
    char sum[SumLen + 1], got[SumLen + 1];
    if (!Md5End(&s, ok, got) || done != end) return 0;
    return SetFilePointer(f, (LONG)end, 0, FILE_BEGIN) == end && ReadFile(f, sum, SumLen, &n, 0) && n == SumLen &&
           !memcmp(sum, got, SumLen);
}

// Reads the record at Path into Out and Strays; 0 when it does not read well
// whole.
static int ReadRecord() {
    HANDLE f = CreateFileW(Path, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, 0);
    if (f == INVALID_HANDLE_VALUE) return 0;
    Head h;
    DWORD got = 0, size = GetFileSize(f, 0);
    int ok = ReadFile(f, &h, sizeof h, &got, 0) && got == sizeof h && !memcmp(h.magic, Magic, sizeof h.magic) &&
             !h.dir[PathLen - 1] && !lstrcmpiW(h.dir, Dir);
    // Last-write times are only comparable with the record's times on a clock
    // that has not gone back since: one that did counts as a week on.
    unsigned long long now = Now();
    if (ok) {
        Full = now < h.saved || now - h.full >= Week;
        Full_ = h.full;
        ok = h.version == Version ? h.count <= (unsigned)EntryMax + EntryMax && ReadNew(f, &h, size)
             : h.version == OldVersion ? ReadOld(f, &h, size) : 0;
        if (ok && h.version == Version) Loaded = h.count;
    }
    CloseHandle(f);
    return ok;
}

void LoadRecord(ManifestEntry *e, int n, int lanes) {
    E = e;
    N = 0;
    Out = 0;
    StrayN = StrayKept = 0;
    Full = 1;
    Placing = 0;
    Loaded = ~0u;
    Same = 0;
    Hint = 0;
    Path[0] = 0;
    Out = (Rec *)Take((size_t)n * sizeof(Rec));
    Now_ = (Facts *)Take((size_t)n * sizeof(Facts));
    Strays = (char **)Take((size_t)EntryMax * sizeof(char *));
    if (!Out || !Now_ || !Strays || !IndexNames(e, n)) {
        Out = 0;
        return;
    }
    N = n;
    // The folders are listed while the record is read.
    SurveyStart(Now_, lanes);
    if (RecordPath(Dir, Path, PathLen) && !ReadRecord()) {
        // Nothing of a record that does not read well whole stands.
        memset(Out, 0, (size_t)n * sizeof(Rec));
        StrayN = 0;
        Full = 1;
        Loaded = ~0u;
    }
    SurveyEnd();
}

// ---- The run's record ----------------------------------------------------------------

// Whether the remembered MD5 of k stands for the file as it is now.
static int Trusts(const Rec *k, const Facts *now) {
    return (k->flags & Known) && k->size == now->size && k->time == now->time && k->index == now->index &&
           k->volume == now->volume && ((k->flags & Placed) || now->time + Settle < k->hashed);
}

int Vouched(int i) {
    if (!Out || Now_[i].state != FactsThere || Now_[i].partial) return 0;
    Rec *k = &Out[i];
    if (!Trusts(k, &Now_[i]) || !SameMd5(k->md5, E[i].md5)) return 0;
    // Remembered just as before, and not to fetch: no news for the record.
    if (!(k->flags & Noted)) Same++;
    k->flags = (k->flags & Placed) | Known | Kept;
    return 1;
}

int CheckFile(int i, const wchar_t *path) {
    unsigned char want[16], got[16];
    int valid = Raw(E[i].md5, want);
    Facts now = Out ? Now_[i] : Facts();
    if (now.state == FactsGone) return 0;
    // What cannot be looked at is hashed as ever, and not remembered.
    if (!Out || (now.state != FactsThere && !Look(path, &now))) return Md5Matches(path, E[i].md5);
    Rec *k = &Out[i];
    Rec r = {};
    int same = 0;
    if (Trusts(k, &now)) {
        memcpy(got, k->md5, 16);
        r.flags = k->flags & Placed;
        r.hashed = k->hashed;
        same = !(k->flags & Noted);
    } else {
        char text[Md5Len];
        // Taken before the first byte is read: a write while the file is
        // read comes after it.
        r.hashed = Now();
        if (!FileMd5(path, text) || !Raw(text, got)) return 0;
    }
    memcpy(r.md5, got, 16);
    r.flags |= Known | Kept;
    r.size = now.size;
    r.time = now.time;
    r.index = now.index;
    r.volume = now.volume;
    *k = r;
    int ok = valid && !memcmp(got, want, 16);
    if (same && ok) InterlockedIncrement(&Same);
    return ok;
}

void Remember(int i, const wchar_t *path) {
    Facts now;
    Rec r = {};
    // Its last write was the launcher's own, through a handle it shared with
    // nobody, and its MD5 was read back right after: no other write can hide
    // in that tick, so it is trusted as of its verification, without waiting
    // out the few seconds a file found in the folder must be older than its MD5.
    if (!Out || !Raw(E[i].md5, r.md5) || !Look(path, &now)) return;
    r.flags = Placed | Known | Kept;
    r.size = now.size;
    r.time = now.time;
    r.index = now.index;
    r.volume = now.volume;
    r.hashed = Now();
    Out[i] = r;
    Placing = 1;
}

int PartialBeside(int i) { return !Out || Now_[i].state == FactsUnknown || Now_[i].partial; }

void NotePending(int i) {
    if (Out) Out[i].flags |= Pending | Kept;
}

void DropStrayPartials() {
    // The strays that stay noted are moved to the front.
    for (unsigned i = 0; i < StrayN; i++) {
        wchar_t path[PathLen], temp[PathLen];
        if (!LocalPath(Dir, Strays[i], path, PathLen) || !Join(temp, PathLen, path, L".novo")) continue;
        // What cannot be deleted now is looked at again by the next run.
        if (!DropStray(temp)) Strays[StrayKept++] = Strays[i];
    }
}

// ---- Writing ---------------------------------------------------------------------------

static HANDLE To;
static DWORD Filled;
static Md5Sum Sum;
static int Good;

static void Put(const void *p, DWORD n) {
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

// A remembered file and its name, into the record and its sum.
static void PutRec(const Rec *k, const char *name) {
    Rec r = *k;
    r.flags &= Stored;
    r.nameLen = (unsigned)lstrlenA(name);
    r.pad = 0;
    static const char zeros[8] = {};
    DWORD pad = ((r.nameLen + 7) & ~7u) - r.nameLen;
    Good = Good && Md5Add(&Sum, &r, sizeof r) && Md5Add(&Sum, name, r.nameLen) && Md5Add(&Sum, zeros, pad);
    Put(&r, sizeof r);
    Put(name, r.nameLen);
    Put(zeros, pad);
}

void SaveRecord() {
    wchar_t temp[PathLen], folder[PathLen];
    if (!Path[0] || !Out) return;
    wsprintfW(temp, L"%s.new", Path);
    lstrcpyW(folder, Path);
    *wcsrchr(folder, L'\\') = 0;
    CreateDirectoryW(folder, 0);

    Head h = {};
    unsigned long long now = Now();
    memcpy(h.magic, Magic, sizeof h.magic);
    h.version = Version;
    h.full = Full ? now : Full_;
    h.saved = now;
    lstrcpynW(h.dir, Dir, PathLen);
    for (int i = 0; i < N; i++) h.count += (Out[i].flags & Kept) != 0;
    // A record that would say what the one on the disk says is not written
    // again: a start that found every file as remembered writes nothing.
    if (!Full && !Placing && StrayKept == StrayN && h.count == (unsigned)Same && Loaded == h.count + StrayN) return;
    h.count += StrayKept;

    To = CreateFileW(temp, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN, 0);
    if (To == INVALID_HANDLE_VALUE) return;
    Filled = 0;
    Good = Md5Begin(&Sum) && Md5Add(&Sum, &h, sizeof h);
    Put(&h, sizeof h);
    for (int i = 0; i < N; i++)
        if (Out[i].flags & Kept) PutRec(&Out[i], E[i].name);
    Rec pending = {};
    pending.flags = Pending;
    for (unsigned i = 0; i < StrayKept; i++) PutRec(&pending, Strays[i]);
    char sum[SumLen + 1];
    DWORD w;
    int ok = Md5End(&Sum, Good, sum);
    Put(sum, SumLen);
    ok = ok && Good && (!Filled || (WriteFile(To, Buf, Filled, &w, 0) && w == Filled));
    // A record that trusts files placed in this run goes to the disk before
    // it replaces the one before; one of files only checked need not: lost,
    // it costs one start that hashes every file.
    if (ok && Placing && Durable) FlushFileBuffers(To);
    CloseHandle(To);
    if (!ok || !MoveFileExW(temp, Path, MOVEFILE_REPLACE_EXISTING)) DeleteFileW(temp);
}
