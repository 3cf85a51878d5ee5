#include "update/delta.h"

#include <windows.h>

#include <bcrypt.h>
#include <string.h>

#include <algorithm>

#include "app/state.h"
#include "net/http.h"
#include "net/retry.h"
#include "update/chunker.h"
#include "update/download.h"
#include "update/md5.h"
#include "update/partial.h"
#include "update/place.h"
#include "update/lanes.h"

// ---- The run's tables -----------------------------------------------------------

static void *Block;          // everything below, one allocation
static uint32_t Cap;         // chunks the tables hold
static unsigned char *Raw;   // the map as fetched, MapHeadLen + Cap records (+1 for a NUL)
static uint64_t *Start;      // offset of each chunk in the new file
static uint64_t *From;       // where the local file holds it, HeldNowhere when not
static uint32_t *Order;      // the chunks sorted by MD5
static unsigned char *Lens;  // one bit per chunk length the map has
static unsigned char *Scan;  // 2 x ScanLen bytes for reading the local file
static MapView Map;
static int HaveMap;

uint64_t DeltaSplit = 64 << 20;

static size_t RawLen(uint32_t cap) { return MapHeadLen + (size_t)cap * MapRecLen + 1; }

int DeltaReserve(uint64_t largest) {
    DeltaRelease();
    uint64_t chunks = largest / ChunkMin + 1;
    uint32_t cap = chunks > MapChunkMax ? MapChunkMax : (uint32_t)chunks;
    size_t raw = (RawLen(cap) + 7) & ~(size_t)7;
    size_t lens = (ChunkMax + 8) / 8;
    size_t total = raw + (size_t)cap * (8 + 8 + 4) + lens + 2 * ScanLen;
    // Pages are committed as they are first written: a map smaller than the
    // bound uses only the memory it needs.
    Block = VirtualAlloc(0, total, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (!Block) return 0;
    unsigned char *p = (unsigned char *)Block;
    Raw = p;
    Start = (uint64_t *)(p += raw);
    From = (uint64_t *)(p += (size_t)cap * 8);
    Order = (uint32_t *)(p += (size_t)cap * 8);
    Lens = p += (size_t)cap * 4;
    Scan = p + lens;
    Cap = cap;
    return 1;
}

void DeltaRelease() {
    if (Block) VirtualFree(Block, 0, MEM_RELEASE);
    Block = 0;
    Cap = 0;
    HaveMap = 0;
}

// ---- MD5 through CNG ------------------------------------------------------------

enum { HashObjMax = 1024 };

static BCRYPT_ALG_HANDLE Md5Alg;

// MD5 of n bytes into out, with the hash object on the stack; 0 when CNG fails.
static int Md5Raw(const void *data, size_t n, unsigned char out[16]) {
    if (!Md5Alg && BCryptOpenAlgorithmProvider(&Md5Alg, BCRYPT_MD5_ALGORITHM, 0, 0) != 0) {
        Md5Alg = 0;
        return 0;
    }
    UCHAR obj[HashObjMax];
    DWORD objLen = 0, got = 0;
    BCRYPT_HASH_HANDLE h = 0;
    if (BCryptGetProperty(Md5Alg, BCRYPT_OBJECT_LENGTH, (PUCHAR)&objLen, sizeof objLen, &got, 0) != 0 ||
        objLen > HashObjMax || BCryptCreateHash(Md5Alg, &h, obj, objLen, 0, 0, 0) != 0)
        return 0;
    int ok = 1;
    // BCryptHashData takes 32-bit counts.
    for (const UCHAR *p = (const UCHAR *)data; ok && n;) {
        ULONG piece = n > 0x40000000 ? 0x40000000 : (ULONG)n;
        ok = BCryptHashData(h, (PUCHAR)p, piece, 0) == 0;
        p += piece;
        n -= piece;
    }
    ok = ok && BCryptFinishHash(h, out, 16, 0) == 0;
    BCryptDestroyHash(h);
    return ok;
}

// ---- The map -----------------------------------------------------------------------

static int Md5Less(uint32_t a, uint32_t b) { return memcmp(ChunkMd5At(&Map, a), ChunkMd5At(&Map, b), 16) < 0; }

int TakeMap(const unsigned char *map, size_t n, uint64_t size, const char *md5) {
    unsigned char want[16];
    HaveMap = 0;
    if (!Block || n > RawLen(Cap) - 1 || !Md5Bytes(md5, want)) return 0;
    if (map != Raw) memcpy(Raw, map, n);
    // One chunk per ChunkMin bytes is the most the chunker makes: a map with
    // more is no map of ours, and could only cost the player.
    if (ReadMap(Raw, n, &Map, Md5Raw) != MapOk || Map.size != size || memcmp(Map.md5, want, 16) ||
        Map.count > size / ChunkMin + 1)
        return 0;
    memset(Lens, 0, (ChunkMax + 8) / 8);
    uint64_t at = 0;
    for (uint32_t i = 0; i < Map.count; i++) {
        uint32_t len = ChunkLenAt(&Map, i);
        Start[i] = at;
        From[i] = HeldNowhere;
        Order[i] = i;
        Lens[len / 8] |= (unsigned char)(1 << len % 8);
        at += len;
    }
    std::sort(Order, Order + Map.count, Md5Less);
    HaveMap = 1;
    return 1;
}

int MapUrl(wchar_t *url, int cap, const char *md5) {
    wchar_t tail[64];
    lstrcpyW(tail, L"/update/maps/");
    int at = lstrlenW(tail);
    for (int i = 0; i < 32; i++) {
        char c = md5[i];
        if (!c) return 0;
        tail[at++] = (wchar_t)(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    lstrcpyW(tail + at, L".map");
    return Join(url, cap, Site, tail);
}

// ---- The local file ---------------------------------------------------------------
// A large file is read by two threads at once, each hashing its own half: on
// two cores that halves the wait, which hashing bounds. The second starts
// cutting at the middle as if a chunk began there; its cuts fall back in step
// with the ones the first would make within a few chunks, and the first
// reads on past the middle until it makes a cut the second made too. So the
// chunks found are those one reader would find.

enum { CutsMax = 64 };                     // the second reader's first cuts, kept

struct Reader {
    HANDLE f;
    unsigned char *buf;
    uint64_t start;  // where it begins reading
    uint64_t mid;    // the first reader: where the second began (0: alone)
    Reader *other;   // the first reader: the second
    uint64_t cuts[CutsMax];
    int ncuts;       // the second reader: its first cuts, set before ready
    HANDLE ready;    // the second reader: set once cuts holds what it will
    int failed;      // a read or a hash failed
};

static long ReadLocal(void *src, unsigned char *to, size_t n) {
    DWORD got = 0;
    if (!ReadFile((HANDLE)src, to, n > 0x40000000 ? 0x40000000 : (DWORD)n, &got, 0)) return -1;
    return (long)got;
}

// Notes that the local file holds the chunk with this MD5 at offset at: every
// chunk of the map with that MD5 (a new file may repeat one) not found yet.
// Both readers may note the same chunk; either offset holds its bytes.
static void Found(const unsigned char md5[16], uint32_t len, uint64_t at) {
    uint32_t lo = 0, hi = Map.count;
    while (lo < hi) {
        uint32_t mid = lo + (hi - lo) / 2;
        if (memcmp(ChunkMd5At(&Map, Order[mid]), md5, 16) < 0) lo = mid + 1;
        else hi = mid;
    }
    for (; lo < Map.count && !memcmp(ChunkMd5At(&Map, Order[lo]), md5, 16); lo++) {
        uint32_t i = Order[lo];
        if (ChunkLenAt(&Map, i) == len)
            InterlockedCompareExchange64((volatile LONG64 *)&From[i], (LONG64)at, (LONG64)HeldNowhere);
    }
}

// 1 when the first reader's cut at end meets one of the second's: from
// there on the second has read what the first would.
static int InStep(Reader *r, uint64_t end) {
    if (!r->mid || end < r->mid) return 0;
    Reader *o = r->other;
    WaitForSingleObject(o->ready, INFINITE);
    for (int i = 0; i < o->ncuts; i++)
        if (o->cuts[i] == end) return 1;
    return 0;
}

static DWORD WINAPI Read(void *arg) {
    Reader *r = (Reader *)arg;
    LARGE_INTEGER to;
    to.QuadPart = (LONGLONG)r->start;
    ChunkScan s;
    ScanStart(&s, r->buf, ScanLen, ReadLocal, r->f);
    const unsigned char *data;
    uint32_t len;
    uint64_t at;
    int got = SetFilePointerEx(r->f, to, 0, FILE_BEGIN) ? 1 : -1;
    // A chunk of a length the map does not have cannot be one of its chunks:
    // it is not hashed, which makes a file of another game cheap to look at.
    while (got == 1 && (got = NextChunk(&s, &data, &len, &at)) == 1) {
        at += r->start;
        if (r->ready && r->ncuts < CutsMax) {
            r->cuts[r->ncuts++] = at + len;
            if (r->ncuts == CutsMax) SetEvent(r->ready);
        }
        unsigned char md5[16];
        if (Lens[len / 8] & (1 << len % 8)) {
            if (!Md5Raw(data, len, md5)) got = -1;
            else Found(md5, len, at);
        }
        if (got == 1 && InStep(r, at + len)) break;
    }
    if (r->ready) SetEvent(r->ready);
    r->failed = got < 0;
    return 0;
}

static HANDLE OpenLocal(const wchar_t *path) {
    return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_EXISTING,
                       FILE_FLAG_SEQUENTIAL_SCAN, 0);
}

int64_t IndexLocal(const wchar_t *path) {
    if (!HaveMap) return -1;
    unsigned char probe[16];
    if (!Md5Raw("", 0, probe)) return -1;  // opens the provider before any thread needs it
    Reader first = {}, second = {};
    first.f = OpenLocal(path);
    first.buf = Scan;
    LARGE_INTEGER size;
    if (first.f == INVALID_HANDLE_VALUE || !GetFileSizeEx(first.f, &size)) {
        if (first.f != INVALID_HANDLE_VALUE) CloseHandle(first.f);
        return -1;
    }
    HANDLE thread = 0;
    if ((uint64_t)size.QuadPart >= DeltaSplit) {
        second.f = OpenLocal(path);
        second.buf = Scan + ScanLen;
        second.start = (uint64_t)size.QuadPart / 2;
        second.ready = CreateEventW(0, TRUE, FALSE, 0);
        if (second.f != INVALID_HANDLE_VALUE && second.ready) thread = CreateThread(0, 0, Read, &second, 0, 0);
        if (thread) {
            first.mid = second.start;
            first.other = &second;
        }
    }
    Read(&first);
    if (thread) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    if (second.ready) CloseHandle(second.ready);
    if (second.f && second.f != INVALID_HANDLE_VALUE) CloseHandle(second.f);
    CloseHandle(first.f);
    int failed = first.failed || (thread && second.failed);
    int64_t held = 0;
    for (uint32_t i = 0; i < Map.count; i++) {
        if (failed) From[i] = HeldNowhere;
        else if (From[i] != HeldNowhere) held += ChunkLenAt(&Map, i);
    }
    return failed ? -1 : held;
}

uint32_t MapChunks() { return HaveMap ? Map.count : 0; }

void MapChunk(uint32_t i, uint64_t *at, uint32_t *len, uint64_t *from) {
    *at = Start[i];
    *len = ChunkLenAt(&Map, i);
    *from = From[i];
}

int NextMissing(uint64_t at, uint64_t *from, uint64_t *to) {
    if (!HaveMap || at >= Map.size) return 0;
    // The chunk that holds offset at.
    uint32_t i = (uint32_t)(std::upper_bound(Start, Start + Map.count, at) - Start);
    if (i) i--;
    for (; i < Map.count && From[i] != HeldNowhere; i++) {}
    if (i == Map.count) return 0;
    *from = Start[i] > at ? Start[i] : at;
    for (; i < Map.count && From[i] == HeldNowhere; i++) {}
    *to = i == Map.count ? Map.size : Start[i];
    return 1;
}

// ---- The whole file's MD5, worked out as the file is written ---------------------
// A thread reads the new file back behind the writer (from the system's cache)
// and hashes it: the check of the whole file then costs the build no pass of
// its own, and on two cores the hashing and the copying overlap.

struct Follower {
    HANDLE thread, more;     // more: set when the writer has gone further or ended
    const wchar_t *temp;
    volatile LONG64 written; // bytes of the file in place so far
    volatile LONG end;       // 1 once the writer is done, 2 when what it wrote went (a 200 restarts)
    unsigned char md5[16];
    int ok;                  // md5 is that of the first written bytes of the file
};
static Follower Tail;

static DWORD WINAPI Follow(void *) {
    UCHAR obj[HashObjMax];
    DWORD objLen = 0, got = 0;
    BCRYPT_HASH_HANDLE h = 0;
    HANDLE f = CreateFileW(Tail.temp, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, 0);
    int ok = f != INVALID_HANDLE_VALUE &&
             BCryptGetProperty(Md5Alg, BCRYPT_OBJECT_LENGTH, (PUCHAR)&objLen, sizeof objLen, &got, 0) == 0 &&
             objLen <= HashObjMax && BCryptCreateHash(Md5Alg, &h, obj, objLen, 0, 0, 0) == 0;
    unsigned char *buf = Scan + ScanLen;
    uint64_t at = 0;
    while (ok) {
        LONG end = Tail.end;  // before written: at its end, written is final
        // One read of all 64 bits, also in the 32-bit build.
        uint64_t written = (uint64_t)InterlockedCompareExchange64(&Tail.written, 0, 0);
        if (end == 2) ok = 0;
        else if (at < written) {
            DWORD want = written - at < ScanLen ? (DWORD)(written - at) : (DWORD)ScanLen, n;
            ok = ReadFile(f, buf, want, &n, 0) && n == want && BCryptHashData(h, buf, n, 0) == 0;
            at += n;
        } else if (end) break;
        else WaitForSingleObject(Tail.more, 100);
    }
    Tail.ok = ok && BCryptFinishHash(h, Tail.md5, 16, 0) == 0;
    if (h) BCryptDestroyHash(h);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    return 0;
}

// The writer has the file's first at bytes in place.
static void Wrote(uint64_t at) {
    InterlockedExchange64(&Tail.written, (LONG64)at);
    if (Tail.more) SetEvent(Tail.more);
}

static void StartFollow(const wchar_t *temp, uint64_t have) {
    Tail.temp = temp;
    Tail.written = (LONG64)have;
    Tail.end = 0;
    Tail.ok = 0;
    Tail.more = CreateEventW(0, FALSE, FALSE, 0);
    Tail.thread = Tail.more ? CreateThread(0, 0, Follow, 0, 0, 0) : 0;
}

// Ends the follower: with given 1, the file is whole and Tail.ok says
// whether md5 is its MD5; with 2 what it followed is gone.
static void EndFollow(LONG given) {
    InterlockedExchange(&Tail.end, given);
    if (Tail.more) SetEvent(Tail.more);
    if (Tail.thread) {
        WaitForSingleObject(Tail.thread, INFINITE);
        CloseHandle(Tail.thread);
    } else {
        Tail.ok = 0;
    }
    if (Tail.more) CloseHandle(Tail.more);
    Tail.thread = Tail.more = 0;
}

// 1 when the file at temp, which the writer has finished, has the MD5 md5:
// as the follower found it, or by a read of its own when it could not.
static int WholeMatches(const wchar_t *temp, const char *md5) {
    unsigned char want[16];
    EndFollow(1);
    if (!Tail.ok) return Md5Matches(temp, md5);
    return Md5Bytes(md5, want) && !memcmp(want, Tail.md5, 16);
}

// ---- The build -------------------------------------------------------------------

static long long Skip;  // bytes of the run's total this delta takes from the local copy

static void GiveBack() {
    LaneHeld(-Skip);
    Skip = 0;
}

static uint32_t ChunkAt(uint64_t at) {
    uint32_t i = (uint32_t)(std::upper_bound(Start, Start + Map.count, at) - Start);
    return i ? i - 1 : 0;
}

// Writes the bytes from .. to of the new file, all of them held by the local
// file src, at the end of f: runs of chunks that lie one after the other in
// src too are read in one go. 0 when a read or a write fails.
static int CopyHeld(HANDLE src, HANDLE f, uint64_t from, uint64_t to) {
    for (uint32_t i = ChunkAt(from); from < to; i++) {
        uint64_t at = From[i] + (from - Start[i]), end = Start[i] + ChunkLenAt(&Map, i);
        while (end < to && From[i + 1] == From[i] + ChunkLenAt(&Map, i)) {
            i++;
            end = Start[i] + ChunkLenAt(&Map, i);
        }
        if (end > to) end = to;
        LARGE_INTEGER seek;
        seek.QuadPart = (LONGLONG)at;
        if (!SetFilePointerEx(src, seek, 0, FILE_BEGIN)) return 0;
        for (uint64_t left = end - from; left;) {
            DWORD want = left < ScanLen ? (DWORD)left : (DWORD)ScanLen, n, w;
            if (!ReadFile(src, Scan, want, &n, 0) || n != want || !WriteFile(f, Scan, n, &w, 0) || w != n) return 0;
            left -= n;
            Wrote(end - left);
        }
        from = end;
    }
    return 1;
}

// What one range request came to.
enum {
    RangeDone,     // the span is in f
    RangeWhole,    // the server sent the whole file instead (a 200): f holds what came of it
    RangeLost,     // an answer, then the connection was lost or went silent: f holds what came
    RangeBusy,     // no answer yet, or a busy server: it may answer later
    RangeRefused,  // no answer, for good
    RangeWrong,    // another span, version or status: no delta from this site
    RangeLong,     // a whole file longer than its listed size
    RangeNoRoom,   // a write failed: the disk is full
    RangeNoWrite,  // a write failed otherwise
};

static int Written(int body, int whole) {
    switch (body) {
    case BodyWhole: return whole ? RangeWhole : RangeDone;
    case BodyCut: return whole ? RangeWhole : RangeLost;
    case BodyLong: return whole ? RangeLong : RangeWrong;
    case BodyNoRoom: return RangeNoRoom;
    default: return RangeNoWrite;
    }
}

// Asks for the bytes from *pos up to to of e's file and appends what comes to
// f, moving *pos and *counted (the bytes that count for the progress) on.
static int AskRange(int lane, const ManifestEntry *e, const wchar_t *url, const wchar_t *temp, HANDLE f, Partial *p,
                    uint64_t *pos, uint64_t to, unsigned long long *counted) {
    wchar_t head[HeadLen];
    RangeHead(head, *pos, to - 1, p);
    HttpReq r;
    if (!HttpOpen(url, &r, head)) return Transient(r.error) ? RangeBusy : RangeRefused;
    DWORD code = HttpCode(&r);
    unsigned long long before = *counted;
    int got, result;
    if (code == 200) {
        // A server that ignores ranges (or no longer serves the version of
        // the partial): its answer is the whole file, which is taken as it
        // comes, counted whole.
        EndFollow(2);
        Cut(f, 0);
        GiveBack();
        *counted = 0;
        LaneHave(lane, 0);
        StoreVersion(&r, e, temp, p);
        got = SaveBody(lane, &r, f, counted, Most(e));
        *pos = *counted;
        result = Written(got, 1);
    } else if (code == 206 && HttpLength(&r) == (long long)(to - *pos) && Continues(&r, p, e->size, *pos, to - 1)) {
        // The first answer names the version the record keeps: from then on
        // every range must come from it (If-Range), and so may a later run.
        if (!p->md5[0]) StoreVersion(&r, e, temp, p);
        got = SaveBody(lane, &r, f, counted, before + (to - *pos));
        *pos += *counted - before;
        result = Written(got, 0);
        if (result == RangeDone && *pos < to) result = RangeLost;
    } else {
        result = RetryCode(code) ? RangeBusy : RangeWrong;
    }
    HttpClose(&r);
    return result;
}

// Builds the file from pos (the partial's end) in f: the run's loop of
// copies and ranges. GotFile when f holds all of it, GotNoDelta when the
// delta must give way (a wrong answer, a local read that failed, a whole
// file that came cut), or the failure that ends the run.
static int Build(int lane, const ManifestEntry *e, const wchar_t *url, const wchar_t *temp, HANDLE f, HANDLE src,
                 Partial *p, uint64_t pos, const wchar_t *name, unsigned long long *counted) {
    int retry = 0;
    LaneTry(lane, name, 0, *counted);
    while (pos < e->size) {
        uint64_t from, to;
        if (!NextMissing(pos, &from, &to)) from = to = e->size;
        if (pos < from) {
            if (!CopyHeld(src, f, pos, from)) return GotNoDelta;
            pos = from;
            continue;
        }
        uint64_t start = pos;
        int t = AskRange(lane, e, url, temp, f, p, &pos, to, counted);
        if (t != RangeWhole) Wrote(pos);
        switch (t) {
        case RangeDone: continue;
        case RangeWhole: return pos == e->size ? GotFile : GotNoDelta;
        case RangeWrong: return GotNoDelta;
        case RangeLong: return GotBad;
        case RangeNoRoom: return GotNoRoom;
        case RangeNoWrite:
        case RangeRefused: return GotNoFile;
        }
        // A try that brought data starts the count of failures again.
        if (pos > start) retry = 0;
        if (retry == RetryMax) return GotNoFile;
        RetryWait(++retry);
        LaneTry(lane, name, retry, *counted);
    }
    return GotFile;
}

// The tables serve one delta at a time: a lane that comes to a delta while
// another lane builds one waits for it (the other lanes go on with their
// files), rather than fetch its file whole.
static SRWLOCK One = SRWLOCK_INIT;

static int Attempt(int lane, const ManifestEntry *e, const wchar_t *url, const wchar_t *path, const wchar_t *temp,
                  const wchar_t *name, unsigned long long *size);

int Delta(int lane, const ManifestEntry *e, const wchar_t *url, const wchar_t *path, const wchar_t *temp,
          const wchar_t *name, unsigned long long *size) {
    // No copy, or one that cannot hold half of the new file: no map is asked for.
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!Block || e->size < DeltaMin || !GetFileAttributesExW(path, GetFileExInfoStandard, &a) ||
        (a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        ((uint64_t)a.nFileSizeHigh << 32 | a.nFileSizeLow) * 2 < e->size)
        return GotNoDelta;
    AcquireSRWLockExclusive(&One);
    int got = Attempt(lane, e, url, path, temp, name, size);
    ReleaseSRWLockExclusive(&One);
    return got;
}

static int Attempt(int lane, const ManifestEntry *e, const wchar_t *url, const wchar_t *path, const wchar_t *temp,
                  const wchar_t *name, unsigned long long *size) {
    Partial p;
    Writable(temp);
    unsigned long long have = ResumeFrom(temp, e->md5, e->size, &p);
    if (have == e->size) return GotNoDelta;  // whole already: Download checks it
    // The map is fetched only up to the most the chunker can make of the
    // file: anything longer is no map of ours.
    wchar_t mapUrl[UrlMax];
    int n = -1;
    size_t cap = RawLen((uint32_t)(e->size / ChunkMin + 1));
    if (cap > RawLen(Cap)) cap = RawLen(Cap);
    if (!MapUrl(mapUrl, UrlMax, e->md5) || (n = HttpGet(mapUrl, (char *)Raw, (int)cap)) < 0 ||
        !TakeMap(Raw, (size_t)n, e->size, e->md5))
        return GotNoDelta;
    // A copy that holds less than half of the new file is too different:
    // its many ranges would cost more than they save.
    int64_t held = IndexLocal(path);
    if (held < 0 || (uint64_t)held * 2 < e->size) return GotNoDelta;
    uint64_t fetch = 0, from, to;
    for (uint64_t at = have; NextMissing(at, &from, &to); at = to) fetch += to - from;
    Skip = (long long)(e->size - have - fetch);
    LaneHeld(Skip);

    // Shared for reading only: the follower reads it back as it grows.
    HANDLE f = CreateFileW(temp, GENERIC_WRITE, FILE_SHARE_READ, 0, OPEN_ALWAYS, 0, 0);
    if (f == INVALID_HANDLE_VALUE) {
        GiveBack();
        return Unmade(temp);
    }
    HANDLE src = OpenLocal(path);
    Cut(f, have);
    StartFollow(temp, have);
    unsigned long long counted = have;
    int got = src == INVALID_HANDLE_VALUE ? GotNoDelta : Build(lane, e, url, temp, f, src, &p, have, name, &counted);
    if (src != INVALID_HANDLE_VALUE) CloseHandle(src);
    CloseHandle(f);
    if (got != GotFile) EndFollow(2);
    if (got == GotFile && WholeMatches(temp, e->md5)) {
        *size = counted;
        Skip = 0;
        return GotFile;
    }
    GiveBack();
    // What came before a lost or silent range stays for the next run when it
    // can be resumed; anything else is started over by the whole download.
    if (got != GotNoFile || !p.md5[0]) DropPartial(temp);
    return got == GotFile ? GotNoDelta : got;
}
