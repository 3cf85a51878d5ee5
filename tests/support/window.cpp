#include "support/window.h"

#include "app/state.h"
#include "support/testutil.h"
#include "ui/proc.h"

static const wchar_t *ClassName = L"VelmoraTestWindow";

HWND OpenWindow() {
    static ATOM cls;
    if (!cls) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleW(0);
        wc.hCursor = LoadCursorW(0, IDC_ARROW);
        wc.lpszClassName = ClassName;
        cls = RegisterClassW(&wc);
    }
    InitLock();  // any paint of the window takes it
    Page = Hover = Pressed = DdOpen = 0;
    DdHover = -1;
    Toast[0] = 0;
    Ready = Restart = 0;
    Progress = -1;
    // A plain popup: Wine lets the window manager handle (and waits seconds to
    // unmap) windows with a system menu, and there is no window manager here.
    Wnd = CreateWindowExW(0, ClassName, L"Velmora", WS_POPUP, 20, 30, WinW, WinH, 0, 0, GetModuleHandleW(0), 0);
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

LPARAM Pt(int x, int y) { return MAKELPARAM((WORD)(short)x, (WORD)(short)y); }

bool Dirtied(UINT msg, WPARAM wp, LPARAM lp, LRESULT *result) {
    ValidateRect(Wnd, 0);
    LRESULT r = SendMessageW(Wnd, msg, wp, lp);
    if (result) *result = r;
    RECT u;
    if (!IsWindow(Wnd) || !GetUpdateRect(Wnd, &u, FALSE)) return false;
    RECT all = {0, 0, WinW, WinH};
    return EqualRect(&u, &all) != 0;
}

bool Move(int x, int y) { return Dirtied(WM_MOUSEMOVE, 0, Pt(x, y)); }
bool Press(int x, int y) { return Dirtied(WM_LBUTTONDOWN, MK_LBUTTON, Pt(x, y)); }
bool Release(int x, int y) { return Dirtied(WM_LBUTTONUP, 0, Pt(x, y)); }
void Click(int x, int y) {
    Press(x, y);
    Release(x, y);
}
bool Key(WPARAM key) { return Dirtied(WM_KEYDOWN, key, 1); }

std::wstring ScratchOptions(const std::wstring &name) {
    std::wstring dir = FreshDir(name);
    lstrcpynW(Dir, dir.c_str(), PathLen);
    wsprintfW(Ini, L"%s\\%s", Dir, INI_NAME);
    ClearOptionsKey();
    return dir;
}

std::string IniText() { return ReadBytes(Ini); }

void PumpTimers(DWORD ms) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MSG m;
        while (PeekMessageW(&m, Wnd, WM_TIMER, WM_TIMER, PM_REMOVE)) DispatchMessageW(&m);
        Sleep(5);
    }
}

// Handle values are multiples of 4; a small test process holds far fewer than
// this many.
bool HoldsHandleOf(DWORD pid) {
    for (ULONG_PTR v = 4; v < 0x4000; v += 4) {
        HANDLE h = (HANDLE)v;
        if (GetProcessId(h) == pid || GetProcessIdOfThread(h) == pid) return true;
    }
    return false;
}

std::string RecordField(const std::string &record, const std::string &key) {
    std::string text = "\n" + record, tag = "\n" + key + "=";
    size_t at = text.find(tag);
    if (at == std::string::npos) return "";
    at += tag.size();
    if (key == "ini") return text.substr(at);
    return text.substr(at, text.find('\n', at) - at);
}

std::string WaitRecord(const std::wstring &exe, DWORD ms) {
    // The writer renames the finished record into place and may still hold it
    // for a moment after: until then the record cannot be opened, so read until
    // it can.
    std::wstring path = exe + L".txt";
    std::string text;
    WaitFor([&] {
        text = ReadBytes(path);
        return !text.empty();
    }, ms);
    return text;
}

static BOOL CALLBACK FindBox(HWND w, LPARAM lp) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    wchar_t cls[64];
    GetClassNameW(w, cls, 64);
    if (pid != GetCurrentProcessId() || lstrcmpW(cls, L"#32770") || !IsWindowVisible(w)) return TRUE;
    *(HWND *)lp = w;
    return FALSE;
}

static BOOL CALLBACK LookAtChild(HWND c, LPARAM lp) {
    BoxSeen *s = (BoxSeen *)lp;
    wchar_t cls[64];
    GetClassNameW(c, cls, 64);
    LONG style = GetWindowLongW(c, GWL_STYLE);
    if (!lstrcmpiW(cls, L"Static") && (style & SS_TYPEMASK) == SS_ICON)
        s->errorIcon = (HICON)SendMessageW(c, STM_GETICON, 0, 0) == LoadIconW(0, IDI_ERROR);
    if (!lstrcmpiW(cls, L"Button") && IsWindowVisible(c)) {
        s->buttons++;
        if (GetDlgCtrlID(c) == IDOK) s->okButton = true;
    }
    return TRUE;
}

std::thread WatchBox(BoxSeen &seen, DWORD ms, std::function<void()> whileOpen) {
    return std::thread([&seen, ms, whileOpen] {
        HWND box = 0;
        WaitFor([&] {
            EnumWindows(FindBox, (LPARAM)&box);
            return box != 0;
        }, ms);
        if (!box) return;
        seen.seen = true;
        wchar_t text[512];
        GetWindowTextW(box, text, 512);
        seen.caption = text;
        GetDlgItemTextW(box, 0xFFFF, text, 512);  // the message's static control
        seen.text = text;
        seen.owner = GetWindow(box, GW_OWNER);
        EnumChildWindows(box, LookAtChild, (LPARAM)&seen);
        if (whileOpen) whileOpen();
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
}
