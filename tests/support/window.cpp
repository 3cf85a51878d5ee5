#include "support/window.h"

#include "app/state.h"
#include "support/testutil.h"
#include "ui/proc.h"

HWND OpenWindow() {
    static ATOM cls;
    if (!cls) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleW(0);
        wc.hCursor = LoadCursorW(0, IDC_ARROW);
        wc.lpszClassName = L"VelmoraTestWindow";
        cls = RegisterClassW(&wc);
    }
    ResetState();
    // A plain popup: Wine lets the window manager handle (and waits seconds to
    // unmap) windows with a system menu, and there is no window manager here.
    Wnd = CreateWindowExW(0, L"VelmoraTestWindow", L"Velmora", WS_POPUP, 20, 30, WinW, WinH, 0, 0, 0, 0);
    ShowWindow(Wnd, SW_SHOWNOACTIVATE);  // a hidden window collects no update region
    ValidateRect(Wnd, 0);
    return Wnd;
}

bool TakeQuit(int *code) {
    MSG m;
    if (!PeekMessageW(&m, 0, WM_QUIT, WM_QUIT, PM_REMOVE)) return false;
    if (code) *code = (int)m.wParam;
    return true;
}

void CloseWindow() {
    if (IsWindow(Wnd)) DestroyWindow(Wnd);
    TakeQuit(nullptr);
}

std::wstring ScratchOptions(const std::wstring &name) {
    std::wstring dir = FreshDir(name);
    lstrcpynW(Dir, dir.c_str(), PathLen);
    wsprintfW(Ini, L"%s\\%s", Dir, INI_NAME);
    ClearOptionsKey();
    return dir;
}

LPARAM Pt(int x, int y) { return MAKELPARAM((WORD)(short)x, (WORD)(short)y); }

bool Dirtied(UINT msg, WPARAM wp, LPARAM lp, LRESULT *result) {
    ValidateRect(Wnd, 0);
    LRESULT r = SendMessageW(Wnd, msg, wp, lp);
    if (result) *result = r;
    RECT u, all = {0, 0, WinW, WinH};
    return IsWindow(Wnd) && GetUpdateRect(Wnd, &u, FALSE) && EqualRect(&u, &all);
}

bool Move(int x, int y) { return Dirtied(WM_MOUSEMOVE, 0, Pt(x, y)); }
bool Press(int x, int y) { return Dirtied(WM_LBUTTONDOWN, MK_LBUTTON, Pt(x, y)); }
bool Release(int x, int y) { return Dirtied(WM_LBUTTONUP, 0, Pt(x, y)); }
void Click(int x, int y) {
    Press(x, y);
    Release(x, y);
}
bool Key(WPARAM key) { return Dirtied(WM_KEYDOWN, key, 1); }
std::string IniText() { return ReadBytes(Ini); }

bool PumpTimersUntil(std::function<bool()> cond, DWORD ms) {
    return WaitFor([&] {
        MSG m;
        while (PeekMessageW(&m, Wnd, WM_TIMER, WM_TIMER, PM_REMOVE)) DispatchMessageW(&m);
        return cond();
    }, ms);
}

// Handle values are multiples of 4; a small test process holds far fewer than this.
bool HoldsHandleOf(DWORD pid) {
    for (ULONG_PTR v = 4; v < 0x4000; v += 4)
        if (GetProcessId((HANDLE)v) == pid || GetProcessIdOfThread((HANDLE)v) == pid) return true;
    return false;
}

std::string WaitRecord(const std::wstring &exe, DWORD ms) {
    // The writer renames the finished record into place and may hold it a
    // moment after: until then it cannot be opened, so read until it can.
    std::string text;
    WaitFor([&] { return !(text = ReadBytes(exe + L".txt")).empty(); }, ms);
    return text;
}

std::string RecordField(const std::string &record, const std::string &key) {
    std::string text = "\n" + record, tag = "\n" + key + "=";
    size_t at = text.find(tag);
    if (at == std::string::npos) return "";
    at += tag.size();
    return key == "ini" ? text.substr(at) : text.substr(at, text.find('\n', at) - at);
}
