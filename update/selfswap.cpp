#include "update/selfswap.h"

#include "app/state.h"
#include "update/manifest.h"
#include "update/place.h"

void (*SwapHook)();

int ReplaceSelf(const wchar_t *temp) {
    wchar_t old[PathLen];
    if (!Join(old, PathLen, SelfExe, L".old")) return 0;
    // SwapGate moves only by compare-and-swap, so the window thread and the
    // network thread never both think they hold it.
    if (InterlockedCompareExchange(&SwapGate, 1, 0) != 0) return 0;
    int ok = 0;
    // A launcher that was read-only (copied from read-only media, marked by
    // an installer) left a read-only ".old": while it stood, no later swap
    // could make way.
    Erase(old);
    if (MoveFileW(SelfExe, old)) {
        if (SwapHook) SwapHook();
        ok = MoveFileExW(temp, SelfExe, MOVEFILE_REPLACE_EXISTING);
        // Whatever failed, a launcher must stand under its own name.
        if (!ok && !MoveFileW(old, SelfExe)) CopyFileW(old, SelfExe, TRUE);
    }
    if (ok) Restart = 1;
    InterlockedExchange(&SwapGate, 0);
    return ok;
}

void DropOld() {
    wchar_t old[PathLen];
    if (Join(old, PathLen, SelfExe, L".old")) Erase(old);
}

void EndSwaps(DWORD ms) {
    DWORD start = GetTickCount();
    while (InterlockedCompareExchange(&SwapGate, 2, 0) == 1 && GetTickCount() - start < ms) Sleep(5);
}
