#include "update/delta.h"

#include <windows.h>

#include <string.h>

#include "app/state.h"
#include "net/http.h"
#include "net/retry.h"
#include "update/download.h"
#include "update/lanes.h"
#include "update/md5.h"
#include "update/partial.h"
#include "update/place.h"

// ---- The whole file's MD5, worked out as the file is written ---------------------
// A thread reads the new file back behind the writer (from the system's cache)
// and hashes it: the check of the whole file then costs the build no pass of
// its own, and on two cores the hashing and the copying overlap.

struct Follower {
    HANDLE thread, more;     // more: set when the writer has gone further or ended
    const wchar_t *temp;
    volatile LONG64 written; // bytes of the file in place so far
    volatile LONG end;       // 1 once the writer is done, 2 when what it wrote went (a 200 restarts)
    char md5[33];
    int ok;                  // md5 is that of the first written bytes of the file
};
static Follower Tail;

static DWORD WINAPI Follow(void *) {
    Md5Sum sum = 0;
    HANDLE f = CreateFileW(Tail.temp, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, 0);
    int ok = Md5Begin(&sum) && f != INVALID_HANDLE_VALUE;
    unsigned char *buf = ScanRoom(1);
    uint64_t at = 0;
    while (ok) {
        LONG end = Tail.end;  // before written: at its end, written is final
        // One read of all 64 bits, also in the 32-bit build.
        uint64_t written = (uint64_t)InterlockedCompareExchange64(&Tail.written, 0, 0);
        if (end == 2) ok = 0;
        else if (at < written) {
            DWORD want = written - at < ScanLen ? (DWORD)(written - at) : (DWORD)ScanLen, n;
            ok = ReadFile(f, buf, want, &n, 0) && n == want && Md5Add(&sum, buf, n);
            at += n;
        } else if (end) break;
        else WaitForSingleObject(Tail.more, 100);
    }
    Tail.ok = Md5End(&sum, ok, Tail.md5);
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
    EndFollow(1);
    if (!Tail.ok) return Md5Matches(temp, md5);
    return !lstrcmpiA(Tail.md5, md5);
}

// ---- The build -------------------------------------------------------------------

static long long Skip;  // bytes of the run's total this delta takes from the local copy

static void GiveBack() {
    LaneHeld(-Skip);
    Skip = 0;
}

// Writes the bytes from .. to of the new file, all of them held by the local
// file src, at the end of f: runs of chunks that lie one after the other in
// src too are read in one go. 0 when a read or a write fails.
static int CopyHeld(HANDLE src, HANDLE f, uint64_t from, uint64_t to) {
    unsigned char *buf = ScanRoom(0);
    for (uint32_t i = ChunkAt(from); from < to; i++) {
        uint64_t start, held, next, nextHeld;
        uint32_t len, nextLen;
        MapChunk(i, &start, &len, &held);
        uint64_t at = held + (from - start), end = start + len;
        // The chunks after it that the copy holds right behind it.
        while (end < to) {
            MapChunk(i + 1, &next, &nextLen, &nextHeld);
            if (nextHeld != held + len) break;
            i++;
            held = nextHeld;
            len = nextLen;
            end = next + len;
        }
        if (end > to) end = to;
        LARGE_INTEGER seek;
        seek.QuadPart = (LONGLONG)at;
        if (!SetFilePointerEx(src, seek, 0, FILE_BEGIN)) return 0;
        for (uint64_t left = end - from; left;) {
            DWORD want = left < ScanLen ? (DWORD)left : (DWORD)ScanLen, n, w;
            if (!ReadFile(src, buf, want, &n, 0) || n != want || !WriteFile(f, buf, n, &w, 0) || w != n) return 0;
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
    size_t room;
    if (!MapRoom(e->size, &room) || e->size < DeltaMin || !GetFileAttributesExW(path, GetFileExInfoStandard, &a) ||
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
    size_t cap = 0;
    unsigned char *raw = MapRoom(e->size, &cap);
    if (!raw || !MapUrl(mapUrl, UrlMax, e->md5) || (n = HttpGet(mapUrl, (char *)raw, (int)cap)) < 0 ||
        !TakeMap(raw, (size_t)n, e->size, e->md5))
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
