// A stand-in for the game client main.exe, for demos and tests: a window that
// says the game would start here, with the working folder and command line it
// was given. When VELMORA_STANDIN_LOG names a file, it also appends both there,
// one line each, so a test can read what the launcher handed over.
#include <windows.h>

#include <stdio.h>

static wchar_t Cwd[MAX_PATH], Cmd[1024];

static void Record() {
    wchar_t log[MAX_PATH];
    if (!GetEnvironmentVariableW(L"VELMORA_STANDIN_LOG", log, MAX_PATH)) return;
    FILE *f = _wfopen(log, L"ab");
    if (!f) return;
    char line[4096];
    int n = WideCharToMultiByte(CP_UTF8, 0, Cwd, -1, line, sizeof line, 0, 0);
    fprintf(f, "cwd=%s\n", n ? line : "");
    n = WideCharToMultiByte(CP_UTF8, 0, Cmd, -1, line, sizeof line, 0, 0);
    fprintf(f, "cmd=%s\n", n ? line : "");
    fclose(f);
}

static void Paint(HWND w) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(w, &ps);
    RECT r;
    GetClientRect(w, &r);
    HBRUSH bg = CreateSolidBrush(RGB(14, 10, 6));
    FillRect(dc, &r, bg);
    DeleteObject(bg);
    SetBkMode(dc, TRANSPARENT);
    HFONT big = CreateFontW(-28, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY, 0,
                            L"Tahoma");
    HFONT small = CreateFontW(-14, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY,
                              0, L"Tahoma");
    HGDIOBJ old = SelectObject(dc, big);
    SetTextColor(dc, RGB(245, 215, 138));
    RECT t = {24, 40, r.right - 24, 90};
    DrawTextW(dc, L"O jogo começaria aqui.", -1, &t, DT_CENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, small);
    SetTextColor(dc, RGB(232, 220, 196));
    wchar_t text[2048];
    wsprintfW(text, L"Pasta de trabalho:\n%s\n\nLinha de comando:\n%s\n\n(Esc fecha esta janela)", Cwd, Cmd);
    RECT b = {24, 110, r.right - 24, r.bottom - 16};
    DrawTextW(dc, text, -1, &b, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    DeleteObject(big);
    DeleteObject(small);
    EndPaint(w, &ps);
}

static LRESULT CALLBACK WndProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    switch (m) {
    case WM_PAINT: Paint(w); return 0;
    case WM_KEYDOWN:
        if (wp == VK_ESCAPE) DestroyWindow(w);
        return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    }
    return DefWindowProcW(w, m, wp, lp);
}

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, LPWSTR, int show) {
    GetCurrentDirectoryW(MAX_PATH, Cwd);
    lstrcpynW(Cmd, GetCommandLineW(), 1024);
    Record();

    WNDCLASSW wc = {};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = inst;
    wc.hCursor = LoadCursorW(0, IDC_ARROW);
    wc.lpszClassName = L"VelmoraStandInGame";
    RegisterClassW(&wc);
    int w = 640, h = 360;
    HWND wnd = CreateWindowExW(0, wc.lpszClassName, L"Velmora (jogo de demonstração)",
                               WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                               (GetSystemMetrics(SM_CXSCREEN) - w) / 2, (GetSystemMetrics(SM_CYSCREEN) - h) / 2,
                               w, h, 0, 0, inst, 0);
    if (!wnd) return 1;
    ShowWindow(wnd, show);
    MSG msg;
    while (GetMessageW(&msg, 0, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
