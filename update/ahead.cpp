#include "update/ahead.h"

#include <string.h>

#include "app/state.h"
#include "net/utf8.h"
#include "update/kept.h"
#include "update/manifest.h"
#include "update/names.h"
#include "update/survey.h"
#include "update/tables.h"

enum : size_t {
    // The folders' names, and what their listings hold: 100,000 files in
    // 1,000 folders take about 6 MiB. A folder that does not fit is listed
    // by the survey itself, and so are those its lister would have listed
    // after it.
    NamesMax = (size_t)4 << 20,
    RoomMax = (size_t)12 << 20,
    SeenSlots = 1 << 18,  // more than twice the folders a manifest can name
};

// The folders to list, in the kept manifest's order: at HintAt[h] in Hints,
// a count of units, then the units.
static char *Hints;
static size_t HintsUsed;
static int *HintAt;
static int *Seen;  // open addressing over them: h + 1, 0 = free
// How many there are so far: the listers start with the scan, and wait on
// Came (under Gate) for the scan to name the folder they took.
static volatile LONG HintN;
static SRWLOCK Gate = SRWLOCK_INIT;
static CONDITION_VARIABLE Came = CONDITION_VARIABLE_INIT;

// A folder's listing in Room: this, then its names (AheadName). Two threads
// list, each into its half of Room: one lists while Wine holds the other
// back (its listings take turns), and the time between them is shared.
struct Block {
    DWORD serial;
    int got, count, hint;
};
enum { Listers = 2 };
static unsigned char *Room;
static size_t RoomUsed[Listers];
static volatile LONG *BlockAt;  // folder h's place in Room + 1, once listed
static volatile LONG Next;      // the next folder to list

static volatile LONG Scanned, Stop;
static volatile LONG Over;  // 0 while the thread runs, 1 once it ended, 2 when it never ran
static HANDLE Thread, Wake, Src;
static unsigned SrcSize;

static const wchar_t *HintName(int h, int *len) {
    unsigned short *p = (unsigned short *)(Hints + HintAt[h]);
    *len = *p;
    return (const wchar_t *)(p + 1);
}

// ---- The folders the kept manifest names --------------------------------------------

// Adds the folder part (f bytes of UTF-8) of a name to the folders to list,
// unless it is there already or could lead out of the game folder.
static void AddFolder(const char *name, int f) {
    char u[EntryNameLen];
    wchar_t w[EntryNameLen];
    int n = 0;
    memcpy(u, name, (size_t)f);
    u[f] = 0;
    if (f && (NameFaultOf(u) || !Utf8To16(u, w, EntryNameLen))) return;
    if (f) n = lstrlenW(w);
    for (int k = 0; k < n; k++)
        if (w[k] == L'/') w[k] = L'\\';
    unsigned s = 2166136261u;
    for (int k = 0; k < n; k++) s = (s ^ w[k]) * 16777619u;
    for (s &= SeenSlots - 1; Seen[s]; s = (s + 1) & (SeenSlots - 1)) {
        int len;
        const wchar_t *o = HintName(Seen[s] - 1, &len);
        if (len == n && !memcmp(o, w, (size_t)n * sizeof(wchar_t))) return;
    }
    size_t need = (sizeof(unsigned short) + (size_t)n * sizeof(wchar_t) + 1) & ~(size_t)1;
    if (HintN >= EntryMax || HintsUsed + need > NamesMax) return;
    unsigned short *p = (unsigned short *)(Hints + HintsUsed);
    *p = (unsigned short)n;
    memcpy(p + 1, w, (size_t)n * sizeof(wchar_t));
    HintAt[HintN] = (int)HintsUsed;
    HintsUsed += need;
    Seen[s] = HintN + 1;
    AcquireSRWLockExclusive(&Gate);
    HintN++;
    ReleaseSRWLockExclusive(&Gate);
    WakeAllConditionVariable(&Came);
}

// Waits until the scan has named folder h: 0 when it ended without, or the
// look ahead stops.
static int Hinted(int h) {
    AcquireSRWLockExclusive(&Gate);
    while (h >= HintN && !Scanned && !Stop) SleepConditionVariableSRW(&Came, &Gate, INFINITE, 0);
    int ok = h < HintN && !Stop;
    ReleaseSRWLockExclusive(&Gate);
    return ok;
}

// Tells the listers that the scan is over, or that they are to stop.
static void Tell(volatile LONG *what) {
    AcquireSRWLockExclusive(&Gate);
    *what = 1;
    ReleaseSRWLockExclusive(&Gate);
    WakeAllConditionVariable(&Came);
}

// Reads the kept manifest's names piece by piece; most lines name the
// folder of the line before.
static void Scan() {
    static char buf[1 << 16];
    char last[EntryNameLen];
    int lastLen = -1, first = 1;
    DWORD have = 0;
    for (unsigned left = SrcSize;;) {
        DWORD n = 0, want = sizeof buf - have < left ? sizeof buf - have : left;
        if (want && (!ReadFile(Src, buf + have, want, &n, 0) || n != want)) break;
        have += n;
        left -= n;
        char *p = buf, *end = buf + have;
        if (first && have >= 3 && !memcmp(p, "\xEF\xBB\xBF", 3)) p += 3;
        first = 0;
        for (;;) {
            char *lf = (char *)memchr(p, '\n', (size_t)(end - p));
            if (!lf && left) break;  // the rest of the line comes with the next piece
            char *stop = lf ? lf : end, *bar = (char *)memchr(p, '|', (size_t)(stop - p));
            if (bar && bar - p < EntryNameLen) {
                int f = (int)(bar - p);
                while (f > 0 && p[f - 1] != '/' && p[f - 1] != '\\') f--;
                f = f > 0 ? f - 1 : 0;
                if (f != lastLen || memcmp(last, p, (size_t)f)) {
                    memcpy(last, p, (size_t)f);
                    lastLen = f;
                    AddFolder(p, f);
                }
            }
            p = lf ? lf + 1 : end;
            if (!lf) break;
        }
        have = (DWORD)(end - p);
        if (!left || have == sizeof buf) break;  // a line longer than a piece is no manifest's
        memmove(buf, p, have);
    }
    CloseHandle(Src);
    Src = INVALID_HANDLE_VALUE;
}

// ---- Listing them -----------------------------------------------------------------------

struct Filling {
    Block *block;
    size_t *used, end;  // the lister's part of Room
    int full;           // a name did not fit in it
};

static void Keep(void *ctx, const FILE_ID_BOTH_DIR_INFO *r) {
    Filling *f = (Filling *)ctx;
    DWORD len = r->FileNameLength / sizeof(wchar_t);
    size_t need = sizeof(AheadName) + ((len * sizeof(wchar_t) + 7) & ~(size_t)7);
    if (f->full || len > 0xFFFF || *f->used + need > f->end) {
        f->full = 1;
        return;
    }
    AheadName *a = (AheadName *)(Room + *f->used);
    a->size = (unsigned long long)r->EndOfFile.QuadPart;
    a->time = (unsigned long long)r->LastWriteTime.QuadPart;
    a->index = (unsigned long long)r->FileId.QuadPart;
    a->attributes = r->FileAttributes;
    a->len = (unsigned short)len;
    memcpy(a + 1, r->FileName, len * sizeof(wchar_t));
    *f->used += need;
    f->block->count++;
}

static DWORD WINAPI ListHints(void *arg) {
    int t = (int)(INT_PTR)arg;
    static unsigned long long lists[Listers][8192];
    unsigned long long *list = lists[t];
    size_t *used = &RoomUsed[t], end = RoomMax / Listers * (size_t)(t + 1);
    *used = RoomMax / Listers * (size_t)t;
    Lookout look = {};
    for (int h; !Stop && *used + sizeof(Block) <= end && Hinted(h = InterlockedIncrement(&Next) - 1);) {
        Block *b = (Block *)(Room + *used);
        size_t at = *used;
        *used += sizeof(Block);
        b->hint = h;
        b->count = 0;
        int len;
        const wchar_t *w = HintName(h, &len);
        Filling fill = {b, used, end, 0};
        b->got = ListInto(w, len, list, sizeof lists[0], Keep, &fill, &b->serial, &look);
        if (fill.full) b->got = 0;
        InterlockedExchange(&BlockAt[h], (LONG)at + 1);
        SetEvent(Wake);
        if (fill.full) break;
    }
    return 0;
}

static DWORD WINAPI Ahead(void *) {
    HANDLE other = CreateThread(0, 0, ListHints, (void *)(INT_PTR)1, 0, 0);
    Scan();
    Tell(&Scanned);
    SetEvent(Wake);
    ListHints(0);
    if (other) WaitForSingleObject(other, INFINITE);
    if (other) CloseHandle(other);
    InterlockedExchange(&Over, 1);
    SetEvent(Wake);
    return 0;
}

void AheadStart() {
    Over = 2;
    Scanned = 0;
    Stop = 0;
    Next = 0;
    HintN = 0;
    HintsUsed = 0;
    Src = KeptBytes(&SrcSize);
    if (Src == INVALID_HANDLE_VALUE) return;
    Hints = (char *)Take(NamesMax);
    HintAt = (int *)Take(EntryMax * sizeof(int));
    Seen = (int *)Take(SeenSlots * sizeof(int));
    Room = (unsigned char *)Take(RoomMax);
    BlockAt = (volatile LONG *)Take(EntryMax * sizeof(LONG));
    if (Hints && HintAt && Seen && Room && BlockAt && (Wake = CreateEventW(0, FALSE, FALSE, 0))) {
        Over = 0;
        if ((Thread = CreateThread(0, 0, Ahead, 0, 0, 0))) return;
        Over = 2;
    }
    if (Wake) CloseHandle(Wake);
    Wake = 0;
    CloseHandle(Src);
    Src = INVALID_HANDLE_VALUE;
}

int AheadFolderAt(int k, AheadFolder *f) {
    if (k >= EntryMax || Over == 2) return 0;  // Over == 2: it never ran
    while (!BlockAt[k]) {
        if (Over || (Scanned && k >= HintN)) return 0;
        WaitForSingleObject(Wake, INFINITE);
    }
    const Block *b = (const Block *)(Room + BlockAt[k] - 1);
    f->name = HintName(b->hint, &f->len);
    f->got = b->got;
    f->serial = b->serial;
    f->first = (const AheadName *)(b + 1);
    f->count = b->count;
    return 1;
}

const AheadName *AheadNext(const AheadName *n) {
    return (const AheadName *)((const unsigned char *)(n + 1) + (((size_t)n->len * sizeof(wchar_t) + 7) & ~(size_t)7));
}

void AheadStop() {
    if (!Thread) return;
    Tell(&Stop);
    WaitForSingleObject(Thread, INFINITE);
    CloseHandle(Thread);
    CloseHandle(Wake);
    Thread = Wake = 0;
}
