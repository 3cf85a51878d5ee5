#include "update/lanes.h"

#include <limits.h>

#include "app/state.h"
#include "net/http.h"
#include "net/netthread.h"
#include "net/retry.h"

#define TXT_RETRY L" nova tentativa %d de %d"

DWORD PublishMs = 50;
int HashLanes;

// Everything below is shared by the lanes and guarded by Gate; Publish, which
// takes Lock, is only called inside it, so the window is told in order.
static CRITICAL_SECTION Gate;
static LONG GateMade;
static LaneJob Job;
static int Count, Next;             // jobs of the pass, and the next to start
static const wchar_t *Failed;       // the first failure's text
static unsigned long long Total, Done, Have[LaneMax];
static int Need, Ordinal;
static int Ordinals[LaneMax];       // each lane's file's
static wchar_t Text[StatusLen];     // the latest try's text
static int Dirty;                   // something changed since the last publication
static DWORD Last;                  // when the window was told last

static void MakeGate() {
    // The first use in the process makes it; later ones find it made.
    if (GateMade == 2) return;
    if (InterlockedCompareExchange(&GateMade, 1, 0) == 0) {
        InitializeCriticalSection(&Gate);
        InterlockedExchange(&GateMade, 2);
    }
    while (GateMade != 2) Sleep(0);
}

// Per mille of the bytes to download. No file is written past its manifest
// size, so it ends at 1000; it saturates all the same rather than overflow.
static int Permille() {
    unsigned long long done = Done;
    for (int i = 0; i < LaneMax; i++) done += Have[i];
    if (!Total) return 0;
    unsigned long long p = done / Total * 1000 + done % Total * 1000 / Total;
    return p > INT_MAX ? INT_MAX : (int)p;
}

// Inside Gate: tells the window when it is time (force: whatever the time).
static void Show(int force) {
    if (!Dirty || !Text[0]) return;
    DWORD now = GetTickCount();
    if (!force && PublishMs && now - Last < PublishMs) return;
    Publish(Text, Permille());
    Last = now;
    Dirty = 0;
}

void StartFetches(unsigned long long total, int need) {
    MakeGate();
    EnterCriticalSection(&Gate);
    Total = total;
    Need = need;
    Done = 0;
    for (int i = 0; i < LaneMax; i++) Have[i] = Ordinals[i] = 0;
    Ordinal = 0;
    Text[0] = 0;
    Dirty = 0;
    Last = GetTickCount() - PublishMs;  // the first try is shown at once
    LeaveCriticalSection(&Gate);
}

void FetchText(wchar_t *out, const wchar_t *name, int index, int need, int retry) {
    wchar_t tail[64];
    int at = wsprintfW(tail, L" (%d de %d)...", index, need);
    if (retry) wsprintfW(tail + at, TXT_RETRY, retry, (int)RetryMax);
    int room = StatusLen - 1 - 9 - lstrlenW(tail);  // 9: "Baixando "
    int len = lstrlenW(name);
    lstrcpyW(out, L"Baixando ");
    if (len > room) {
        lstrcatW(out, L"...");
        name += len - (room - 3);
    }
    lstrcatW(out, name);
    lstrcatW(out, tail);
}

// The ordinal is taken with the text shown: the files' first tries appear
// in the order of their ordinals.
void LaneTry(int lane, const wchar_t *name, int retry, unsigned long long have) {
    MakeGate();
    EnterCriticalSection(&Gate);
    if (!Ordinals[lane]) Ordinals[lane] = ++Ordinal;
    FetchText(Text, name, Ordinals[lane], Need, retry);
    Have[lane] = have;
    Dirty = 1;
    Show(0);
    LeaveCriticalSection(&Gate);
}

// The lane's bytes under way become have; done more are placed; with end,
// the lane's file is over and its ordinal goes with it.
static void Tally(int lane, unsigned long long have, unsigned long long done, int end) {
    MakeGate();
    EnterCriticalSection(&Gate);
    Done += done;
    Have[lane] = have;
    if (end) Ordinals[lane] = 0;
    Dirty = 1;
    Show(0);
    LeaveCriticalSection(&Gate);
}

void LaneHave(int lane, unsigned long long have) { Tally(lane, have, 0, 0); }

void LaneDone(int lane, unsigned long long size) { Tally(lane, 0, size, 1); }

void LaneHeld(long long held) {
    MakeGate();
    EnterCriticalSection(&Gate);
    Total -= (unsigned long long)held;
    Dirty = 1;
    LeaveCriticalSection(&Gate);
}

// ---- The lanes ------------------------------------------------------------------

// The next job to start on a lane, or -1 when there is none or the pass failed.
static int Take() {
    EnterCriticalSection(&Gate);
    int i = Failed || Next >= Count ? -1 : Next++;
    LeaveCriticalSection(&Gate);
    return i;
}

static void Fail(const wchar_t *text) {
    EnterCriticalSection(&Gate);
    if (!Failed) Failed = text;
    LeaveCriticalSection(&Gate);
}

static DWORD WINAPI Lane(void *arg) {
    int lane = (int)(INT_PTR)arg;
    OwnRoot();  // net/http.h: lanes share no WinINet handle
    for (int i; (i = Take()) >= 0;)
        if (const wchar_t *f = Job(lane, i)) Fail(f);
    DropRoot();
    return 0;
}

const wchar_t *RunLanes(int lanes, int n, LaneJob job) {
    MakeGate();
    EnterCriticalSection(&Gate);
    Job = job;
    Count = n;
    Next = 0;
    Failed = 0;
    LeaveCriticalSection(&Gate);
    if (lanes < 1) lanes = 1;
    if (lanes > LaneMax) lanes = LaneMax;
    if (lanes > n) lanes = n > 0 ? n : 1;
    HANDLE t[LaneMax];
    int made = 0;
    for (int i = 0; i < lanes; i++)
        if ((t[made] = CreateThread(0, 0, Lane, (void *)(INT_PTR)made, 0, 0))) made++;
    if (!made) {
        Lane(0);
    } else {
        // The lanes tell the window what happens as it happens, at most every
        // PublishMs; what came in between is told here once that time is up.
        while (WaitForMultipleObjects((DWORD)made, t, TRUE, PublishMs ? PublishMs : INFINITE) == WAIT_TIMEOUT) {
            EnterCriticalSection(&Gate);
            Show(0);
            LeaveCriticalSection(&Gate);
        }
        for (int i = 0; i < made; i++) CloseHandle(t[i]);
    }
    EnterCriticalSection(&Gate);
    Show(1);
    const wchar_t *f = Failed;
    LeaveCriticalSection(&Gate);
    return f;
}
