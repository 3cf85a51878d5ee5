#include "update/held.h"

#include <windows.h>

#include <bcrypt.h>
#include <string.h>

#include <algorithm>

#include "app/state.h"
#include "update/chunker.h"
#include "update/chunkmap.h"
#include "update/manifest.h"

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

HANDLE OpenLocal(const wchar_t *path) {
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

uint32_t ChunkAt(uint64_t at) {
    uint32_t i = (uint32_t)(std::upper_bound(Start, Start + Map.count, at) - Start);
    return i ? i - 1 : 0;
}

unsigned char *MapRoom(uint64_t size, size_t *cap) {
    if (!Block) return 0;
    *cap = RawLen((uint32_t)(size / ChunkMin + 1));
    if (*cap > RawLen(Cap)) *cap = RawLen(Cap);
    return Raw;
}

unsigned char *ScanRoom(int half) { return Scan + (half ? ScanLen : 0); }
