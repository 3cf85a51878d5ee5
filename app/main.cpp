// Process entry: one instance, paths, options, art, the window, the network
// thread and the message loop.
#include "app/assets.h"
#include "app/options.h"
#include "app/scale.h"
#include "app/startup.h"
#include "app/state.h"
#include "net/netthread.h"
#include "update/selfswap.h"
#include "ui/proc.h"

// How often a launcher that finds the mutex held and no window looks again.
enum { HandOverPollMs = 100 };

// 1 when this process may run as the one launcher: the mutex is its own, or
// no other launcher holds it any more; 0 when another one's window shows (it
// is brought forward, as a second start does).
//
// A launcher that restarts itself after a self-update starts while the old
// process still holds the mutex on its way out, its window gone first. A
// slow or busy PC can take seconds to end that process: any time limit here
// would lose the restart and leave the player with no launcher at all, so
// the wait lasts until the mutex is let go (or abandoned by a process that
// ended). A window that shows meanwhile belongs to a launcher that was only
// starting up: a double click.
static int FirstInstance(HANDLE mutex) {
    if (!mutex || GetLastError() != ERROR_ALREADY_EXISTS) return 1;
    for (;;) {
        HWND first = FindWindowW(APP_NAME, 0);
        if (first) {
            ShowWindow(first, SW_RESTORE);
            SetForegroundWindow(first);
            return 0;
        }
        DWORD w = WaitForSingleObject(mutex, HandOverPollMs);
        if (w == WAIT_OBJECT_0 || w == WAIT_ABANDONED) return 1;
        if (w != WAIT_TIMEOUT) return 0;
    }
}

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, LPWSTR, int show) {
    HANDLE mutex = CreateMutexW(0, TRUE, APP_NAME);
    if (!FirstInstance(mutex)) {
        CloseHandle(mutex);
        return 0;
    }

    wchar_t exe[PathLen + 1];
    DWORD n = GetModuleFileNameW(0, exe, PathLen + 1);
    if (n == 0 || n > PathLen - 1 || !FormPaths(exe)) {
        if (mutex) CloseHandle(mutex);
        return 0;
    }

    // The art of the system's scale, the primary monitor's where the window
    // opens, is decoded on threads of their own while the rest starts.
    Dpi = SystemDpi();
    StartAssets();

    DropOld();

    InitializeCriticalSection(&Lock);
    LoadOptions();

    WNDCLASSW wc = {};
    wc.style = CS_DROPSHADOW;
    wc.lpfnWndProc = Proc;
    wc.hInstance = inst;
    wc.hIcon = LoadIconW(inst, MAKEINTRESOURCEW(101));
    wc.hCursor = LoadCursorW(0, IDC_ARROW);
    wc.lpszClassName = APP_NAME;
    ATOM cls = RegisterClassW(&wc);

    POINT at = CentreOn(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    Wnd = cls ? CreateWindowExW(WS_EX_APPWINDOW, APP_NAME, APP_TITLE,
                                WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, at.x, at.y, Scale(WinW),
                                Scale(WinH), 0, 0, inst, 0)
              : 0;
    FinishAssets();
    // The primary monitor's scale may have changed since the user logged on
    // (the system's DPI keeps the old one): the window's own scale wins.
    if (Wnd && WindowDpi(Wnd) != Dpi) {
        Dpi = WindowDpi(Wnd);
        LoadAssets();
        SetIcons(Wnd);
        at = CentreOn(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
        SetWindowPos(Wnd, 0, at.x, at.y, Scale(WinW), Scale(WinH), SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (Wnd) {
        // Without a window nobody would ever end the message loop.
        ShowWindow(Wnd, show);
        SetTimer(Wnd, TimerAnim, AnimMs, 0);
        StartNet();

        MSG msg;
        while (GetMessageW(&msg, 0, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    // However the window went, the network thread may be half way through
    // replacing the launcher's executable; ending now would leave only ".old".
    EndSwaps(SwapWaitMs);
    // Released, not just closed: a launcher restarting after a self-update is
    // waiting for it, and a closed handle frees it only when this process has
    // wholly ended.
    if (mutex) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
    return 0;
}
