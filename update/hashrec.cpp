#include "update/hashrec.h"

#include <windows.h>

#include <shlobj.h>
#include <string.h>

#include "app/state.h"
#include "update/chunkmap.h"
#include "update/md5.h"
#include "update/names.h"
#include "update/partial.h"
#include "update/place.h"
#include "update/recfile.h"
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

enum { Digits = 32 };  // of the MD5 that names a game folder's files

// What a remembered file's flags say beyond the record's own (update/recfile.h),
// in memory only.
enum {
    Known = 4,   // md5 and the file's facts are what an earlier run found
    Kept = 8,    // this run's record holds it
    Noted = 16,  // the last record had it Pending
};

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

static unsigned long long Now() {
    if (RecordClock) return RecordClock();
    FILETIME t;
    GetSystemTimeAsFileTime(&t);
    return (unsigned long long)t.dwHighDateTime << 32 | t.dwLowDateTime;
}

// ---- Where it lives ---------------------------------------------------------------

static int StorePath(const wchar_t *dir, const wchar_t *ext, wchar_t *out, int cap) {
    wchar_t base[MAX_PATH], up[PathLen];
    char name[Digits + 1];
    int n = lstrlenW(dir);
    if (cap > 0) out[0] = 0;
    // Paths differing only in letter case name one folder.
    if (n >= PathLen || SHGetFolderPathW(0, CSIDL_LOCAL_APPDATA, 0, SHGFP_TYPE_CURRENT, base) != S_OK)
        return 0;
    lstrcpyW(up, dir);
    CharUpperBuffW(up, n);
    if (!DataMd5(up, n * sizeof(wchar_t), name)) return 0;
    // Two backslashes, the digits, the extension, and a temporary name's ".new".
    if (lstrlenW(base) + lstrlenW(APP_TITLE) + 2 + Digits + lstrlenW(ext) + 4 >= cap) return 0;
    return wsprintfW(out, L"%s\\%s\\%S%s", base, APP_TITLE, name, ext);
}

int RecordPath(const wchar_t *dir, wchar_t *out, int cap) { return StorePath(dir, L".rec", out, cap); }
int KeptPath(const wchar_t *dir, wchar_t *out, int cap) { return StorePath(dir, L".lista", out, cap); }

// ---- Reading the last record ---------------------------------------------------------

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

// Whether the entry's name is the record's (len bytes), "/" and "\" alike.
static int SameName(const char *entry, const char *name, int len) {
    for (int k = 0; k < len; k++) {
        int slashes = (entry[k] == '/' || entry[k] == '\\') && (name[k] == '/' || name[k] == '\\');
        if (!entry[k] || (entry[k] != name[k] && !slashes)) return 0;
    }
    return !entry[len];
}

// Takes one remembered file of the last record: what it says of a listed
// file (when the run trusts the record's MD5s), or the name of a file it
// noted as still to fetch that no entry lists any more. 0 when it is no
// record of ours (the whole record is then dropped).
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

// Last-write times are only comparable with the record's times on a clock
// that has not gone back since: one that did counts as a week on.
static void Times(const RecTimes *t) {
    unsigned long long now = Now();
    Full = now < t->saved || now - t->full >= Week;
    Full_ = t->full;
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
    if (RecordPath(Dir, Path, PathLen) && !ReadRecordFile(Path, Dir, Times, Apply, &Loaded)) {
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
    int valid = Md5Bytes(E[i].md5, want);
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
        if (!FileMd5(path, text) || !Md5Bytes(text, got)) return 0;
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
    if (!Out || !Md5Bytes(E[i].md5, r.md5) || !Look(path, &now)) return;
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

static int NextEntry;
static unsigned NextStray;

// The files this run's record holds, one by one: the entries it kept, then
// the strays that stay noted.
static const char *NextRec(Rec *r) {
    while (NextEntry < N && !(Out[NextEntry].flags & Kept)) NextEntry++;
    if (NextEntry < N) {
        *r = Out[NextEntry];
        return E[NextEntry++].name;
    }
    if (NextStray >= StrayKept) return 0;
    *r = Rec();
    r->flags = Pending;
    return Strays[NextStray++];
}

void SaveRecord() {
    if (!Path[0] || !Out) return;
    unsigned count = 0;
    for (int i = 0; i < N; i++) count += (Out[i].flags & Kept) != 0;
    // A record that would say what the one on the disk says is not written
    // again: a start that found every file as remembered writes nothing.
    if (!Full && !Placing && StrayKept == StrayN && count == (unsigned)Same && Loaded == count + StrayN) return;
    unsigned long long now = Now();
    RecTimes t = {Full ? now : Full_, now};
    NextEntry = 0;
    NextStray = 0;
    WriteRecordFile(Path, Dir, &t, count + StrayKept, NextRec, Placing && Durable);
}
