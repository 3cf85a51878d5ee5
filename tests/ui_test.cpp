// The window under the player's hands, through a real window in this process
// receiving real messages: hit testing, hover, press and click, the resolution
// list, the volume drag, keys, timers, the network notifications, the links
// and the desktop shortcut through the shell, Play; and the options against
// the real registry and INI of the test prefix.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/assets.h"
#include "app/options.h"
#include "app/scale.h"
#include "app/state.h"
#include "render/paint.h"
#include "site.h"
#include "support/testutil.h"
#include "ui/layout.h"
#include "ui/proc.h"

namespace {

// ---- A real launcher window in this process -----------------------------------------
// Proc as its window procedure, driven by real messages, the repaints they
// cause seen; and what the programs it starts record.

// The state of a fresh start (ResetState) and the window at Dpi, created at
// (20, 30) as Wnd with an empty update region.
HWND OpenWindow() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Proc;
    wc.hCursor = LoadCursorW(0, IDC_ARROW);
    wc.lpszClassName = L"VelmoraTestWindow";
    RegisterClassW(&wc);  // once; later calls fail harmlessly
    ResetState();
    // A plain popup: Wine lets the window manager handle (and waits seconds to
    // unmap) windows with a system menu, and there is no window manager here.
    Wnd = CreateWindowExW(0, L"VelmoraTestWindow", L"Velmora", WS_POPUP, 20, 30, Scale(WinW), Scale(WinH), 0, 0, 0,
                          0);
    ShowWindow(Wnd, SW_SHOWNOACTIVATE);  // a hidden window collects no update region
    ValidateRect(Wnd, 0);
    return Wnd;
}

// Takes a pending quit message: true with its exit code in *code.
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

// Options go to a fresh scratch INI (Dir, Ini) and an absent registry key;
// returns the scratch folder.
std::wstring ScratchOptions(const std::wstring &name) {
    std::wstring dir = FreshDir(name);
    lstrcpynW(Dir, dir.c_str(), PathLen);
    wsprintfW(Ini, L"%s\\%s", Dir, INI_NAME);
    ClearOptionsKey();
    return dir;
}

LPARAM Pt(int x, int y) { return MAKELPARAM((WORD)(short)x, (WORD)(short)y); }

// Sends one message to Wnd with an empty update region; true when it
// invalidated the whole client area (what Repaint does).
bool Dirtied(UINT msg, WPARAM wp = 0, LPARAM lp = 0, LRESULT *result = nullptr) {
    ValidateRect(Wnd, 0);
    LRESULT r = SendMessageW(Wnd, msg, wp, lp);
    if (result) *result = r;
    RECT u, all = {0, 0, Scale(WinW), Scale(WinH)};
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

// True when this process holds a handle of the process pid or of one of its
// threads: a launcher must keep nothing of what it starts. Handle values are
// multiples of 4; a small test process holds far fewer than this.
bool HoldsHandleOf(DWORD pid) {
    for (ULONG_PTR v = 4; v < 0x4000; v += 4)
        if (GetProcessId((HANDLE)v) == pid || GetProcessIdOfThread((HANDLE)v) == pid) return true;
    return false;
}

// The record tests/programs/recorder.exe writes as "<exe>.txt", waited for up
// to ms (empty when none came), and one of its fields ("ini" runs to the end).
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

// Points inside the elements.
const POINT PHome = {380, 50}, POptions = {500, 50}, PSite = {660, 50}, PRegister = {770, 50},
            PDropdown = {300, 200}, PWindowed = {290, 250}, PFullscreen = {440, 250}, PMusic = {100, 340},
            PTray = {400, 340}, PIcon = {400, 370}, PShortcut = {170, 415}, PSave = {480, 410}, PEmpty = {600, 300},
            PPlay = {700, 500}, PMinimize = {845, 20}, PClose = {880, 20};

int RowY(int row) { return RowTop + RowH * row + 10; }
void Click(POINT p) { Click(p.x, p.y); }
bool IniHas(const std::string &line) { return IniText().find(line + "\r\n") != std::string::npos; }

// What a message box of this process showed.
struct Box {
    bool seen = false;
    std::wstring caption, text;
    HWND owner = nullptr;
};

// Sends one message to Wnd while another thread watches for a message box,
// notes it, runs whileOpen and presses OK. A box holds the sender until it is
// closed, so a send that returns with no box seen showed none.
Box SendWatchingBox(UINT msg, WPARAM wp, LPARAM lp = 0, std::function<void()> whileOpen = {}) {
    Box seen;
    std::atomic<bool> sent{false};
    std::thread watcher([&] {
        HWND box = 0;
        for (DWORD pid = 0; !sent && pid != GetCurrentProcessId(); Sleep(5))
            GetWindowThreadProcessId(box = FindWindowW(L"#32770", 0), &pid);  // the dialogs' class
        if (sent) return;
        seen.seen = true;
        wchar_t text[512];
        GetWindowTextW(box, text, 512);
        seen.caption = text;
        GetDlgItemTextW(box, 0xFFFF, text, 512);  // the message's static control
        seen.text = text;
        seen.owner = GetWindow(box, GW_OWNER);
        if (whileOpen) whileOpen();
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    SendMessageW(Wnd, msg, wp, lp);
    sent = true;
    watcher.join();
    return seen;
}

// ---- Hit testing --------------------------------------------------------------------

// Edges (rectangles are half-open), gaps, and the conditions under which an
// element exists: Play once Ready, the options page's elements on that page,
// the resolution box in windowed mode, the open list over what lies beneath.
TEST(HitTest, EdgesGapsAndConditions) {
    struct Flags {
        int page, ready, winMode, ddOpen;
    };
    const Flags home = {0, 0, 1, 0}, homeReady = {0, 1, 1, 0}, opt = {1, 0, 1, 0}, optFull = {1, 0, 0, 0},
                optReady = {1, 1, 1, 0}, list = {1, 1, 1, 1};
    struct {
        Flags f;
        int x, y, id;
    } cases[] = {
        {home, 437, 50, TabHome}, {home, 438, 50, 0}, {home, 446, 50, TabOptions}, {home, 318, 69, TabHome},
        {home, 318, 70, 0}, {home, 317, 50, 0}, {home, 318, 25, 0}, {home, 861, 33, BtnMinimize},
        {home, 893, 8, BtnClose}, {home, 894, 20, 0}, {home, 622, 34, LinkSite}, {home, 716, 34, LinkRegister},
        {home, 700, 500, 0}, {homeReady, 700, 500, BtnPlay}, {{0, -1, 1, 0}, 700, 500, BtnPlay},
        {optReady, 875, 537, BtnPlay}, {homeReady, 876, 500, 0}, {homeReady, 700, 538, 0},
        {opt, 300, 200, ResDropdown}, {optFull, 300, 200, 0}, {home, 300, 200, 0}, {home, 100, 340, 0},
        {opt, 100, 340, MusicToggle}, {opt, 367, 250, ModeWindowed}, {opt, 368, 250, ModeFullscreen},
        {opt, 296, 340, TrayToggle}, {opt, 545, 389, IconToggle}, {opt, 40, 364, VolumeSlider}, {opt, 150, 390, 0},
        {opt, 44, 400, BtnShortcut}, {opt, 420, 431, BtnSave}, {opt, 544, 410, 0},
        {list, 300, 226, 0}, {list, 300, 223, ResDropdown}, {list, 300, 228, ResList}, {list, 300, 535, ResList},
        {list, 300, 536, 0}, {list, 217, 340, MusicToggle}, {list, 218, 340, ResList}, {list, 517, 300, ResList},
        {list, 518, 370, IconToggle}, {list, 700, 500, BtnPlay}, {{0, 0, 1, 1}, 300, 300, ResList},
        // Outside the client area, as points come while the mouse is captured.
        {list, -1, 300, 0}, {list, 300, -1, 0}, {list, 900, 20, 0}, {list, 300, 560, 0},
        {optReady, -32768, -32768, 0}, {optReady, 32767, 32767, 0}, {optReady, 870, -5, 0},
    };
    for (auto &c : cases) {
        Page = c.f.page;
        Ready = c.f.ready;
        WinMode = c.f.winMode;
        DdOpen = c.f.ddOpen;
        EXPECT_EQ(HitTest(c.x, c.y), c.id) << "(" << c.x << ", " << c.y << ") page " << c.f.page << " ready "
                                           << c.f.ready << " winMode " << c.f.winMode << " ddOpen " << c.f.ddOpen;
    }
}

// Every element at every scale: a click near its middle finds it, one a pixel
// or two beyond any edge of its scaled rectangle does not. The places are the
// layout's (100 %), scaled here by the plain ratio of the DPIs; the exact pixel
// of each edge is render_test's, which holds it against what is drawn.
TEST(HitTest, EveryElementAtEveryScale) {
    struct {
        int id;
        RECT at;  // at 100 %
    } elements[] = {
        {TabHome, {318, 26, 438, 70}},       {TabOptions, {446, 26, 566, 70}},   {LinkSite, {622, 34, 708, 64}},
        {LinkRegister, {716, 34, 828, 64}},  {BtnMinimize, {832, 8, 862, 34}},   {BtnClose, {864, 8, 894, 34}},
        {BtnPlay, {666, 456, 876, 538}},     {ResDropdown, {218, 190, 518, 224}}, {ModeWindowed, {218, 236, 368, 270}},
        {ModeFullscreen, {368, 236, 518, 270}}, {MusicToggle, {40, 330, 260, 356}}, {VolumeSlider, {40, 364, 260, 390}},
        {TrayToggle, {296, 330, 546, 356}},  {IconToggle, {296, 364, 546, 390}}, {BtnShortcut, {44, 400, 306, 432}},
        {BtnSave, {420, 400, 544, 432}},     {ResList, {218, 228, 518, 536}},
    };
    int keep = Dpi;
    for (int dpi : {120, 132, 144, 168, 192, 240}) {
        Dpi = dpi;
        double k = dpi / 96.0;
        for (auto &e : elements) {
            Page = Ready = WinMode = 1;
            DdOpen = e.id == ResList;
            // The scaled edges lie within a pixel of these.
            double l = e.at.left * k, t = e.at.top * k, r = e.at.right * k, b = e.at.bottom * k;
            int cx = (int)((l + r) / 2), cy = (int)((t + b) / 2);
            EXPECT_EQ(HitTest(cx, cy), e.id) << dpi << " dpi, the middle of element " << e.id;
            EXPECT_EQ(HitTest((int)ceil(l) + 1, cy), e.id) << dpi << " dpi, element " << e.id << " inside its left edge";
            EXPECT_EQ(HitTest((int)floor(r) - 2, cy), e.id) << dpi << " dpi, element " << e.id << " inside its right edge";
            EXPECT_EQ(HitTest(cx, (int)ceil(t) + 1), e.id) << dpi << " dpi, element " << e.id << " inside its top";
            EXPECT_EQ(HitTest(cx, (int)floor(b) - 2), e.id) << dpi << " dpi, element " << e.id << " inside its bottom";
            EXPECT_NE(HitTest((int)floor(l) - 1, cy), e.id) << dpi << " dpi, element " << e.id << " left of it";
            EXPECT_NE(HitTest((int)ceil(r) + 1, cy), e.id) << dpi << " dpi, element " << e.id << " right of it";
            EXPECT_NE(HitTest(cx, (int)floor(t) - 1), e.id) << dpi << " dpi, element " << e.id << " above it";
            EXPECT_NE(HitTest(cx, (int)ceil(b) + 1), e.id) << dpi << " dpi, element " << e.id << " below it";
        }
    }
    Dpi = keep;
}

// ---- Input ------------------------------------------------------------------------------

class Input : public ::testing::Test {
protected:
    std::wstring dir;
    void SetUp() override {
        ASSERT_TRUE(OpenWindow());
        dir = ScratchOptions(L"input");
    }
    void TearDown() override {
        CloseWindow();
        ClearOptionsKey();
    }
    void OpenList() {
        if (Page != 1) Click(POptions);
        Click(PDropdown);
        ASSERT_EQ(DdOpen, 1);
    }
    void Forget() {  // nothing written since
        DeleteFileW(Ini);
        ClearOptionsKey();
    }
    bool Saved() { return Exists(Ini) && OptionDword(L"Resolution") != -1; }
};

TEST_F(Input, HoverAndCursorFollowThePointerAndRepaintOnlyWhenTheyChange) {
    HCURSOR hand = LoadCursorW(0, IDC_HAND), arrow = LoadCursorW(0, IDC_ARROW);
    EXPECT_TRUE(Move(PHome.x, PHome.y));
    EXPECT_EQ(Hover, TabHome);
    EXPECT_EQ(GetCursor(), hand);
    EXPECT_FALSE(Move(PHome.x + 10, PHome.y - 10)) << "a move within one element costs no repaint";
    LRESULT r = 0;
    SetCursor(hand);
    Dirtied(WM_SETCURSOR, (WPARAM)Wnd, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE), &r);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(GetCursor(), hand) << "over an element the hand stays";

    EXPECT_TRUE(Move(PEmpty.x, PEmpty.y));
    EXPECT_EQ(Hover, 0);
    EXPECT_EQ(GetCursor(), arrow);
    EXPECT_FALSE(Move(PEmpty.x + 1, PEmpty.y));
    SetCursor(hand);
    Dirtied(WM_SETCURSOR, (WPARAM)Wnd, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(GetCursor(), arrow) << "off the elements the class cursor is set";

    EXPECT_TRUE(Move(PClose.x, PClose.y));
    EXPECT_TRUE(Dirtied(WM_MOUSELEAVE));
    EXPECT_EQ(Hover, 0);
    EXPECT_FALSE(Move(PMusic.x, PMusic.y)) << "no options element on the home page";
}

TEST_F(Input, EmptySpotsDragTheWindowExceptWhileTheListIsOpen) {
    RECT w;
    GetWindowRect(Wnd, &w);
    auto hit = [&](POINT p) {
        LRESULT r = 0;
        Dirtied(WM_NCHITTEST, 0, Pt(w.left + p.x, w.top + p.y), &r);
        return r;
    };
    EXPECT_EQ(hit(PEmpty), HTCAPTION);
    EXPECT_EQ(hit(PHome), HTCLIENT);
    EXPECT_EQ(hit(PPlay), HTCAPTION) << "no Play button before Ready";
    Ready = 1;
    EXPECT_EQ(hit(PPlay), HTCLIENT);
    OpenList();
    EXPECT_EQ(hit(PEmpty), HTCLIENT);
    EXPECT_EQ(hit({300, 226}), HTCLIENT);
}

TEST_F(Input, APressRunsNothingAndAReleaseElsewhereCancels) {
    EXPECT_TRUE(Press(POptions.x, POptions.y)) << "the pressed look needs a repaint";
    EXPECT_EQ(GetCapture(), Wnd);
    EXPECT_EQ(Page, 0);
    EXPECT_TRUE(Release(PHome.x, PHome.y));
    EXPECT_EQ(Pressed, 0);
    EXPECT_EQ(GetCapture(), (HWND)0);
    EXPECT_EQ(Page, 0) << "pressed on one tab, released on the other";
    Press(POptions.x, POptions.y);
    EXPECT_TRUE(Release(POptions.x + 5, POptions.y + 5));
    EXPECT_EQ(Page, 1);
    Press(PHome.x, PHome.y);
    Release(-50, -50);  // outside the window, as a captured release can be
    EXPECT_EQ(Page, 1);
    Click(PHome);
    EXPECT_EQ(Page, 0);
    EXPECT_FALSE(Saved()) << "page switches save nothing";
}

TEST_F(Input, EveryOptionReachesTheRegistryAndTheIniAtOnce) {
    Click(POptions);
    Click(PMusic);
    EXPECT_EQ(OptionDword(L"MusicOnOff"), 0);
    Click(PMusic);
    EXPECT_EQ(OptionDword(L"MusicOnOff"), 1);
    Click(PTray);
    EXPECT_TRUE(IniHas("Bandeja=0"));
    Click(PIcon);
    EXPECT_TRUE(IniHas("Icone=0"));
    Click(PIcon);
    EXPECT_TRUE(IniHas("Icone=1"));
    Click(PFullscreen);
    EXPECT_TRUE(IniHas("Janela=0"));
    Click(PDropdown);
    EXPECT_EQ(DdOpen, 0) << "no resolution box in full-screen mode";
    Click(PWindowed);
    EXPECT_TRUE(IniHas("Janela=1"));
    OpenList();
    Click({300, RowY(7)});
    EXPECT_TRUE(IniHas("Largura=1366"));
    EXPECT_TRUE(IniHas("Altura=768"));
    EXPECT_EQ(OptionDword(L"Resolution"), 4);
    Click({40, 370});
    EXPECT_TRUE(IniHas("Volume=0"));
    EXPECT_EQ(OptionDword(L"SoundOnOff"), 0);
    Forget();
    Click(PSave);  // and the save button saves them all, as they are
    EXPECT_EQ(IniText(), "[Janela]\r\nVolume=0\r\nJanela=1\r\nBandeja=0\r\nIcone=1\r\nLargura=1366\r\nAltura=768\r\n");
}

// Options that did not reach the game's stores must not pass for saved,
// whichever change tried to save them.
TEST_F(Input, EveryChangeThatCannotBeSavedSaysSo) {
    lstrcpyW(Ini, (FreshDir(L"input-unwritable") + L"\\sem pasta\\ZorunJanela.ini").c_str());
    Click(POptions);
    struct {
        const char *what;
        void (*act)();
    } changes[] = {
        {"SALVAR", [] { Click(PSave); }},
        {"a toggle", [] { Click(PMusic); }},
        {"the window mode", [] { Click(PFullscreen); }},
        {"the list",
         [] {
             Click(PWindowed);
             Toast[0] = 0;
             Click(PDropdown);
             Click({300, RowY(5)});
         }},
        {"the volume",
         [] {
             Press(100, 370);
             Release(150, 370);
         }},
    };
    for (auto &c : changes) {
        Toast[0] = 0;
        c.act();
        EXPECT_STREQ(Toast, L"Não foi possível salvar as opções.") << c.what;
    }
    EXPECT_FALSE(Exists(Ini));
}

TEST_F(Input, TheListOpensOnTheCurrentRowAndFollowsThePointer) {
    ResIdx = 4;
    OpenList();
    EXPECT_EQ(DdHover, 4) << "the current choice is highlighted on opening";
    EXPECT_FALSE(Saved()) << "opening the list saves nothing";
    EXPECT_TRUE(Move(300, RowY(2)));
    EXPECT_EQ(Hover, ResList);
    EXPECT_EQ(DdHover, 2);
    EXPECT_FALSE(Move(300, RowY(2) + 5)) << "a move within one row costs no repaint";
    EXPECT_TRUE(Move(300, 533));
    EXPECT_EQ(DdHover, 10) << "the last lines name no row";
    EXPECT_TRUE(Move(PMusic.x, PMusic.y));
    EXPECT_EQ(Hover, MusicToggle);
    EXPECT_EQ(DdHover, -1);
    Click(PDropdown);  // closes
    Click(PDropdown);  // opens again on the current row
    EXPECT_EQ(DdHover, 4);
    EXPECT_TRUE(Move(PEmpty.x, PEmpty.y)) << "the first move off the list removes the highlight";
    EXPECT_EQ(DdHover, -1);
}

TEST_F(Input, ClicksWithTheListOpen) {
    // Beside the list on an element: the list closes and the element still acts.
    OpenList();
    Click({530, 410});
    EXPECT_EQ(DdOpen, 0);
    EXPECT_STREQ(Toast, L"Opções salvas.");
    OpenList();
    Click({100, 340});
    EXPECT_EQ(DdOpen, 0);
    EXPECT_EQ(OptionDword(L"MusicOnOff"), 0);
    // An empty spot, the box again and Esc only close it; the home tab shows its page.
    for (auto close : std::vector<std::function<void()>>{[] { Click(PEmpty); }, [] { Click(PDropdown); },
                                                         [] { Key(VK_ESCAPE); }, [] { Click(PHome); }}) {
        OpenList();
        Forget();
        close();
        EXPECT_EQ(DdOpen, 0);
        EXPECT_TRUE(IsWindow(Wnd));
        EXPECT_FALSE(Saved());
    }
    EXPECT_EQ(Page, 0);
}

TEST_F(Input, ChoosingARow) {
    // Pressed on one row, released on another: the release row counts.
    OpenList();
    Press(300, RowY(3));
    Move(300, RowY(4));
    Release(300, RowY(5));
    EXPECT_EQ(ResIdx, 5);
    EXPECT_EQ(DdOpen, 0);
    EXPECT_TRUE(IniHas("Largura=1440"));
    // Released outside the list: nothing chosen, the list stays open.
    OpenList();
    Forget();
    Press(300, RowY(1));
    Release(PEmpty.x, PEmpty.y);
    EXPECT_EQ(DdOpen, 1);
    EXPECT_FALSE(Saved());
    // The last four lines close it, keep the choice and still save.
    for (int y : {532, 535}) {
        Forget();
        Click({300, y});
        EXPECT_EQ(DdOpen, 0) << y;
        EXPECT_TRUE(IniHas("Largura=1440")) << y;
        OpenList();
    }
    // The lines above the first row choose row 0; the first and last rows' edges.
    struct {
        int y, row;
    } rows[] = {{228, 0}, {262, 1}, {261, 0}, {531, 9}, {502, 9}, {501, 8}};
    for (auto r : rows) {
        ResIdx = 5;
        if (!DdOpen) OpenList();
        Click({300, r.y});
        EXPECT_EQ(ResIdx, r.row) << "y " << r.y;
    }
}

TEST_F(Input, AVolumeDragSavesOnceOnTheReleaseWhereverItEnds) {
    Click(POptions);
    Forget();
    Move(150, 370);
    EXPECT_EQ(Hover, VolumeSlider);
    EXPECT_TRUE(Press(150, 370));
    EXPECT_EQ(Volume, 50) << "the volume jumps to the pressed spot";
    struct {
        int x, y, volume;
        bool repaint;
    } moves[] = {{-30, 370, 0, true}, {-200, 100, 0, false}, {1000, 900, 100, true}, {259, -40, 99, true},
                 {43, 370, 1, true}, {42, 370, 0, true}, {100, 370, 27, true}, {101, 700, 27, false}};
    for (auto m : moves) {
        EXPECT_EQ(Move(m.x, m.y), m.repaint) << m.x;
        EXPECT_EQ(Volume, m.volume) << m.x;
        EXPECT_EQ(Hover, VolumeSlider) << "the hover stays during a drag";
        EXPECT_FALSE(Saved()) << "a move must not save";
    }
    EXPECT_TRUE(Release(PClose.x, PClose.y));
    EXPECT_TRUE(IsWindow(Wnd)) << "a drag ending on the close button does not close";
    EXPECT_TRUE(IniHas("Volume=27"));
    EXPECT_EQ(OptionDword(L"SoundOnOff"), 1);
    EXPECT_EQ(GetCapture(), (HWND)0);
    Forget();
    Move(200, 370);
    EXPECT_EQ(Volume, 27) << "after the release the pointer no longer drags";
    Release(200, 370);
    EXPECT_FALSE(Saved()) << "a stray release saves nothing";

    // With the list open, the drag closes it on release and chooses no row.
    OpenList();
    Press(100, 370);
    Move(218, 370);
    Release(300, RowY(6));
    EXPECT_EQ(DdOpen, 0);
    EXPECT_EQ(ResIdx, 2);
    EXPECT_TRUE(IniHas("Volume=80"));
}

TEST_F(Input, LosingTheCaptureEndsThePress) {
    HWND other = CreateWindowW(L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, 0, 0, 0, 0);
    // A button press taken away: the later release runs nothing.
    Press(POptions.x, POptions.y);
    SetCapture(other);
    EXPECT_EQ(Pressed, 0);
    Release(POptions.x, POptions.y);
    EXPECT_EQ(Page, 0);
    ReleaseCapture();
    // A volume drag taken away is saved once, as a release would.
    Click(POptions);
    Forget();
    Press(150, 370);
    Move(120, 370);
    SetCapture(other);
    EXPECT_TRUE(IniHas("Volume=36"));
    Forget();
    Move(250, 370);
    EXPECT_EQ(Volume, 36) << "the drag is over";
    Release(250, 370);
    EXPECT_FALSE(Saved());
    ReleaseCapture();
    // The same through the message alone, with the list open: it closes too.
    OpenList();
    Press(60, 370);
    EXPECT_TRUE(Dirtied(WM_CAPTURECHANGED, 0, 0));
    EXPECT_EQ(DdOpen, 0);
    EXPECT_TRUE(IniHas("Volume=9"));
    // A capture change with no press in progress does nothing.
    Forget();
    EXPECT_FALSE(Dirtied(WM_CAPTURECHANGED, 0, (LPARAM)other));
    EXPECT_FALSE(Saved());
    DestroyWindow(other);
}

TEST_F(Input, KeysEscClosesTheListThenTheWindowAndTheOthersDoNothing) {
    for (WPARAM k : {(WPARAM)VK_RETURN, (WPARAM)'A', (WPARAM)VK_SPACE, (WPARAM)VK_F4, (WPARAM)VK_F12}) {
        LRESULT r = -1;
        EXPECT_FALSE(SendWatchingBox(WM_KEYDOWN, k, 1).seen) << "Play must not even try before Ready";
        EXPECT_FALSE(Dirtied(WM_KEYDOWN, k, 1, &r));
        EXPECT_EQ(r, 0);
    }
    EXPECT_FALSE(Exists(Ini));
    OpenList();
    EXPECT_TRUE(Key(VK_ESCAPE));
    EXPECT_EQ(DdOpen, 0);
    ASSERT_TRUE(IsWindow(Wnd));
    Key(VK_ESCAPE);
    EXPECT_FALSE(IsWindow(Wnd));
    int code = -1;
    EXPECT_TRUE(TakeQuit(&code));
    EXPECT_EQ(code, 0);
}

// The band's timer repaints while busy; every word of the network thread
// repaints, and Ready brings the Play button.
TEST_F(Input, TimersAndTheNetworkThreadRepaint) {
    for (LONG p : {-1, -1000}) {
        Progress = p;
        EXPECT_TRUE(Dirtied(WM_TIMER, TimerAnim)) << p;
        EXPECT_FALSE(Dirtied(WM_TIMER, 3)) << "unknown timers are ignored";
    }
    for (LONG p : {0, 1, 575, 1000, 1100}) {
        Progress = p;
        EXPECT_FALSE(Dirtied(WM_TIMER, TimerAnim)) << p;
    }
    EXPECT_TRUE(Dirtied(WM_NETSTATE, 0));
    Ready = 1;
    EXPECT_TRUE(Dirtied(WM_NETSTATE, 1));
    EXPECT_TRUE(IsWindow(Wnd)) << "without Restart the last notification only repaints";
    Move(PPlay.x, PPlay.y);
    EXPECT_EQ(Hover, BtnPlay);
}

TEST_F(Input, TwoToastsInARowTheSecondShowsForItsFullTime) {
    Click(POptions);
    Click(PSave);
    DWORD t0 = GetTickCount();
    ASSERT_FALSE(PumpTimersUntil([] { return !Toast[0]; }, 1000));
    Click(PSave);
    DWORD t1 = GetTickCount();
    // The first toast's time runs out well before this point.
    EXPECT_FALSE(PumpTimersUntil([] { return !Toast[0]; }, 2200)) << "the second toast was cut short";
    ASSERT_GE(GetTickCount() - t0, ToastMs + 300u);
    ValidateRect(Wnd, 0);
    ASSERT_TRUE(PumpTimersUntil([] { return !Toast[0]; }, 5000));
    EXPECT_GE(GetTickCount() - t1, ToastMs - 100u);
    RECT u;
    EXPECT_TRUE(GetUpdateRect(Wnd, &u, FALSE)) << "hiding the toast repaints";
    EXPECT_FALSE(KillTimer(Wnd, TimerToast)) << "the toast timer fires once";
}

TEST_F(Input, MinimizeCloseAndTheSystemClose) {
    Click(PMinimize);
    EXPECT_TRUE(IsIconic(Wnd));
    ShowWindow(Wnd, SW_RESTORE);
    Click(PClose);
    EXPECT_FALSE(IsWindow(Wnd));
    int code = -1;
    EXPECT_TRUE(TakeQuit(&code));
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(Saved()) << "closing saves nothing";
    OpenWindow();
    SendMessageW(Wnd, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(Wnd));
    EXPECT_TRUE(TakeQuit(&code));
}

// ---- Links and the desktop shortcut, through the shell -----------------------------------

void SetValue(HKEY root, const std::wstring &key, const wchar_t *name, DWORD type, const std::wstring &v) {
    RegSetKeyValueW(root, key.c_str(), name, type, v.c_str(), (DWORD)((v.size() + 1) * sizeof(wchar_t)));
}

// Processes started by this process since it joined the job (the shell's
// starts included): a program the launcher had the shell run shows here at
// once, whether or not it has ended.
DWORD Started() {
    static HANDLE job;
    if (!job) AssignProcessToJobObject(job = CreateJobObjectW(0, 0), GetCurrentProcess());
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info = {};
    QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info, sizeof info, 0);
    return info.TotalProcesses;
}

// The browser stand-in (tests/programs/recorder.exe) is registered for http and
// https for the test's length, in the classes root (on Wine 8, the machine's
// classes, which its shell reads), and put back afterwards.
class Links : public Input {
protected:
    std::wstring browser, saved[2];
    bool existed[2] = {};
    void SetUp() override {
        Input::SetUp();
        browser = dir + L"\\browser.exe";
        ASSERT_TRUE(CopyFileW(TEST_PROGRAMS L"\\recorder.exe", browser.c_str(), FALSE));
        for (int i = 0; i < 2; i++) {
            std::wstring key = std::wstring(i ? L"https" : L"http") + L"\\shell\\open\\command";
            wchar_t old[1024] = L"";
            DWORD size = sizeof old;
            existed[i] = !RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), 0, RRF_RT_REG_SZ, 0, old, &size);
            saved[i] = old;
            SetValue(HKEY_CLASSES_ROOT, key, 0, REG_SZ, L"\"" + browser + L"\" \"%1\"");
        }
    }
    void TearDown() override {
        for (int i = 0; i < 2; i++) {
            std::wstring key = std::wstring(i ? L"https" : L"http") + L"\\shell\\open\\command";
            if (existed[i]) SetValue(HKEY_CLASSES_ROOT, key, 0, REG_SZ, saved[i]);
            else RegDeleteKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), 0);
        }
        Input::TearDown();
    }
    // Clicks p with Site set to site: the URL the browser was given.
    std::string Open(const std::wstring &site, POINT p) {
        DeleteFileW((browser + L".txt").c_str());
        lstrcpynW(Site, site.c_str(), SiteLen);
        Click(p);
        std::string cmd = RecordField(WaitRecord(browser, 10000), "cmd");  // "<browser>" "<url>"
        size_t end = cmd.rfind('"'), start = end ? cmd.rfind('"', end - 1) : end;
        return start == std::string::npos ? "" : cmd.substr(start + 1, end - start - 1);
    }
};

TEST_F(Links, TheSiteAndTheRegistrationPageOpenInTheBrowser) {
    EXPECT_EQ(Open(L"http://127.0.0.1:9/velmora", PSite), "http://127.0.0.1:9/velmora");
    EXPECT_EQ(Open(L"http://127.0.0.1:9/velmora", PRegister), "http://127.0.0.1:9/velmora/cadastro");
    EXPECT_EQ(Open(L"https://127.0.0.1:9", PRegister), "https://127.0.0.1:9/cadastro");
    EXPECT_EQ(Open(L"HTTPS://127.0.0.1:9/Jogo", PSite), "HTTPS://127.0.0.1:9/Jogo") << "schemes in any case";
    EXPECT_TRUE(IsWindow(Wnd));
    EXPECT_FALSE(Exists(Ini)) << "links save nothing";
}

// The shell would run a local program for any of these.
TEST_F(Links, ASiteThatIsNoWebAddressStartsNothing) {
    std::wstring evil = dir + L"\\evil.exe";
    ASSERT_TRUE(CopyFileW(TEST_PROGRAMS L"\\recorder.exe", evil.c_str(), FALSE));
    DWORD before = Started();
    for (const std::wstring &site : {evil, L"file:///" + evil, std::wstring(L"evil.exe"), std::wstring(L"http:evil.exe"),
                                     std::wstring(L"https:/x"), std::wstring(L"ftp://127.0.0.1:9"),
                                     std::wstring(L" http://127.0.0.1:9"), std::wstring()}) {
        lstrcpynW(Site, site.c_str(), SiteLen);
        Click(PSite);
        Click(PRegister);
        EXPECT_EQ(Started(), before) << Utf8(site);
    }
}

class Shortcut : public Input {
protected:
    const wchar_t *folders = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    std::wstring desk, keep;
    void SetUp() override {
        Input::SetUp();
        wchar_t old[MAX_PATH] = L"";
        DWORD size = sizeof old;
        RegGetValueW(HKEY_CURRENT_USER, folders, L"Desktop", RRF_RT_ANY | RRF_NOEXPAND, 0, old, &size);
        keep = old;
        desk = FreshDir(L"desktop");
        SetValue(HKEY_CURRENT_USER, folders, L"Desktop", REG_EXPAND_SZ, desk);
        lstrcpynW(SelfExe, (dir + L"\\VelmoraLauncher.exe").c_str(), PathLen);
        Click(POptions);
    }
    void TearDown() override {
        SetValue(HKEY_CURRENT_USER, folders, L"Desktop", REG_EXPAND_SZ, keep);
        Input::TearDown();
    }
    // The shortcut's target, working folder, icon and its index, description; empty when unreadable.
    std::wstring Link(const std::wstring &file) {
        std::wstring all;
        IShellLinkW *link = 0;
        IPersistFile *pf = 0;
        CoInitialize(0);
        if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, 0, CLSCTX_INPROC_SERVER, IID_IShellLinkW, (void **)&link)) &&
            SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void **)&pf)) && SUCCEEDED(pf->Load(file.c_str(), STGM_READ))) {
            wchar_t s[4][MAX_PATH] = {};
            int icon = -1;
            link->GetPath(s[0], MAX_PATH, 0, SLGP_RAWPATH);
            link->GetWorkingDirectory(s[1], MAX_PATH);
            link->GetIconLocation(s[2], MAX_PATH, &icon);
            link->GetDescription(s[3], MAX_PATH);
            all = std::wstring(s[0]) + L"|" + s[1] + L"|" + s[2] + L"," + std::to_wstring(icon) + L"|" + s[3];
            CharLowerW(&all[0]);
        }
        if (pf) pf->Release();
        if (link) link->Release();
        CoUninitialize();
        return all;
    }
};

TEST_F(Shortcut, TheShortcutOnTheDesktopStartsTheLauncherInItsFolder) {
    EXPECT_TRUE(Press(PShortcut.x, PShortcut.y));
    EXPECT_TRUE(Release(PShortcut.x, PShortcut.y));
    EXPECT_STREQ(Toast, L"Atalho criado na Área de Trabalho.");
    EXPECT_TRUE(KillTimer(Wnd, TimerToast)) << "the toast's timer runs";
    std::wstring self = SelfExe, folder = Dir;
    std::wstring want = self + L"|" + folder + L"|" + self + L",0|velmora 0.97j";
    CharLowerW(&want[0]);
    EXPECT_EQ(Link(desk + L"\\Velmora.lnk"), want);
    EXPECT_FALSE(Exists(Ini)) << "the shortcut saves no options";
    // A second click replaces it. For a launcher in a drive's root (Dir "C:")
    // it starts in the root, not in the drive's current folder.
    lstrcpynW(Dir, L"C:", PathLen);
    Click(PShortcut);
    want = self + L"|c:\\|" + self + L",0|velmora 0.97j";
    CharLowerW(&want[0]);
    EXPECT_EQ(Link(desk + L"\\Velmora.lnk"), want);
}

TEST_F(Shortcut, AFailedSaveShowsItsToastAndNoDesktopFolderShowsNone) {
    ASSERT_TRUE(CreateDirectoryW((desk + L"\\Velmora.lnk").c_str(), 0));  // where the file would go
    Click(PShortcut);
    EXPECT_STREQ(Toast, L"Não foi possível criar o atalho.");
    EXPECT_TRUE(KillTimer(Wnd, TimerToast));
    Toast[0] = 0;
    SetValue(HKEY_CURRENT_USER, folders, L"Desktop", REG_EXPAND_SZ, desk + L"\\missing");
    wchar_t shellDesk[MAX_PATH];
    ASSERT_TRUE(FAILED(SHGetFolderPathW(0, CSIDL_DESKTOPDIRECTORY, 0, SHGFP_TYPE_CURRENT, shellDesk)));
    Press(PShortcut.x, PShortcut.y);
    EXPECT_TRUE(Release(PShortcut.x, PShortcut.y)) << "still a repaint";
    EXPECT_STREQ(Toast, L"");
    EXPECT_FALSE(KillTimer(Wnd, TimerToast)) << "no toast, no timer";
    EXPECT_FALSE(Exists(desk + L"\\missing"));
}

// ---- Play and the restart ------------------------------------------------------------------

const wchar_t *NoGame = L"Não encontrei o main.exe. O launcher precisa ficar na pasta do jogo.";

class Launch : public Input {
protected:
    std::wstring game, elsewhere;
    wchar_t cwd[MAX_PATH];
    void SetUp() override {
        Input::SetUp();
        game = dir + L"\\main.exe";
        // The launcher may well be started from another folder than its own.
        GetCurrentDirectoryW(MAX_PATH, cwd);
        SetCurrentDirectoryW((elsewhere = FreshDir(L"play-elsewhere")).c_str());
    }
    void TearDown() override {
        SetCurrentDirectoryW(cwd);
        Input::TearDown();
    }
    // The program recorded that it started in Dir with no arguments, and the
    // launcher kept no handle of it and ended.
    void ExpectStartedAndEnded(const std::string &record, const std::wstring &exe) {
        ASSERT_FALSE(record.empty()) << "the program did not start";
        EXPECT_EQ(RecordField(record, "cwd"), Utf8(dir));
        std::string cmd = RecordField(record, "cmd");
        EXPECT_TRUE(cmd == Utf8(exe) || cmd == "\"" + Utf8(exe) + "\"") << "no arguments: " << cmd;
        EXPECT_FALSE(HoldsHandleOf((DWORD)std::stoul(RecordField(record, "pid")))) << "a handle was left open";
        EXPECT_FALSE(IsWindow(Wnd)) << "the window must be destroyed";
        int code = -1;
        EXPECT_TRUE(TakeQuit(&code));
        EXPECT_EQ(code, 0);
    }
};

TEST_F(Launch, OnceReadyEnterOrPlaySavesThenStartsTheGameInItsFolderAndCloses) {
    // The handle check itself sees a handle that is held.
    HANDLE p = Start(TEST_PROGRAMS L"\\recorder.exe");
    ASSERT_TRUE(p);
    WaitExit(p, 10000);
    EXPECT_TRUE(HoldsHandleOf(GetProcessId(p)));
    CloseHandle(p);

    ASSERT_TRUE(CopyFileW(TEST_PROGRAMS L"\\recorder.exe", game.c_str(), FALSE));
    for (bool enter : {true, false}) {
        SCOPED_TRACE(enter ? "Enter" : "Play");
        OpenWindow();
        Forget();
        DeleteFileW((game + L".txt").c_str());
        Music = 0;
        Volume = 33;
        ResIdx = 9;
        enter ? (void)Key(VK_RETURN) : Click(PPlay);
        EXPECT_TRUE(IsWindow(Wnd)) << "nothing before Ready";
        EXPECT_FALSE(Exists(Ini));
        Ready = 1;
        enter ? (void)Key(VK_RETURN) : Click(PPlay);
        std::string record = WaitRecord(game, 10000);
        ExpectStartedAndEnded(record, game);
        // The game found the options already written when it started.
        std::string ini = RecordField(record, "ini");
        EXPECT_NE(ini.find("Volume=33\r\n"), std::string::npos) << ini;
        EXPECT_NE(ini.find("Largura=1920\r\nAltura=1080\r\n"), std::string::npos) << ini;
        EXPECT_EQ(OptionDword(L"MusicOnOff"), 0);
    }
}

// Each cause once: no main.exe, a main.exe that is no program, and a folder
// with no room for "\main.exe" (Dir is at most 243 units at start-up, but Play
// must never depend on that). The player gets the one message box, over the
// window, and the launcher stays with the options saved.
TEST_F(Launch, WhenTheGameCannotStartTheMessageBoxShowsAndTheLauncherStays) {
    for (int cause = 0; cause < 3; cause++) {
        SCOPED_TRACE(cause);
        if (cause == 1) ASSERT_TRUE(WriteBytes(game, "not a program"));
        if (cause == 2) lstrcpynW(Dir, (L"C:\\" + std::wstring(256, L'd')).c_str(), PathLen);
        Ready = 1;
        Volume = 12 + cause;
        std::string iniWhileOpen;
        Box box = SendWatchingBox(WM_KEYDOWN, VK_RETURN, 1, [&] { iniWhileOpen = IniText(); });
        ASSERT_TRUE(box.seen) << "no message box";
        EXPECT_EQ(box.caption, L"Velmora");
        EXPECT_EQ(box.text, NoGame);
        EXPECT_EQ(box.owner, Wnd) << "the box belongs to the launcher's window";
        EXPECT_NE(iniWhileOpen.find("Volume=" + std::to_string(12 + cause) + "\r\n"), std::string::npos);
        EXPECT_EQ(lstrlenW(Dir), cause == 2 ? 259 : (int)dir.size()) << "Dir untouched";
        EXPECT_TRUE(IsWindow(Wnd));
        EXPECT_FALSE(TakeQuit(nullptr));
    }
}

// A launcher in a drive's root has the folder "C:", which as a current folder
// names the drive's current folder: the game must start in "C:\".
TEST_F(Launch, FromADrivesRootTheGameStartsInTheRoot) {
    const std::wstring root = L"C:\\main.exe";
    ASSERT_TRUE(CopyFileW(TEST_PROGRAMS L"\\recorder.exe", root.c_str(), FALSE));
    DeleteFileW((root + L".txt").c_str());
    lstrcpynW(Dir, L"C:", PathLen);
    Ready = 1;
    Key(VK_RETURN);
    EXPECT_EQ(RecordField(WaitRecord(root, 10000), "cwd"), "C:\\");
    EXPECT_FALSE(IsWindow(Wnd));
    for (const std::wstring &f : {root, root + L".txt"}) DeleteFileW(f.c_str());
}

TEST_F(Launch, TheLastNotificationWithRestartStartsTheNewLauncherInDir) {
    std::wstring exe = dir + L"\\VelmoraLauncher.exe";
    ASSERT_TRUE(CopyFileW(TEST_PROGRAMS L"\\recorder.exe", exe.c_str(), FALSE));
    lstrcpynW(SelfExe, exe.c_str(), PathLen);
    Ready = Restart = 1;
    Dirtied(WM_NETSTATE, 0);
    EXPECT_TRUE(IsWindow(Wnd)) << "only the last notification restarts";
    Dirtied(WM_NETSTATE, 1);
    ExpectStartedAndEnded(WaitRecord(exe, 10000), exe);
    EXPECT_FALSE(Exists(Ini)) << "a restart has nothing to save";
    // When the new launcher cannot start, this one ends all the same, quietly.
    OpenWindow();
    lstrcpynW(SelfExe, (dir + L"\\missing.exe").c_str(), PathLen);
    Ready = Restart = 1;
    EXPECT_FALSE(SendWatchingBox(WM_NETSTATE, 1).seen) << "a failed restart shows nothing";
    EXPECT_FALSE(IsWindow(Wnd));
    EXPECT_TRUE(TakeQuit(nullptr));
}

// ---- The window at the system's scale ------------------------------------------------------
// These take the scale from the system as the launcher does: 100 % in make
// test's session, and each scale in turn when tests/scale_test.py runs them in
// a session whose LogPixels it sets.

#ifndef WM_GETDPISCALEDSIZE
#define WM_GETDPISCALEDSIZE 0x02E4
#endif

class Scaled : public Input {
protected:
    int keep = 96;
    void SetUp() override {
        keep = Dpi;
        Dpi = SystemDpi();
        LoadAssets();
        Input::SetUp();
    }
    void TearDown() override {
        Input::TearDown();
        Dpi = keep;
        LoadAssets();
    }
    // A point of the layout (100 %) in the window at its scale, by the plain
    // ratio: for points well inside elements, where rounding does not matter.
    static POINT At(int x, int y) { return {x * Dpi / 96, y * Dpi / 96}; }
    // The frame at the window's size as PaintFrame draws it now, or as the
    // window shows it after a paint: 0x00RRGGBB a pixel, rows top to bottom.
    static std::vector<DWORD> Frame(bool shown) {
        int w = Scale(WinW), h = Scale(WinH);
        BITMAPINFO bi = {};
        bi.bmiHeader = {sizeof bi.bmiHeader, w, -h, 1, 32, BI_RGB};
        void *bits = nullptr;
        HDC dc = CreateCompatibleDC(0);
        HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, 0, 0);
        SelectObject(dc, bmp);
        if (shown) {
            InvalidateRect(Wnd, 0, FALSE);
            UpdateWindow(Wnd);
            HDC window = GetDC(Wnd);
            BitBlt(dc, 0, 0, w, h, window, 0, 0, SRCCOPY);
            ReleaseDC(Wnd, window);
        } else {
            PaintFrame(dc);
        }
        GdiFlush();
        std::vector<DWORD> px((DWORD *)bits, (DWORD *)bits + (size_t)w * h);
        for (DWORD &p : px) p &= 0xFFFFFF;
        DeleteDC(dc);
        DeleteObject(bmp);
        return px;
    }
    // Where the frame has the colour c inside r.
    static RECT InkOf(COLORREF c, RECT r) {
        std::vector<DWORD> px = Frame(false);
        RECT ink = {INT_MAX, INT_MAX, INT_MIN, INT_MIN};
        DWORD want = GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c);
        for (int y = r.top; y < r.bottom; y++)
            for (int x = r.left; x < r.right; x++)
                if (px[(size_t)y * Scale(WinW) + x] == want)
                    ink = {std::min<LONG>(ink.left, x), std::min<LONG>(ink.top, y), std::max<LONG>(ink.right, x + 1),
                           std::max<LONG>(ink.bottom, y + 1)};
        return ink;
    }
};

// At the scale of the system: the window's size, clicks on the tabs and the
// music toggle and just beside them, the volume from 0 to 100, the list's
// rows, and the toast where the bottom panel has room for it.
TEST_F(Scaled, EveryClickLandsWhereTheWindowDrawsIt) {
    std::printf("the system's scale: %d dpi\n", Dpi);
    RECT c;
    GetClientRect(Wnd, &c);
    EXPECT_NEAR(c.right, 900 * Dpi / 96.0, 0.5);  // the nearest pixel (exact at 125, 150, 175 and 200 %)
    EXPECT_NEAR(c.bottom, 560 * Dpi / 96.0, 0.5);
    Click(At(506, 48));
    EXPECT_EQ(Page, 1) << "the options tab";
    Click({(int)floor(318 * Dpi / 96.0) - 1, At(0, 48).y});
    EXPECT_EQ(Page, 1) << "beside the home tab";
    Click(At(378, 48));
    EXPECT_EQ(Page, 0) << "the home tab";
    Click(At(506, 48));
    Click({At(100, 0).x, (int)floor(330 * Dpi / 96.0) - 1});
    EXPECT_EQ(Music, 1) << "above the music toggle";
    Click(At(100, 343));
    EXPECT_EQ(Music, 0) << "the music toggle";

    Press(At(150, 377).x, At(150, 377).y);
    EXPECT_NEAR(Volume, 50, 1) << "the volume jumps to the pressed spot";
    Move(-5, At(0, 377).y);
    EXPECT_EQ(Volume, 0);
    Move(Scale(WinW) + 5, At(0, 377).y);
    EXPECT_EQ(Volume, 100);
    Release(Scale(WinW) + 5, At(0, 377).y);
    EXPECT_TRUE(IniHas("Volume=100"));

    for (int row : {0, 4, 9}) {
        Click(At(368, 207));
        ASSERT_EQ(DdOpen, 1) << "the resolution box";
        Click(At(368, 232 + 30 * row + 15));
        EXPECT_EQ(ResIdx, row);
        EXPECT_EQ(DdOpen, 0);
    }

    Click(At(482, 416));
    EXPECT_STREQ(Toast, L"Opções salvas.");
    RECT ink = InkOf(RGB(245, 215, 138), {At(240, 0).x, At(0, 500).y, At(640, 0).x, At(0, 540).y});
    EXPECT_GE(ink.right, At(620, 0).x) << "the toast ends where the panel's text does";
    EXPECT_LE(ink.right, At(628, 0).x + 1) << "the toast ends where the panel's text does";
    EXPECT_GE(ink.top, At(0, 512).y - 1);
    EXPECT_LE(ink.bottom, At(0, 530).y + 1);
}

// A move to a monitor of another scale, as Windows announces it: asked for its
// size there, the window gives its exact size at that scale; told, it takes
// the place and size suggested and is drawn anew at the new scale, where the
// clicks land too.
TEST_F(Scaled, AMonitorOfAnotherScaleResizesTheWindowAndDrawsItAnew) {
    int to = Dpi == 144 ? 192 : 144;
    SIZE size = {1, 1};
    EXPECT_TRUE(SendMessageW(Wnd, WM_GETDPISCALEDSIZE, MAKEWPARAM(to, to), (LPARAM)&size));
    EXPECT_EQ(size.cx, 900 * to / 96);
    EXPECT_EQ(size.cy, 560 * to / 96);
    RECT suggested = {40, 30, 40 + size.cx, 30 + size.cy}, now;
    EXPECT_TRUE(Dirtied(WM_DPICHANGED, MAKEWPARAM(to, to), (LPARAM)&suggested));
    GetWindowRect(Wnd, &now);
    EXPECT_TRUE(EqualRect(&now, &suggested));
    EXPECT_EQ(Dpi, to);
    BITMAP bm = {};
    GetObjectW(BgHome, sizeof bm, &bm);
    EXPECT_EQ(bm.bmWidth, size.cx) << "the art of the new scale";
    EXPECT_EQ(Spr[0].width, 230 * to / 96);
    // What the window shows is the frame at the new scale (the busy band, which
    // moves with the clock, stopped), where the window is on the screen.
    Progress = 1000;
    std::vector<DWORD> shown = Frame(true), drawn = Frame(false);
    int seenW = std::min<int>(size.cx, GetSystemMetrics(SM_CXSCREEN) - suggested.left),
        seenH = std::min<int>(size.cy, GetSystemMetrics(SM_CYSCREEN) - suggested.top), differ = 0;
    for (int y = 0; y < seenH; y++)
        for (int x = 0; x < seenW; x++) differ += shown[(size_t)y * size.cx + x] != drawn[(size_t)y * size.cx + x];
    EXPECT_EQ(differ, 0) << "pixels of the window that are not the frame";
    RECT status = InkOf(RGB(232, 220, 196), {0, 0, size.cx, size.cy});  // the status line's text
    EXPECT_NEAR(status.left, 42 * to / 96.0, 3);
    Click(At(506, 48));
    EXPECT_EQ(Page, 1) << "a click at the new scale";
}

// ---- The options against the registry and the INI ------------------------------------------

class Options : public ::testing::Test {
protected:
    void SetUp() override {
        ResetState();
        ScratchOptions(L"options");
    }
    void TearDown() override { ClearOptionsKey(); }
    void Ini_(const std::string &text) { ASSERT_TRUE(WriteBytes(Ini, text)); }
    void SetRegistry(const wchar_t *name, DWORD type, const void *data) {
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, OPTIONS_KEY, name, type, data, 4), ERROR_SUCCESS);
    }
};

// What a launcher started for the first time holds, and saves as the game reads it.
TEST_F(Options, AFreshStartLoadsTheDefaultsAndSavesThemInTheGameFormat) {
    LoadOptions();
    EXPECT_STREQ(Site, DEFAULT_SITE);
    EXPECT_FALSE(Exists(Ini)) << "loading must not create the INI";
    SaveOptions();
    EXPECT_EQ(OptionDword(L"Resolution"), 2);
    EXPECT_EQ(OptionDword(L"MusicOnOff"), 1);
    EXPECT_EQ(OptionDword(L"SoundOnOff"), 1);
    EXPECT_EQ(IniText(), "[Janela]\r\nVolume=80\r\nJanela=1\r\nBandeja=1\r\nIcone=1\r\nLargura=1024\r\nAltura=768\r\n");
}

TEST_F(Options, OddValuesAreCorrectedOnLoadAndWrittenBackCorrected) {
    struct Case {
        const char *ini;
        DWORD music;
        const char *saved;  // the [Janela] lines written back
        long long musicOut, soundOut;
    } cases[] = {
        {"[Janela]\r\nVolume=150\r\nJanela=2\r\nBandeja=sim\r\nIcone=-3\r\nLargura=1366\r\nAltura=767\r\n", 5,
         "Volume=100\r\nJanela=1\r\nBandeja=0\r\nIcone=1\r\nLargura=1024\r\nAltura=768\r\n", 1, 1},
        {"[Janela]\nVolume=-5\nMusicOnOff=1\n", 0, "Volume=0\r\n", 0, 0},
    };
    for (const Case &c : cases) {
        Ini_(c.ini);
        SetRegistry(L"MusicOnOff", REG_DWORD, &c.music);
        LoadOptions();
        SaveOptions();
        EXPECT_NE(IniText().find(c.saved), std::string::npos) << IniText();
        EXPECT_EQ(OptionDword(L"MusicOnOff"), c.musicOut) << "music follows the registry only";
        EXPECT_EQ(OptionDword(L"SoundOnOff"), c.soundOut);
    }
    // A value of another type is still read as its four bytes; the values
    // derived from the others are written over whatever was made of them.
    SetRegistry(L"MusicOnOff", REG_BINARY, "\x01\x00\x00\x00");
    DWORD one = 1, zero = 0;
    SetRegistry(L"Resolution", REG_DWORD, &one);
    SetRegistry(L"SoundOnOff", REG_DWORD, &zero);
    Ini_("[Janela]\r\nVolume=80\r\n");
    LoadOptions();
    SaveOptions();
    EXPECT_EQ(OptionDword(L"MusicOnOff"), 1);
    EXPECT_EQ(OptionDword(L"Resolution"), 2);
    EXPECT_EQ(OptionDword(L"SoundOnOff"), 1);
}

// The game knows four size classes; "the screen" (width 0) counts as the largest.
TEST_F(Options, EveryRowLoadsFromItsSizeAndSavesTheGamesCode) {
    const int codes[ResCount] = {4, 1, 2, 3, 3, 4, 3, 4, 4, 4};
    for (int row = 0; row < ResCount; row++) {
        std::string sizes = "Largura=" + std::to_string(Res[row].width) + "\r\nAltura=" + std::to_string(Res[row].height) + "\r\n";
        Ini_("[Janela]\r\n" + sizes);
        ResIdx = 2;
        LoadOptions();
        EXPECT_EQ(ResIdx, row);
        SaveOptions();
        EXPECT_EQ(OptionDword(L"Resolution"), codes[row]) << "row " << row;
        EXPECT_NE(IniText().find(sizes), std::string::npos) << "row " << row;
    }
}

TEST_F(Options, SavesKeepOtherSectionsKeysAndTheSite) {
    Ini_("[Outra]\r\nChave=valor\r\n[Janela]\r\nAltura=600\r\nExtra=7\r\nLargura=800\r\n"
         "[Launcher]\r\nSite=http://127.0.0.1:8080\r\n");
    LoadOptions();
    EXPECT_STREQ(Site, L"http://127.0.0.1:8080");
    WinMode = 0;
    SaveOptions();
    for (const char *kept : {"[Outra]\r\nChave=valor\r\n", "Extra=7", "[Launcher]\r\nSite=http://127.0.0.1:8080",
                             "Janela=0", "Altura=600", "Largura=800"})  // borderless still stores the row's size
        EXPECT_NE(IniText().find(kept), std::string::npos) << kept;
    // A site too long for its buffer is cut to it.
    std::string site = "http://" + std::string(300, 'a');
    Ini_("[Launcher]\r\nSite=" + site + "\r\n");
    LoadOptions();
    EXPECT_EQ(Utf8(Site), site.substr(0, SiteLen - 1));
}

// How many files the update fetches at once: a number is taken to the nearest
// of 1 and 8, anything else (or nothing) gives 4.
TEST_F(Options, TheDownloadsKeyIsOneToEight) {
    struct Case {
        const char *value;
        int lanes;
    } cases[] = {{nullptr, 4}, {"", 4}, {"1", 1}, {"3", 3}, {"8", 8}, {"9", 8}, {"99999999999", 8}, {"0", 1},
                 {"-2", 1}, {" 6 ", 6}, {"+2", 2}, {"dois", 4}, {"5x", 4}};
    for (const Case &c : cases) {
        Ini_(c.value ? "[Launcher]\r\nDownloads=" + std::string(c.value) + "\r\n" : "[Launcher]\r\n");
        Lanes = 0;
        LoadOptions();
        EXPECT_EQ(Lanes, c.lanes) << (c.value ? c.value : "(none)");
    }
}

TEST_F(Options, AnUnwritableIniLeavesTheOptionsInMemoryAndSaysSo) {
    EXPECT_EQ(SaveOptions(), 1);
    lstrcatW(Ini, L"\\missing\\ZorunJanela.ini");
    Volume = 33;
    EXPECT_EQ(SaveOptions(), 0);
    EXPECT_FALSE(Exists(Ini));
    EXPECT_EQ(Volume, 33);
    EXPECT_EQ(OptionDword(L"SoundOnOff"), 1) << "the registry is written all the same";
}

}  // namespace
