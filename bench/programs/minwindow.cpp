// The yardstick for the launcher's start-up and memory: the least a Win32
// program does to show a window of the launcher's size. It registers a class,
// opens a borderless 900 x 560 window centred on the screen, paints it one
// colour and pumps messages until it is closed. Built with the launcher's
// compiler and link flags, so that the two differ only in what they do.
#include <windows.h>

static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    switch (m) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(w, &ps);
        HBRUSH b = CreateSolidBrush(RGB(40, 90, 140));
        RECT r = {0, 0, 900, 560};
        FillRect(dc, &r, b);
        DeleteObject(b);
        EndPaint(w, &ps);
        return 0;
    }
    case WM_ERASEBKGND: return 1;
    case WM_KEYDOWN:
        if (wp == VK_ESCAPE) DestroyWindow(w);
        return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    }
    return DefWindowProcW(w, m, wp, lp);
}

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, LPWSTR, int show) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = inst;
    wc.hCursor = LoadCursorW(0, IDC_ARROW);
    wc.lpszClassName = L"VelmoraMinimalWindow";
    RegisterClassW(&wc);
    HWND w = CreateWindowExW(WS_EX_APPWINDOW, wc.lpszClassName, L"Minimal", WS_POPUP | WS_SYSMENU,
                             (GetSystemMetrics(SM_CXSCREEN) - 900) / 2,
                             (GetSystemMetrics(SM_CYSCREEN) - 560) / 2, 900, 560, 0, 0, inst, 0);
    if (!w) return 1;
    ShowWindow(w, show);
    MSG msg;
    while (GetMessageW(&msg, 0, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
