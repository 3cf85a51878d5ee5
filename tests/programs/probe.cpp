// Looks at the launcher's window from outside, for tests driven from Linux.
//   probe rect FILE   waits for the window, writes "left top right bottom" to FILE
//   probe close       asks the window to close
// Exit code 0 on success, 1 when no window appeared within 10 s.
#include <windows.h>

#include <stdio.h>

static HWND Find() {
    for (int i = 0; i < 1000; i++) {
        HWND w = FindWindowW(L"ZorunClassicLauncher", 0);
        if (w) return w;
        Sleep(10);
    }
    return 0;
}

int wmain(int argc, wchar_t **argv) {
    if (argc < 2) return 2;
    HWND w = Find();
    if (!w) return 1;
    if (!lstrcmpW(argv[1], L"rect") && argc > 2) {
        RECT r;
        GetWindowRect(w, &r);
        FILE *f = _wfopen(argv[2], L"w");
        if (!f) return 2;
        fprintf(f, "%ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
        fclose(f);
        return 0;
    }
    if (!lstrcmpW(argv[1], L"close")) {
        PostMessageW(w, WM_CLOSE, 0, 0);
        return 0;
    }
    return 2;
}
