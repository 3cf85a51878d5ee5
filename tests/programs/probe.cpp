// Looks at a window from outside, for tests and demos driven from Linux.
//   probe rect FILE [CLASS]   waits for the window, writes "left top right bottom" to FILE
//   probe close [CLASS]       asks the window to close
//   probe wait-gone [CLASS]   waits up to 60 s until no such window exists
//   probe play [CLASS]        presses Enter on the window every 100 ms until it
//                             is gone (Enter does nothing until the launcher is
//                             ready, then starts the game), up to 60 s
// CLASS defaults to the launcher's window class. Exit code 0 on success, 1 when
// no window appeared within 10 s (or did not go away), 2 on bad arguments.
#include <windows.h>

#include <stdio.h>

static HWND Find(const wchar_t *cls, int tries) {
    for (int i = 0; i < tries; i++) {
        HWND w = FindWindowW(cls, 0);
        if (w) return w;
        Sleep(10);
    }
    return 0;
}

int wmain(int argc, wchar_t **argv) {
    if (argc < 2) return 2;
    const wchar_t *cmd = argv[1];
    bool rect = !lstrcmpW(cmd, L"rect");
    if (rect && argc < 3) return 2;
    const wchar_t *cls = argc > (rect ? 3 : 2) ? argv[rect ? 3 : 2] : L"ZorunClassicLauncher";
    if (!lstrcmpW(cmd, L"wait-gone")) {
        for (int i = 0; i < 6000; i++) {
            if (!FindWindowW(cls, 0)) return 0;
            Sleep(10);
        }
        return 1;
    }
    HWND w = Find(cls, 1000);
    if (!w) return 1;
    if (!lstrcmpW(cmd, L"play")) {
        for (int i = 0; i < 600 && IsWindow(w); i++) {
            PostMessageW(w, WM_KEYDOWN, VK_RETURN, 1);
            Sleep(100);
        }
        return IsWindow(w) ? 1 : 0;
    }
    if (rect) {
        RECT r;
        GetWindowRect(w, &r);
        FILE *f = _wfopen(argv[2], L"w");
        if (!f) return 2;
        fprintf(f, "%ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
        fclose(f);
        return 0;
    }
    if (!lstrcmpW(cmd, L"close")) {
        PostMessageW(w, WM_CLOSE, 0, 0);
        return 0;
    }
    return 2;
}
