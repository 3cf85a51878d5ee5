// The window procedure's input side, through a real window receiving real
// messages: hover, press and click, the resolution list, the volume drag, the
// keys, the timers and the network notification. Options go to the real
// registry and INI of the test prefix.
#include <gtest/gtest.h>

#include "app/options.h"
#include "app/state.h"
#include "support/testutil.h"
#include "support/window.h"
#include "ui/layout.h"

namespace {

// Points inside the elements.
const POINT PHome = {380, 50}, POptions = {500, 50}, PDropdown = {300, 200}, PWindowed = {290, 250},
            PFullscreen = {440, 250}, PMusic = {100, 340}, PTray = {400, 340}, PIcon = {400, 370},
            PSave = {480, 410}, PEmpty = {600, 300}, PPlay = {700, 500}, PMinimize = {845, 20},
            PClose = {880, 20};

int RowY(int row) { return RowTop + RowH * row + 10; }

class Input : public ::testing::Test {
protected:
    void SetUp() override {
        ScratchOptions(L"input");
        Music = Icon = Tray = WinMode = 1;
        Volume = 80;
        ResIdx = 2;
        ASSERT_TRUE(OpenWindow());
    }
    void TearDown() override {
        CloseWindow();
        ClearOptionsKey();
    }
    void Click(POINT p) { ::Click(p.x, p.y); }
    void OpenList() {
        if (Page != 1) Click(POptions);
        ASSERT_EQ(Page, 1);
        Click(PDropdown);
        ASSERT_EQ(DdOpen, 1);
    }
    // Nothing written since the last Forget.
    void Forget() {
        DeleteFileW(Ini);
        ClearOptionsKey();
    }
    bool Saved() { return Exists(Ini) && OptionDword(L"Resolution") != -1; }
    bool IniHas(const char *line) { return IniText().find(std::string(line) + "\r\n") != std::string::npos; }
};

TEST_F(Input, HoverFollowsThePointerAndRepaintsOnlyWhenItChanges) {
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
    EXPECT_EQ(Hover, BtnClose);
    EXPECT_TRUE(Dirtied(WM_MOUSELEAVE));
    EXPECT_EQ(Hover, 0);
    EXPECT_EQ(DdHover, -1);

    // Elements of the options page do not exist on the home page.
    EXPECT_FALSE(Move(PMusic.x, PMusic.y));
    EXPECT_EQ(Hover, 0);
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
    EXPECT_EQ(hit(PMusic), HTCAPTION) << "no options element on the home page";
    EXPECT_EQ(hit(PPlay), HTCAPTION) << "no Play button before Ready";
    Ready = 1;
    EXPECT_EQ(hit(PPlay), HTCLIENT);
    OpenList();
    EXPECT_EQ(hit(PEmpty), HTCLIENT);
    EXPECT_EQ(hit({300, 226}), HTCLIENT);
    EXPECT_EQ(hit({300, 300}), HTCLIENT);
}

TEST_F(Input, APressRunsNothingAndAReleaseElsewhereCancels) {
    EXPECT_TRUE(Press(POptions.x, POptions.y)) << "the pressed look needs a repaint";
    EXPECT_EQ(Pressed, TabOptions);
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
    EXPECT_EQ(Music, 0);
    EXPECT_EQ(OptionDword(L"MusicOnOff"), 0);
    Click(PMusic);
    EXPECT_EQ(OptionDword(L"MusicOnOff"), 1);

    Click(PTray);
    EXPECT_EQ(Tray, 0);
    EXPECT_TRUE(IniHas("Bandeja=0"));
    Click(PIcon);
    EXPECT_EQ(Icon, 0);
    EXPECT_TRUE(IniHas("Icone=0"));
    Click(PIcon);
    EXPECT_TRUE(IniHas("Icone=1"));

    Click(PFullscreen);
    EXPECT_EQ(WinMode, 0);
    EXPECT_TRUE(IniHas("Janela=0"));
    Click(PDropdown);
    EXPECT_EQ(DdOpen, 0) << "no resolution box in full-screen mode";
    Click(PWindowed);
    EXPECT_EQ(WinMode, 1);
    EXPECT_TRUE(IniHas("Janela=1"));

    OpenList();
    Click({300, RowY(7)});
    EXPECT_EQ(ResIdx, 7);
    EXPECT_TRUE(IniHas("Largura=1366"));
    EXPECT_TRUE(IniHas("Altura=768"));
    EXPECT_EQ(OptionDword(L"Resolution"), 4);

    Press(40, 370);
    Release(40, 370);
    EXPECT_EQ(Volume, 0);
    EXPECT_TRUE(IniHas("Volume=0"));
    EXPECT_EQ(OptionDword(L"SoundOnOff"), 0);

    Forget();
    Click(PSave);
    EXPECT_TRUE(Saved());
    EXPECT_STREQ(Toast, L"Opções salvas.");
    EXPECT_EQ(IniText(), "[Janela]\r\nVolume=0\r\nJanela=1\r\nBandeja=0\r\nIcone=1\r\nLargura=1366\r\nAltura=768\r\n");
}

// Options that did not reach the game's stores must not pass for saved,
// whichever change tried to save them.
TEST_F(Input, EveryChangeThatCannotBeSavedSaysSo) {
    const wchar_t *failed = L"Não foi possível salvar as opções.";
    wchar_t unwritable[PathLen];
    wsprintfW(unwritable, L"%s\\sem pasta\\ZorunJanela.ini", FreshDir(L"input-unwritable").c_str());
    lstrcpyW(Ini, unwritable);
    Click(POptions);
    struct {
        const char *what;
        void (*act)();
    } changes[] = {
        {"SALVAR", [] { ::Click(PSave.x, PSave.y); }},
        {"a toggle", [] { ::Click(PMusic.x, PMusic.y); }},
        {"the window mode", [] { ::Click(PFullscreen.x, PFullscreen.y); }},
        {"the list",
         [] {
             ::Click(PWindowed.x, PWindowed.y);
             Toast[0] = 0;
             ::Click(PDropdown.x, PDropdown.y);
             ::Click(300, RowY(5));
         }},
        {"the volume",
         [] {
             Press(100, 370);
             Release(150, 370);
         }},
    };
    for (auto &c : changes) {
        SCOPED_TRACE(c.what);
        Toast[0] = 0;
        c.act();
        EXPECT_STREQ(Toast, failed);
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
    EXPECT_TRUE(Move(300, RowY(3)));
    EXPECT_EQ(DdHover, 3);
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
    EXPECT_TRUE(Saved());
    EXPECT_STREQ(Toast, L"Opções salvas.");

    OpenList();
    Click({100, 340});
    EXPECT_EQ(DdOpen, 0);
    EXPECT_EQ(Music, 0);
    EXPECT_EQ(OptionDword(L"MusicOnOff"), 0);

    // An empty spot only closes it.
    OpenList();
    Forget();
    Click(PEmpty);
    EXPECT_EQ(DdOpen, 0);
    EXPECT_EQ(Page, 1);
    EXPECT_FALSE(Saved());

    // The box toggles it; Esc closes it; neither saves.
    OpenList();
    Click(PDropdown);
    EXPECT_EQ(DdOpen, 0);
    OpenList();
    EXPECT_TRUE(Key(VK_ESCAPE));
    EXPECT_EQ(DdOpen, 0);
    EXPECT_TRUE(IsWindow(Wnd));
    EXPECT_FALSE(Saved());

    // The home tab closes it and shows the home page.
    OpenList();
    Click(PHome);
    EXPECT_EQ(DdOpen, 0);
    EXPECT_EQ(Page, 0);
    EXPECT_FALSE(Saved());
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
    EXPECT_EQ(OptionDword(L"Resolution"), 4);

    // Released outside the list: nothing chosen, the list stays open.
    OpenList();
    Forget();
    Press(300, RowY(1));
    Release(PEmpty.x, PEmpty.y);
    EXPECT_EQ(DdOpen, 1);
    EXPECT_EQ(ResIdx, 5);
    EXPECT_FALSE(Saved());

    // The last four lines close it, keep the choice and still save.
    for (int y : {532, 535}) {
        Forget();
        Click({300, y});
        EXPECT_EQ(DdOpen, 0) << y;
        EXPECT_EQ(ResIdx, 5) << y;
        EXPECT_TRUE(Saved()) << y;
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
        EXPECT_EQ(DdOpen, 0);
    }
}

TEST_F(Input, AVolumeDragSavesOnceOnTheReleaseWhereverItEnds) {
    Click(POptions);
    Forget();
    Move(150, 370);
    EXPECT_EQ(Hover, VolumeSlider);
    EXPECT_TRUE(Press(150, 370));
    EXPECT_EQ(Volume, 50) << "the volume jumps to the pressed spot";
    EXPECT_EQ(GetCapture(), Wnd);

    struct {
        int x, y, volume;
        bool repaint;
    } moves[] = {{-30, 370, 0, true}, {-200, 100, 0, false}, {1000, 900, 100, true},
                 {259, -40, 99, true}, {100, 370, 27, true}, {101, 700, 27, false}};
    for (auto m : moves) {
        EXPECT_EQ(Move(m.x, m.y), m.repaint) << m.x;
        EXPECT_EQ(Volume, m.volume) << m.x;
        EXPECT_EQ(Hover, VolumeSlider) << "the hover stays during a drag";
        EXPECT_FALSE(Saved()) << "a move must not save";
    }
    EXPECT_TRUE(Release(PClose.x, PClose.y));
    EXPECT_EQ(Volume, 27) << "the release point does not change the volume";
    EXPECT_TRUE(IsWindow(Wnd)) << "a drag ending on the close button does not close";
    EXPECT_TRUE(IniHas("Volume=27"));
    EXPECT_EQ(OptionDword(L"SoundOnOff"), 1);
    EXPECT_EQ(Pressed, 0);
    EXPECT_EQ(GetCapture(), (HWND)0);

    Forget();
    Move(200, 370);
    EXPECT_EQ(Volume, 27) << "after the release the pointer no longer drags";
    Release(200, 370);
    EXPECT_FALSE(Saved()) << "a stray release saves nothing";
}

TEST_F(Input, AVolumeDragWithTheListOpenClosesItOnRelease) {
    OpenList();
    Press(100, 370);
    EXPECT_EQ(Volume, 27);
    EXPECT_EQ(DdOpen, 1);
    Move(218, 370);
    EXPECT_EQ(Volume, 80);
    Release(300, RowY(6));
    EXPECT_EQ(DdOpen, 0);
    EXPECT_EQ(ResIdx, 2) << "ending over the list chooses no row";
    EXPECT_TRUE(IniHas("Volume=80"));
}

TEST_F(Input, LosingTheCaptureEndsThePress) {
    HWND other = CreateWindowW(L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, 0, 0, 0, 0);
    ASSERT_TRUE(other);

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
    EXPECT_FALSE(Saved());
    SetCapture(other);
    EXPECT_EQ(Pressed, 0);
    EXPECT_TRUE(IniHas("Volume=36"));
    EXPECT_EQ(OptionDword(L"SoundOnOff"), 1);
    Forget();
    Move(250, 370);
    EXPECT_EQ(Volume, 36) << "the drag is over";
    Release(250, 370);
    EXPECT_FALSE(Saved());
    ReleaseCapture();

    // The same through the message alone, with the list open: it closes too.
    OpenList();
    Press(60, 370);
    EXPECT_EQ(Volume, 9);
    EXPECT_TRUE(Dirtied(WM_CAPTURECHANGED, 0, 0));
    EXPECT_EQ(DdOpen, 0);
    EXPECT_TRUE(IniHas("Volume=9"));

    // A capture change with no press in progress does nothing.
    Forget();
    EXPECT_FALSE(Dirtied(WM_CAPTURECHANGED, 0, (LPARAM)other));
    EXPECT_FALSE(Saved());
    DestroyWindow(other);
}

TEST_F(Input, EscClosesTheListThenTheWindow) {
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

TEST_F(Input, EnterBeforeReadyAndOtherKeysDoNothing) {
    BoxSeen box;
    std::thread watch = WatchBox(box, 1500);
    LRESULT r = -1;
    EXPECT_FALSE(Dirtied(WM_KEYDOWN, VK_RETURN, 1, &r));
    EXPECT_EQ(r, 0);
    for (WPARAM k : {(WPARAM)'A', (WPARAM)VK_SPACE, (WPARAM)VK_F4, (WPARAM)VK_F12}) {
        EXPECT_FALSE(Dirtied(WM_KEYDOWN, k, 1, &r));
        EXPECT_EQ(r, 0);
    }
    watch.join();
    EXPECT_FALSE(box.seen) << "Play must not even try before Ready";
    EXPECT_TRUE(IsWindow(Wnd));
    EXPECT_FALSE(Exists(Ini));
    EXPECT_EQ(OptionDword(L"Resolution"), -1);
}

TEST_F(Input, TheAnimationTimerRepaintsOnlyWhileBusy) {
    struct {
        LONG progress;
        bool repaint;
    } cases[] = {{-1, true}, {-1000, true}, {0, false}, {1, false}, {575, false}, {1000, false}, {1100, false}};
    for (auto c : cases) {
        Progress = c.progress;
        EXPECT_EQ(Dirtied(WM_TIMER, TimerAnim), c.repaint) << "Progress " << c.progress;
    }
    Progress = -1;
    EXPECT_FALSE(Dirtied(WM_TIMER, 3)) << "unknown timers are ignored";
    Progress = 500;
    EXPECT_FALSE(Dirtied(WM_TIMER, 3));
}

TEST_F(Input, TwoToastsInARowTheSecondShowsForItsFullTime) {
    Click(POptions);
    Click(PSave);
    DWORD t0 = GetTickCount();
    ASSERT_STREQ(Toast, L"Opções salvas.");
    PumpTimers(1000);
    ASSERT_STREQ(Toast, L"Opções salvas.");
    Click(PSave);
    DWORD t1 = GetTickCount();
    ASSERT_GE(t1 - t0, 1000u);
    // The first toast's time has run out well before this point.
    PumpTimers(2200);
    EXPECT_STREQ(Toast, L"Opções salvas.") << "the second toast was cut short by the first one's timer";
    ValidateRect(Wnd, 0);
    ASSERT_TRUE(WaitFor([] {
        PumpTimers(20);
        return Toast[0] == 0;
    }, 5000));
    EXPECT_GE(GetTickCount() - t1, 2700u);
    RECT u;
    EXPECT_TRUE(GetUpdateRect(Wnd, &u, FALSE)) << "hiding the toast repaints";
    EXPECT_FALSE(KillTimer(Wnd, TimerToast)) << "the toast timer fires once";
    EXPECT_TRUE(KillTimer(Wnd, TimerAnim) || true);
}

TEST_F(Input, NetworkNotificationsRepaintAndReadyBringsPlay) {
    EXPECT_TRUE(Dirtied(WM_NETSTATE, 0));
    Ready = 1;
    EXPECT_TRUE(Dirtied(WM_NETSTATE, 1));
    EXPECT_TRUE(IsWindow(Wnd)) << "without Restart the last notification only repaints";
    Move(PPlay.x, PPlay.y);
    EXPECT_EQ(Hover, BtnPlay);
}

TEST_F(Input, MinimizeCloseAndTheSystemClose) {
    Click(PMinimize);
    EXPECT_TRUE(IsIconic(Wnd));
    ShowWindow(Wnd, SW_RESTORE);
    LRESULT r = 0;
    Dirtied(WM_ERASEBKGND, 0, 0, &r);
    EXPECT_EQ(r, 1);

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

}  // namespace
