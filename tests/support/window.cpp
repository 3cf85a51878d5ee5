#include "support/window.h"

#include <atomic>
#include <thread>

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

Box SendWatchingBox(UINT msg, WPARAM wp, LPARAM lp, std::function<void()> whileOpen) {
    Box seen;
    std::atomic<bool> sent{false};
    std::thread watcher([&] {
        HWND box = 0;
        while (!sent && !box) {
            EnumWindows([](HWND w, LPARAM lp) -> BOOL {
                DWORD pid = 0;
                wchar_t cls[64];
                GetWindowThreadProcessId(w, &pid);
                GetClassNameW(w, cls, 64);
                if (pid == GetCurrentProcessId() && !lstrcmpW(cls, L"#32770") && IsWindowVisible(w)) *(HWND *)lp = w;
                return !*(HWND *)lp;
            }, (LPARAM)&box);
            Sleep(5);
        }
        if (!box) return;
        seen.seen = true;
        wchar_t text[512];
        GetWindowTextW(box, text, 512);
        seen.caption = text;
        GetDlgItemTextW(box, 0xFFFF, text, 512);  // the message's static control
        seen.text = text;
        seen.owner = GetWindow(box, GW_OWNER);
        EnumChildWindows(box, [](HWND c, LPARAM lp) -> BOOL {
            Box *s = (Box *)lp;
            wchar_t cls[64];
            GetClassNameW(c, cls, 64);
            if (!lstrcmpiW(cls, L"Static") && (GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
                s->errorIcon = (HICON)SendMessageW(c, STM_GETICON, 0, 0) == LoadIconW(0, IDI_ERROR);
            if (!lstrcmpiW(cls, L"Button") && IsWindowVisible(c)) {
                s->buttons++;
                s->okButton |= GetDlgCtrlID(c) == IDOK;
            }
            return TRUE;
        }, (LPARAM)&seen);
        if (whileOpen) whileOpen();
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    SendMessageW(Wnd, msg, wp, lp);
    sent = true;
    watcher.join();
    return seen;
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
