#include "update/download.h"

#include <string.h>
#include <wchar.h>

#include "app/state.h"
#include "net/retry.h"
#include "update/lanes.h"
#include "update/md5.h"
#include "update/partial.h"
#include "update/place.h"

enum {
    // Every read through WinINet has a fixed cost; 128 KiB pieces keep it
    // small beside the data (32 KiB ones halve the throughput under Wine)
    // and still give a moving progress bar on slow lines.
    XferLen = 131072,
};

// One per lane: a lane reads one answer at a time.
static char Xfer[LaneMax][XferLen];

// What one try came to.
enum {
    TryWhole,     // the body is all there: its MD5 decides
    TryRestart,   // the partial does not fit the answer: start from zero, a try lost
    TryLost,      // an answer, then the connection was lost or went silent
    TryBusy,      // the server is busy (RetryCode)
    TryNoAnswer,  // no answer, for a reason that may pass
    TryRefused,   // no answer, for good (a refused redirect, a certificate)
    TryFinal,     // a status that will not change
    TryLong,      // the body goes on past the file's size
    TryNoRoom,    // a write failed: the disk is full
    TryNoWrite,   // a write failed otherwise
};

static int Full(DWORD e) {
    return e == ERROR_DISK_FULL || e == ERROR_HANDLE_DISK_FULL;
}

int Refusal(DWORD e) {
    if (Full(e)) return GotNoRoom;
    // A folder under Program Files without the rights to it, a share or a
    // medium that is read-only.
    if (e == ERROR_ACCESS_DENIED || e == ERROR_WRITE_PROTECT) return GotNoRights;
    return GotNoTemp;
}

// The MD5 of the partial's bytes, worked out as they are written, so that a
// whole file is verified without reading it again: at is how many bytes it
// covers, ok 0 once the provider failed.
struct Running {
    Md5Sum sum;
    unsigned long long at;
    int ok;
};

// Starts r over the first have bytes of temp, read from the disk (a partial
// an earlier run or try left), through lane's buffer.
static void SumFrom(Running *r, const wchar_t *temp, unsigned long long have, int lane) {
    char dummy[33];
    if (r->sum) Md5End(&r->sum, 0, dummy);
    r->ok = Md5Begin(&r->sum);
    r->at = 0;
    if (!have) return;
    HANDLE f = CreateFileW(temp, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, 0);
    DWORD n;
    while (r->ok && f != INVALID_HANDLE_VALUE && r->at < have) {
        DWORD ask = have - r->at < XferLen ? (DWORD)(have - r->at) : (DWORD)XferLen;
        r->ok = ReadFile(f, Xfer[lane], ask, &n, 0) && n == ask && Md5Add(&r->sum, Xfer[lane], n);
        r->at += n;
    }
    if (f == INVALID_HANDLE_VALUE) r->ok = 0;
    else CloseHandle(f);
}

int SaveBody(int lane, HttpReq *r, HANDLE f, unsigned long long *have, unsigned long long most, Running *sum) {
    long long length = HttpLength(r), got = 0;
    char *buf = Xfer[lane];
    DWORD n, w;
    for (;;) {
        // A server (or anyone on the way) may send a body without end: it
        // would fill the disk before any check could reject it.
        unsigned long long room = most > *have ? most - *have : 0;
        DWORD ask = (DWORD)(room < XferLen ? room + 1 : (unsigned long long)XferLen);
        if (!InternetReadFile(r->req, buf, ask, &n)) return BodyCut;
        if (!n) break;
        if (n > room) return BodyLong;
        if (!WriteFile(f, buf, n, &w, 0)) return Full(GetLastError()) ? BodyNoRoom : BodyNoWrite;
        if (w != n) return BodyNoRoom;
        if (sum) {
            sum->ok = sum->ok && Md5Add(&sum->sum, buf, n);
            sum->at += n;
        }
        got += n;
        *have += n;
        LaneHave(lane, *have);
    }
    return length < 0 || got >= length ? BodyWhole : BodyCut;
}

// A weak ETag does not promise the same bytes, so only Last-Modified can
// stand in for it; with neither, p->md5 is left empty and nothing of this try
// will be resumed.
void StoreVersion(HttpReq *r, const ManifestEntry *e, const wchar_t *temp, Partial *p) {
    memset(p, 0, sizeof *p);
    HttpAscii(r, HTTP_QUERY_ETAG, p->etag);
    if (p->etag[0] == 'W' && p->etag[1] == '/') p->etag[0] = 0;
    HttpAscii(r, HTTP_QUERY_LAST_MODIFIED, p->modified);
    for (int i = 0; i < 32; i++) p->md5[i] = e->md5[i] >= 'A' && e->md5[i] <= 'Z' ? e->md5[i] + 32 : e->md5[i];
    p->size = e->size;
    if (!(p->etag[0] || p->modified[0]) || !WritePartial(temp, p)) {
        DropRecord(temp);
        p->md5[0] = 0;
    }
}

// Parses "bytes START-END/TOTAL" into its three numbers.
static int ContentRange(const wchar_t *s, unsigned long long v[3]) {
    if (wcsncmp(s, L"bytes ", 6)) return 0;
    s += 6;
    for (int i = 0; i < 3; i++) {
        if (*s < L'0' || *s > L'9') return 0;
        v[i] = 0;
        for (; *s >= L'0' && *s <= L'9'; s++) {
            if (v[i] > (1ULL << 50)) return 0;
            v[i] = v[i] * 10 + (unsigned)(*s - L'0');
        }
        if (*s != (i == 0 ? L'-' : i == 1 ? L'/' : 0)) return 0;
        if (i < 2) s++;
    }
    return 1;
}

int Continues(HttpReq *r, const Partial *p, unsigned long long size, unsigned long long from,
              unsigned long long last) {
    wchar_t range[96];
    unsigned long long v[3];
    char seen[ValidatorLen];
    if (!HttpField(r, HTTP_QUERY_CONTENT_RANGE, range, 96) || !ContentRange(range, v)) return 0;
    if (v[0] != from || v[2] != size || v[1] < v[0] || v[1] >= v[2] || (last != ~0ULL && v[1] != last)) return 0;
    HttpAscii(r, HTTP_QUERY_ETAG, seen);
    if (p->etag[0] && seen[0] && strcmp(seen, p->etag)) return 0;
    HttpAscii(r, HTTP_QUERY_LAST_MODIFIED, seen);
    if (p->modified[0] && seen[0] && strcmp(seen, p->modified)) return 0;
    return 1;
}

void RangeHead(wchar_t *head, unsigned long long from, unsigned long long to, const Partial *p) {
    unsigned long long v[2] = {from, to};
    lstrcpyW(head, L"Range: bytes=");
    int at = lstrlenW(head);
    for (int i = 0; i < 2; i++) {
        if (i) head[at++] = L'-';
        if (i && to == ~0ULL) break;
        wchar_t digits[24];
        int n = 0;
        do digits[n++] = (wchar_t)(L'0' + v[i] % 10); while (v[i] /= 10);
        while (n) head[at++] = digits[--n];
    }
    head[at] = 0;
    const char *version = p->etag[0] ? p->etag : p->modified;
    if (p->md5[0] && *version) {
        lstrcpyW(head + at, L"\r\nIf-Range: ");
        at = lstrlenW(head);
        for (; *version; version++) head[at++] = (wchar_t)*version;
    }
    lstrcpyW(head + at, L"\r\n");
}

void Cut(HANDLE f, unsigned long long at) {
    LARGE_INTEGER to;
    to.QuadPart = (LONGLONG)at;
    SetFilePointerEx(f, to, 0, FILE_BEGIN);
    SetEndOfFile(f);
}

// The listed size bounds a file, so that
// a body without end is refused before it fills the disk; but a manifest
// written by hand may leave the size out (it reads as 0), and a file of 4 GiB
// or more has its size saturated: neither states a bound. A size of 0 is
// taken at its word only for the empty file, whose MD5 says it has no bytes.
unsigned long long Most(const ManifestEntry *e) {
    if (e->size == 0xFFFFFFFFu || (e->size == 0 && lstrcmpiA(e->md5, "d41d8cd98f00b204e9800998ecf8427e")))
        return ~0ull;
    return e->size;
}

// One request for the file: the rest of the partial (*have bytes, p its
// record) or the whole file, streamed into f.
static int Try(int lane, const ManifestEntry *e, const wchar_t *url, const wchar_t *temp, HANDLE f, Partial *p,
               unsigned long long *have, Running *sum) {
    wchar_t head[HeadLen];
    if (*have) RangeHead(head, *have, ~0ULL, p);
    HttpReq r;
    if (!HttpOpen(url, &r, *have ? head : 0)) return Transient(r.error) ? TryNoAnswer : TryRefused;
    DWORD code = HttpCode(&r);
    int got;
    if (code == 200) {
        // The whole file: a server that ignores ranges, or a file that
        // changed since the partial was made.
        if (*have) {
            Cut(f, 0);
            *have = 0;
            LaneHave(lane, 0);
            SumFrom(sum, temp, 0, lane);
        }
        StoreVersion(&r, e, temp, p);
        got = SaveBody(lane, &r, f, have, Most(e), sum);
        // No length announced: only the manifest's size tells a cut body.
        if (got == BodyWhole && HttpLength(&r) < 0 && *have < e->size) got = BodyCut;
    } else if (code == 206 && *have && Continues(&r, p, p->size, *have, ~0ULL)) {
        got = SaveBody(lane, &r, f, have, Most(e), sum);
        if (got == BodyWhole && *have < p->size) got = BodyCut;  // a shorter range than asked for
    } else if ((code == 206 || code == 416) && *have) {
        HttpClose(&r);
        return TryRestart;
    } else {
        HttpClose(&r);
        return RetryCode(code) ? TryBusy : TryFinal;
    }
    HttpClose(&r);
    switch (got) {
    case BodyWhole: return TryWhole;
    case BodyCut: return TryLost;
    case BodyLong: return TryLong;
    case BodyNoRoom: return TryNoRoom;
    default: return TryNoWrite;
    }
}

// A folder or a busy file at temp's name refuses access as a folder without
// rights does: that is something in the way.
int Unmade(const wchar_t *temp) {
    int why = Refusal(GetLastError());
    if (why == GotNoRights && GetFileAttributesW(temp) != INVALID_FILE_ATTRIBUTES) why = GotNoTemp;
    return why;
}

// Whether the bytes sum covers are the entry's; ends the sum.
static int Matches(Running *sum, const ManifestEntry *e) {
    char got[33];
    int ok = Md5End(&sum->sum, sum->ok, got) && !lstrcmpiA(got, e->md5);
    sum->at = ~0ull;
    return ok;
}

static int Fetch(int lane, const ManifestEntry *e, const wchar_t *url, const wchar_t *temp, const wchar_t *name,
                 int partial, unsigned long long *size, Running *sum);

int Download(int lane, const ManifestEntry *e, const wchar_t *url, const wchar_t *temp, const wchar_t *name,
             int partial, unsigned long long *size) {
    Running sum = {0, ~0ull, 0};
    int got = Fetch(lane, e, url, temp, name, partial, size, &sum);
    char dummy[33];
    if (sum.sum) Md5End(&sum.sum, 0, dummy);
    return got;
}

static int Fetch(int lane, const ManifestEntry *e, const wchar_t *url, const wchar_t *temp, const wchar_t *name,
                 int partial, unsigned long long *size, Running *sum) {
    Partial p = {};
    unsigned long long have = 0;
    // A read-only partial could be neither written to nor replaced; the
    // file placed from it would stay read-only.
    if (partial) {
        Writable(temp);
        have = ResumeFrom(temp, e->md5, e->size, &p);
    }
    // A launcher stopped between the download's end and its move left it
    // whole: nothing to ask.
    if (have && have == e->size) {
        if (Md5Matches(temp, e->md5)) {
            *size = have;
            return GotFile;
        }
        DropPartial(temp);
        have = 0;
    }
    int retry = 0, again = 0;  // retries spent; 1 once a whole file had the wrong MD5
    unsigned long long high = have;  // the furthest the partial has reached
    for (;;) {
        LaneTry(lane, name, retry, have);
        if (sum->at != have) SumFrom(sum, temp, have, lane);
        // No sharing: nobody else writes the file while it downloads, or
        // reads it half done.
        HANDLE f = CreateFileW(temp, GENERIC_WRITE, 0, 0, OPEN_ALWAYS, 0, 0);
        if (f == INVALID_HANDLE_VALUE) return Unmade(temp);
        // Only have bytes are trusted: whatever lies behind them (a write cut
        // short by a kill) goes.
        Cut(f, have);
        int t = Try(lane, e, url, temp, f, &p, &have, sum);
        CloseHandle(f);
        switch (t) {
        case TryWhole:
            if (Matches(sum, e)) {
                *size = have;
                return GotFile;
            }
            DropPartial(temp);
            have = 0;
            if (again++) return GotBad;
            continue;
        case TryRestart:
            DropPartial(temp);
            have = 0;
            break;
        case TryLong:
            DropPartial(temp);
            return GotBad;
        case TryNoRoom:
        case TryNoWrite:
            DropPartial(temp);  // the room it takes is the player's
            return t == TryNoRoom ? GotNoRoom : GotNoFile;
        }
        // What came stays for the next try, or the next run, when it can be
        // resumed; an empty or unresumable partial goes.
        if (!p.md5[0] || !have) {
            DropPartial(temp);
            have = 0;
        }
        // A file the site refuses or cannot be reached for was not fetched:
        // nothing says it was damaged.
        if (t == TryFinal || t == TryRefused) return GotNoFile;
        // A link that drops now and then but keeps bringing data is worth
        // staying with: a try that took the download a whole piece past the
        // furthest it had reached starts the count again. Only that: bytes
        // brought again after a restart from zero (a listed size no 206 can
        // match, as with every file of 4 GiB or more) are no headway, and a
        // restart is a failed try, or a link that drops every few MiB would
        // keep the run going for ever. Only failures in a row end the run.
        if (have >= high + XferLen) retry = 0;
        if (have > high) high = have;
        if (retry == RetryMax) return GotNoFile;
        RetryWait(++retry);
    }
}
