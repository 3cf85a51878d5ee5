// The frame as the player sees it: PaintFrame, the function the window's paint
// cycle runs, draws from states set here into an off-screen DIB with the art
// as built, and the pixels are checked. A sprite must equal the platform's
// AlphaBlend of the sprite the state selects over the page's background; fills
// must equal their blend; a text must leave ink of its colour where it belongs.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "app/options.h"
#include "app/state.h"
#include "render/draw.h"
#include "render/paint.h"
#include "support/frame.h"
#include "support/testutil.h"
#include "ui/layout.h"

namespace {

const COLORREF Bright = RGB(255, 248, 232), Body = RGB(232, 220, 196), Muted = RGB(158, 142, 116),
               Gold = RGB(245, 215, 138), Warn = RGB(240, 180, 110), GoldFill = RGB(200, 150, 60),
               GoldDark = RGB(150, 112, 46), ListFrame = RGB(200, 156, 72), Track = RGB(20, 16, 10),
               Panel = RGB(14, 10, 6), Black = RGB(0, 0, 0);

bool Inside(const RECT &r, int x, int y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

class Frame : public ::testing::Test {
protected:
    Dib f{WinW, WinH};  // the frame
    Dib g{WinW, WinH};  // the background of the page it shows

    void SetUp() override {
        LoadArt();
        FreshState();
        ASSERT_TRUE(BgHome && BgOpt) << "the test carries the launcher's resources";
        ASSERT_EQ(Spr[SprFill].width, 582);
    }
    void Paint() {
        PaintFrame(f.dc);
        PaintBackground(g, Page);
    }

    // Which of the sprites base .. base + n - 1 the frame shows at (x, y): the
    // one whose AlphaBlend over the page background equals the frame in the
    // sprite's area outside skip; -1 when none does, -2 when several do.
    int Look(int base, int n, int x, int y, std::vector<RECT> skip = {}) {
        // Neighbours overlap in their glow margins: the tabs, the links and
        // the minimize button, the resolution box and the mode choices.
        for (RECT r : {RECT{436, 16, 448, 80}, RECT{706, 24, 718, 74}, RECT{832, 24, 838, 34},
                       RECT{208, 226, 528, 234}, RECT{358, 226, 378, 280}})
            skip.push_back(r);
        int found = -1;
        Dib o(WinW, WinH);
        for (int i = base; i < base + n; i++) {
            PaintBackground(o, Page);
            BlendSprite(o, i, x, y);
            bool same = true;
            for (int py = y; same && py < y + Spr[i].height; py++)
                for (int px = x; same && px < x + Spr[i].width; px++) {
                    bool skipped = false;
                    for (const RECT &s : skip) skipped |= Inside(s, px, py);
                    if (!skipped && o.Rgb(px, py) != f.Rgb(px, py)) same = false;
                }
            if (same) found = found == -1 ? i : -2;
        }
        return found;
    }

    // The ink that text of colour c left in r over the background.
    Ink Text(RECT r, COLORREF c) { return InkIn(f, g, r, c); }

    bool SameAsBackground(RECT r) { return InkIn(f, g, r, 0).count == 0; }
};

// Ink as wide as the text, allowing for the glyphs' side bearings.
#define EXPECT_INK_WIDTH(ink, font, text) \
    EXPECT_NEAR((ink).box.right - (ink).box.left, TextWidth(font, text), 4) << "ink of " << Utf8(text)

struct LookCase {
    const char *what;
    std::function<void()> set;
    int base, n, x, y;
    int want;
    std::vector<RECT> skip;
};

}  // namespace

// ---- Sprites by state ------------------------------------------------------------------

TEST_F(Frame, EachWidgetShowsTheSpriteItsStateSelects) {
    const RECT resLabel = {232, 190, 478, 224}, listTop = {208, 228, 528, 234}, note = {208, 274, 528, 280};
    auto home = [](std::function<void()> more) { return [more] { Page = 0; more(); }; };
    auto opts = [](std::function<void()> more) { return [more] { Page = 1; more(); }; };
    std::vector<LookCase> cases = {
        // The server badge by ServerUp.
        {"badge up", home([] { ServerUp = 1; }), 30, 3, 404, 142, 30},
        {"badge up (any positive)", home([] { ServerUp = 7; }), 30, 3, 404, 142, 30},
        {"badge down", home([] { ServerUp = 0; }), 30, 3, 404, 142, 31},
        {"badge unknown", home([] { ServerUp = -1; }), 30, 3, 404, 142, 32},
        // Play: greyed until Ready, then the push-button rule, on both pages.
        {"play not ready", home([] {}), 0, 4, 656, 446, 3},
        {"play not ready, pressed", home([] { Hover = Pressed = BtnPlay; }), 0, 4, 656, 446, 3},
        {"play ready", home([] { Ready = 1; }), 0, 4, 656, 446, 0},
        {"play hovered", home([] { Ready = 1; Hover = BtnPlay; }), 0, 4, 656, 446, 1},
        {"play pressed", home([] { Ready = 1; Hover = Pressed = BtnPlay; }), 0, 4, 656, 446, 2},
        {"play pressed and left", home([] { Ready = 1; Pressed = BtnPlay; }), 0, 4, 656, 446, 0},
        {"play pressed, pointer on a link", home([] { Ready = 1; Pressed = BtnPlay; Hover = LinkSite; }), 0, 4, 656, 446, 0},
        {"play hovered while Save is pressed", opts([] { Ready = 1; Hover = BtnPlay; Pressed = BtnSave; }), 0, 4, 656, 446, 1},
        {"play on the options page", opts([] { Ready = 1; }), 0, 4, 656, 446, 0},
        // Tabs: the page's own tab is active even when hovered.
        {"home tab on home", home([] {}), 16, 3, 308, 16, 18},
        {"home tab on home, hovered", home([] { Hover = TabHome; }), 16, 3, 308, 16, 18},
        {"options tab on home", home([] {}), 19, 3, 436, 16, 19},
        {"options tab on home, hovered", home([] { Hover = TabOptions; }), 19, 3, 436, 16, 20},
        {"home tab on options", opts([] {}), 16, 3, 308, 16, 16},
        {"home tab on options, hovered", opts([] { Hover = TabHome; }), 16, 3, 308, 16, 17},
        {"options tab on options, hovered", opts([] { Hover = TabOptions; }), 19, 3, 436, 16, 21},
        // Links: the push-button rule.
        {"site", home([] {}), 10, 3, 612, 24, 10},
        {"site hovered", home([] { Hover = LinkSite; }), 10, 3, 612, 24, 11},
        {"site pressed", home([] { Hover = Pressed = LinkSite; }), 10, 3, 612, 24, 12},
        {"site pressed and left", home([] { Pressed = LinkSite; }), 10, 3, 612, 24, 10},
        {"site hovered, register pressed", home([] { Hover = LinkSite; Pressed = LinkRegister; }), 10, 3, 612, 24, 11},
        {"register hovered", opts([] { Hover = LinkRegister; }), 13, 3, 706, 24, 14},
        {"register pressed", opts([] { Hover = Pressed = LinkRegister; }), 13, 3, 706, 24, 15},
        // Window buttons.
        {"minimize", home([] {}), 22, 2, 832, 8, 22},
        {"minimize hovered", home([] { Hover = BtnMinimize; }), 22, 2, 832, 8, 23},
        {"close", home([] { Hover = BtnMinimize; }), 24, 2, 864, 8, 24},
        {"close hovered", opts([] { Hover = BtnClose; }), 24, 2, 864, 8, 25},
        // Toggles: +2 when on, +1 when hovered.
        {"music off", opts([] { Music = 0; }), 26, 4, 36, 326, 26},
        {"music off, hovered", opts([] { Music = 0; Hover = MusicToggle; }), 26, 4, 36, 326, 27},
        {"music on", opts([] { Music = 1; }), 26, 4, 36, 326, 28},
        {"music on, hovered", opts([] { Music = 1; Hover = MusicToggle; }), 26, 4, 36, 326, 29},
        {"music on, tray hovered", opts([] { Music = 1; Hover = TrayToggle; }), 26, 4, 36, 326, 28},
        {"tray off, hovered", opts([] { Tray = 0; Hover = TrayToggle; }), 26, 4, 292, 326, 27},
        {"tray on", opts([] { Tray = 1; }), 26, 4, 292, 326, 28},
        {"icon off", opts([] { Icon = 0; }), 26, 4, 292, 360, 26},
        {"icon on, hovered", opts([] { Icon = 1; Hover = IconToggle; }), 26, 4, 292, 360, 29},
        // The resolution box by WinMode, DdOpen and Hover (its label lies over it).
        {"box", opts([] {}), 33, 4, 208, 180, 33, {resLabel}},
        {"box hovered", opts([] { Hover = ResDropdown; }), 33, 4, 208, 180, 34, {resLabel}},
        {"box open", opts([] { DdOpen = 1; Hover = ResDropdown; }), 33, 4, 208, 180, 35, {resLabel, listTop}},
        {"box in full screen", opts([] { WinMode = 0; Hover = ResDropdown; }), 33, 4, 208, 180, 36, {resLabel}},
        {"box in full screen, list open", opts([] { WinMode = 0; DdOpen = 1; }), 33, 4, 208, 180, 36,
         {resLabel, listTop}},
        // The mode choices: the selected one is selected even when hovered.
        {"windowed selected", opts([] { Hover = ModeWindowed; }), 37, 3, 208, 226, 39, {note}},
        {"windowed in full screen", opts([] { WinMode = 0; }), 37, 3, 208, 226, 37, {note}},
        {"windowed in full screen, hovered", opts([] { WinMode = 0; Hover = ModeWindowed; }), 37, 3, 208, 226, 38,
         {note}},
        {"full screen while windowed", opts([] {}), 40, 3, 358, 226, 40, {note}},
        {"full screen while windowed, hovered", opts([] { Hover = ModeFullscreen; }), 40, 3, 358, 226, 41, {note}},
        {"full screen selected, hovered", opts([] { WinMode = 0; Hover = ModeFullscreen; }), 40, 3, 358, 226, 42,
         {note}},
        // Push buttons of the options page.
        {"shortcut", opts([] {}), 7, 3, 34, 390, 7},
        {"shortcut hovered", opts([] { Hover = BtnShortcut; }), 7, 3, 34, 390, 8},
        {"shortcut pressed", opts([] { Hover = Pressed = BtnShortcut; }), 7, 3, 34, 390, 9},
        {"shortcut pressed and left", opts([] { Pressed = BtnShortcut; }), 7, 3, 34, 390, 7},
        {"save hovered", opts([] { Hover = BtnSave; }), 4, 3, 410, 390, 5},
        {"save pressed", opts([] { Hover = Pressed = BtnSave; }), 4, 3, 410, 390, 6},
        {"save pressed, pointer on the shortcut", opts([] { Pressed = BtnSave; Hover = BtnShortcut; }), 4, 3, 410, 390, 4},
    };
    for (const LookCase &c : cases) {
        FreshState();
        c.set();
        Paint();
        EXPECT_EQ(Look(c.base, c.n, c.x, c.y, c.skip), c.want) << c.what;
    }
}

TEST_F(Frame, EachPageDrawsOnlyItsOwnWidgets) {
    Ready = 1;
    ServerUp = 1;
    lstrcpyW(ServerName, L"Aurora");
    Paint();
    // Where the other page has widgets and this one has none.
    EXPECT_TRUE(SameAsBackground({34, 334, 90, 358})) << "the music toggle on the home page";
    EXPECT_TRUE(SameAsBackground({40, 364, 260, 390})) << "the slider on the home page";
    EXPECT_TRUE(SameAsBackground({292, 326, 346, 392})) << "the tray toggles on the home page";
    Page = 1;
    Paint();
    EXPECT_TRUE(SameAsBackground({404, 142, 556, 178})) << "the badge on the options page";
    EXPECT_TRUE(SameAsBackground({58, 220, 206, 256})) << "the server name on the options page";
}

// ---- Progress strip and percentage -----------------------------------------------------

TEST_F(Frame, ProgressFillIsCroppedToItsPerMilleAndThePercentageIsItsTenth) {
    struct {
        int progress, cols;
        const wchar_t *pct;
    } cases[] = {
        {0, 0, L"0%"},      {1, 0, L"0%"},       {2, 1, L"0%"},       {575, 334, L"57%"},
        {999, 581, L"99%"}, {1000, 582, L"100%"}, {1100, 582, L"100%"}, {INT_MAX, 582, L"100%"},
    };
    const RECT strip = {30, 488, 640, 512}, pct = {548, 466, 628, 486};
    for (auto &c : cases) {
        Progress = c.progress;
        lstrcpyW(Status, L"Baixando");
        Paint();
        Dib o(WinW, WinH);
        PaintBackground(o, 0);
        if (c.cols) BlendSprite(o, SprFill, 44, 496, 0, c.cols);
        Ink diff = InkIn(f, o, strip, 0);
        EXPECT_EQ(diff.count, 0) << "progress " << c.progress << ": the strip is not " << c.cols
                                 << " columns of the fill (first difference at x " << diff.box.left << ")";
        if (!c.pct) continue;
        Ink ink = Text(pct, Gold);
        EXPECT_GT(ink.exact, 0) << "no gold percentage for " << c.progress;
        EXPECT_GE(ink.box.right, 624) << "the percentage is set to the right";
        EXPECT_INK_WIDTH(ink, FBodySb, c.pct);
    }
}

TEST_F(Frame, ABusyStripShowsTheBandWhereTheTickCountPutsItAndNoPercentage) {
    struct {
        DWORD tick;
        int start, end;  // fill columns shown, start .. end - 1
    } cases[] = {
        {0, 0, 0},          {4, 0, 1},       {7, 0, 1},   {560, 0, 140}, {1200, 160, 300},
        {2328, 442, 582},   {2884, 581, 582}, {2888, 0, 0}, {2892, 0, 1},  {0xFFFFFFFF, 0, 29},
    };
    const RECT strip = {30, 488, 640, 512};
    for (auto &c : cases) {
        Progress = -1;
        TestTicks = c.tick;
        Paint();
        Dib o(WinW, WinH);
        PaintBackground(o, 0);
        if (c.end > c.start) BlendSprite(o, SprFill, 44 + c.start, 496, c.start, c.end - c.start);
        Ink diff = InkIn(f, o, strip, 0);
        EXPECT_EQ(diff.count, 0) << "tick " << c.tick << ": expected columns " << c.start << ".." << c.end
                                 << ", first difference at x " << diff.box.left;
        EXPECT_TRUE(SameAsBackground({548, 466, 628, 486})) << "a percentage while busy";
    }
}

// ---- Options page: slider, labels, notes -----------------------------------------------

TEST_F(Frame, VolumeFillEndsWhereTheVolumePutsItAndTheFrameFollowsHover) {
    struct {
        int volume, edge;  // first column not filled
        int hover;
    } cases[] = {{0, 40, 0}, {50, 150, VolumeSlider}, {80, 216, MusicToggle}, {100, 260, VolumeSlider}};
    for (auto &c : cases) {
        FreshState();
        Page = 1;
        Volume = c.volume;
        Hover = c.hover;
        Paint();
        for (int y : {365, 366, 388}) {
            for (int x = 41; x < 259; x++) {
                DWORD want = x < c.edge ? Rgb(GoldFill) : Mix(g.Rgb(x, y), Track, 170);
                if (f.Rgb(x, y) != want) {
                    ADD_FAILURE() << "volume " << c.volume << ": pixel (" << x << ", " << y << ") is "
                                  << std::hex << f.Rgb(x, y) << ", not " << want;
                    break;
                }
            }
        }
        COLORREF frame = c.hover == VolumeSlider ? Gold : GoldDark;
        for (POINT p : {POINT{40, 377}, POINT{259, 377}, POINT{150, 364}, POINT{150, 389}})
            EXPECT_EQ(f.Rgb(p.x, p.y), Rgb(frame)) << "slider frame at (" << p.x << ", " << p.y << "), hover " << c.hover;

        // The label, over the track and fill as drawn without it.
        Dib o(WinW, WinH);
        o.CopyFrom(g);
        for (int y = 365; y < 389; y++)
            for (int x = 41; x < 259; x++) o.At(x, y) = x < c.edge ? Rgb(GoldFill) : Mix(g.Rgb(x, y), Track, 170);
        wchar_t label[16];
        wsprintfW(label, L"Som: %d%%", c.volume);
        Ink ink = InkIn(f, o, {41, 365, 259, 389}, c.volume ? Bright : Muted);
        EXPECT_GT(ink.exact, 0) << "label colour at volume " << c.volume;
        EXPECT_EQ(InkIn(f, o, {41, 365, 259, 389}, c.volume ? Muted : Bright).exact, 0);
        EXPECT_INK_WIDTH(ink, FSmall, label);
        EXPECT_NEAR((ink.box.left + ink.box.right) / 2, 150, 3) << "the label is centred";
    }
}

TEST_F(Frame, ResolutionLabelAndModeNoteFollowTheModeAndTheRow) {
    struct {
        int winMode, resIdx;
        const wchar_t *label;
        COLORREF labelColour;
        const wchar_t *note;
        COLORREF noteColour;
    } cases[] = {
        {0, 7, L"Resolução do monitor", Muted, L"Tela cheia sem bordas: usa a resolução do monitor.", Muted},
        {1, 0, L"Maior possível (tamanho da tela)", Bright, L"Janela ocupando toda a área livre da tela.", Muted},
        {1, 2, L"1024 x 768", Bright, nullptr, 0},
        {1, 5, L"1440 x 1080", Bright, nullptr, 0},
        {1, 6, L"1280 x 720", Bright, L"Widescreen: o jogo 0.97 pode mostrar faixas nas laterais.", Warn},
        {1, 9, L"1920 x 1080", Bright, L"Widescreen: o jogo 0.97 pode mostrar faixas nas laterais.", Warn},
    };
    for (auto &c : cases) {
        FreshState();
        Page = 1;
        WinMode = c.winMode;
        ResIdx = c.resIdx;
        Paint();
        Dib box(WinW, WinH);
        PaintBackground(box, 1);
        BlendSprite(box, c.winMode ? 33 : 36, 208, 180);
        Ink ink = InkIn(f, box, {232, 190, 478, 224}, c.labelColour);
        EXPECT_GT(ink.exact, 0) << "label colour for " << Utf8(c.label);
        EXPECT_INK_WIDTH(ink, FBodySb, c.label);
        EXPECT_LE(ink.box.left, 234);

        // Below the mode choices only the note is drawn.
        Ink note = Text({208, 280, 640, 296}, c.noteColour);
        if (!c.note) {
            EXPECT_EQ(note.count, 0) << "a note for row " << c.resIdx;
            continue;
        }
        EXPECT_GT(note.exact, 0) << "note colour: " << Utf8(c.note);
        EXPECT_NEAR(note.box.left, 218, 2);
        EXPECT_INK_WIDTH(note, FSmall, c.note);
    }
}

// ---- Home page: server, players, news ---------------------------------------------------

TEST_F(Frame, ServerNameAndPlayerCountHaveTheirFallbacks) {
    struct {
        int up;
        const wchar_t *name;
        int online;
        const wchar_t *shownName, *shownCount;
    } cases[] = {
        {-1, L"", -1, L"...", L"-"},
        {0, L"", -5, L"Velmora", L"-"},
        {1, L"", 0, L"Velmora", L"0"},
        {1, L"Aurora", 1287, L"Aurora", L"1287"},
    };
    for (auto &c : cases) {
        FreshState();
        ServerUp = c.up;
        lstrcpyW(ServerName, c.name);
        Online = c.online;
        Paint();
        Ink name = Text({58, 220, 280, 256}, Bright);
        EXPECT_GT(name.exact, 0) << Utf8(c.shownName);
        EXPECT_INK_WIDTH(name, FTile, c.shownName);
        Ink count = Text({312, 216, 534, 258}, Gold);
        EXPECT_GT(count.exact, 0) << Utf8(c.shownCount);
        EXPECT_INK_WIDTH(count, FTileBig, c.shownCount);
    }
}

TEST_F(Frame, ALongServerNameEndsInsideItsBox) {
    ServerUp = 1;
    lstrcpyW(ServerName, L"Velmora - Servidor Aurora do Norte e das Ilhas");
    Paint();
    Ink name = Text({40, 200, 300, 270}, Bright);
    EXPECT_GT(name.count, 0);
    EXPECT_LE(name.box.right, 280);
    EXPECT_GT(name.box.right, 250) << "the ellipsis fills the box";
}

TEST_F(Frame, NewsRowsBulletsAndHairlines) {
    const wchar_t *titles[4] = {L"Evento de inverno começa no sábado!", L"Manutenção concluída",
                                L"Uma notícia com um título longo demais para caber na linha inteira do painel",
                                L"Temporada 3"};
    for (int n = 0; n <= 4; n++) {
        FreshState();
        ServerUp = 1;
        for (int k = 0; k < 4; k++) {
            lstrcpyW(News[k].title, titles[k]);
            wsprintfW(News[k].body, L"0%d/12", k + 1);
        }
        NewsN = n;
        Paint();
        for (int k = 0; k < 4; k++) {
            int y = 318 + 30 * k;
            if (k >= n) {
                // With no news the placeholder stands where the first row would.
                if (n || k) EXPECT_TRUE(SameAsBackground({44, y - 6, 544, y + 20})) << "row " << k << " drawn with " << n << " items";
                continue;
            }
            EXPECT_EQ(Look(SprBullet, 1, 44, y), SprBullet) << "bullet " << k << " of " << n;
            Ink title = Text({62, y - 6, 454, y + 16}, Body);
            EXPECT_GT(title.exact, 0) << "title " << k;
            EXPECT_LE(title.box.left, 64);
            if (k == 2)
                EXPECT_GT(title.box.right, 430) << "a long title is cut with an ellipsis at the box's end";
            else
                EXPECT_INK_WIDTH(title, FBody, titles[k]);
            Ink body = Text({454, y - 6, 544, y + 16}, Muted);
            EXPECT_GT(body.exact, 0) << "body " << k;
            EXPECT_GE(body.box.right, 541) << "the body is set to the right";
            // A hairline under every row but the last.
            for (int x = 60; x < 547; x++) {
                DWORD want = k < n - 1 && x >= 62 && x < 544 ? Mix(g.Rgb(x, y + 19), GoldDark, 70) : g.Rgb(x, y + 19);
                if (f.Rgb(x, y + 19) != want) {
                    ADD_FAILURE() << n << " items: row " << y + 19 << " wrong at x " << x;
                    break;
                }
            }
        }
        if (!n) {
            Ink placeholder = Text({40, 306, 544, 336}, Muted);
            EXPECT_GT(placeholder.exact, 0);
            EXPECT_NEAR(placeholder.box.left, 44, 2);
            EXPECT_INK_WIDTH(placeholder, FBody, L"Nenhuma notícia no momento.");
        }
    }
    FreshState();  // before the feed: "Carregando..."
    Paint();
    Ink loading = Text({40, 306, 544, 336}, Muted);
    EXPECT_GT(loading.exact, 0);
    EXPECT_INK_WIDTH(loading, FBody, L"Carregando...");
}

// ---- Status line and toast --------------------------------------------------------------

TEST_F(Frame, StatusLineRunsOnUnclippedOnBothPages) {
    for (int page : {0, 1}) {
        FreshState();
        Page = page;
        Paint();
        Ink ink = Text({40, 460, 645, 490}, Body);
        EXPECT_GT(ink.exact, 0);
        EXPECT_NEAR(ink.box.left, 42, 2);
        EXPECT_INK_WIDTH(ink, FBodySb, L"Conectando ao servidor...");
    }
    lstrcpyW(Status, L"Baixando Data\\Mapas\\um nome de arquivo muito comprido para esta linha de estado.map (3 de 7)...");
    Paint();
    EXPECT_GT(Text({629, 460, 656, 490}, Body).count, 0) << "a long status is cut";
}

TEST_F(Frame, AToastShowsOnEitherPageAtTheRightOfTheBottomPanel) {
    for (int page : {0, 1}) {
        FreshState();
        Page = page;
        Paint();
        EXPECT_TRUE(SameAsBackground({242, 510, 628, 532})) << "a toast with none set";
        lstrcpyW(Toast, L"Opções salvas.");
        Paint();
        Ink ink = Text({200, 505, 640, 535}, Gold);
        EXPECT_GT(ink.exact, 0);
        EXPECT_GE(ink.box.right, 624);
        EXPECT_LE(ink.box.right, 628);
        EXPECT_INK_WIDTH(ink, FBodySb, L"Opções salvas.");
    }
    lstrcpyW(Toast, L"Uma mensagem longa demais para o espaço que a faixa inferior reserva a ela, cortada");
    Paint();
    Ink ink = Text({200, 505, 640, 535}, Gold);
    EXPECT_GE(ink.box.left, 242) << "the toast is clipped to its rectangle";
}

// ---- The resolution list ----------------------------------------------------------------

class List : public Frame {
protected:
    void Open(int resIdx, int hover) {
        FreshState();
        Page = 1;
        DdOpen = 1;
        ResIdx = resIdx;
        DdHover = hover;
        Paint();
    }
    static int Top(int row) { return RowTop + RowH * row; }
};

TEST_F(List, PanelShadowAndFrame) {
    Open(2, -1);
    for (POINT p : {POINT{218, 300}, POINT{517, 300}, POINT{300, 228}, POINT{300, 535}})
        EXPECT_EQ(f.Rgb(p.x, p.y), Rgb(ListFrame)) << "frame at (" << p.x << ", " << p.y << ")";
    for (POINT p : {POINT{219, 229}, POINT{516, 534}, POINT{222, 232}})
        EXPECT_EQ(f.Rgb(p.x, p.y), Rgb(Panel)) << "panel at (" << p.x << ", " << p.y << ")";
    for (POINT p : {POINT{518, 300}, POINT{521, 300}, POINT{300, 536}, POINT{400, 541}})
        EXPECT_EQ(f.Rgb(p.x, p.y), Mix(g.Rgb(p.x, p.y), Black, 120)) << "shadow at (" << p.x << ", " << p.y << ")";
    for (POINT p : {POINT{522, 300}, POINT{300, 542}, POINT{520, 233}})
        EXPECT_EQ(f.Rgb(p.x, p.y), g.Rgb(p.x, p.y)) << "beyond the shadow at (" << p.x << ", " << p.y << ")";
}

TEST_F(List, HighlightMarkerAndWidescreenHairline) {
    struct {
        int resIdx, hover;
    } cases[] = {{5, 3}, {5, 5}, {0, 6}, {9, -1}, {2, 10}};
    for (auto &c : cases) {
        Open(c.resIdx, c.hover);
        for (int row = 0; row < ResCount; row++) {
            int t = Top(row);
            bool lit = row == c.hover;
            DWORD under = lit ? Mix(Rgb(Panel), GoldFill, 90) : Rgb(Panel);
            EXPECT_EQ(f.Rgb(223, t + 3), under) << "highlight of row " << row << " (hover " << c.hover << ")";
            EXPECT_EQ(f.Rgb(513, t + 3), under);
            EXPECT_EQ(f.Rgb(221, t + 3), Rgb(Panel)) << "the highlight starts at x 222";
            EXPECT_EQ(f.Rgb(514, t + 3), Rgb(Panel)) << "the highlight ends before x 514";
            // The marker: a 4 x 8 gold bar centred on the selected row.
            for (int y = t + 10; y < t + 20; y++)
                for (int x = 223; x < 229; x++) {
                    bool mark = row == c.resIdx && x >= 224 && x < 228 && y >= t + 11 && y < t + 19;
                    DWORD want = mark ? Rgb(Gold) : x == 223 ? f.Rgb(223, t + 3) : under;
                    if (f.Rgb(x, y) != want) {
                        ADD_FAILURE() << "marker area of row " << row << " wrong at (" << x << ", " << y << ")";
                        y = t + 20;
                        break;
                    }
                }
            // Only the first widescreen row has a hairline at its top.
            DWORD line = row == 6 ? Mix(under, GoldDark, 120) : under;
            EXPECT_EQ(f.Rgb(230, t), line) << "top line of row " << row;
            EXPECT_EQ(f.Rgb(505, t), line);
            EXPECT_EQ(f.Rgb(229, t), under);
            EXPECT_EQ(f.Rgb(506, t), under);
        }
    }
}

TEST_F(List, TheChosenRowReadsInGoldTheOthersInBody) {
    Open(4, -1);
    for (int row = 0; row < ResCount; row++) {
        int t = Top(row);
        Dib o(WinW, WinH);
        o.CopyFrom(f);
        RECT label = {234, t + 1, 330, t + RowH};
        for (int y = label.top; y < label.bottom; y++)
            for (int x = label.left; x < label.right; x++) o.At(x, y) = Rgb(Panel);
        Ink gold = InkIn(f, o, label, Gold), body = InkIn(f, o, label, Body);
        if (row == 4) {
            EXPECT_GT(gold.exact, 0) << "chosen row " << row;
            EXPECT_EQ(body.exact, 0);
        } else {
            EXPECT_GT(body.exact, 0) << "row " << row;
            EXPECT_EQ(gold.exact, 0);
        }
        EXPECT_NEAR(body.box.left, 235, 2);
    }
}

TEST_F(List, NothingOfTheListOnTheHomePage) {
    Page = 0;
    DdOpen = 0;
    Paint();
    Dib closed(WinW, WinH);
    closed.CopyFrom(f);
    DdOpen = 1;
    DdHover = 3;
    Paint();
    EXPECT_EQ(InkIn(f, closed, {0, 0, WinW, WinH}, 0).count, 0);
}

// The tags compare each resolution with the primary screen, whose size Wine
// fixes per session: the table holds the two screens the tags are checked on
// (listtags_test.py runs this test on both). VELMORA_SCREEN names the screen
// the run must have.
TEST_F(List, TagsFollowTheScreenSize) {
    struct Screen {
        int w, h;
        const wchar_t *tags[ResCount];
    };
    const wchar_t *big = L"maior que a tela", *wide = L"widescreen", *std43 = L"4:3";
    const Screen screens[] = {
        {1920, 1080, {nullptr, std43, std43, std43, std43, std43, wide, wide, wide, wide}},
        {1366, 768, {nullptr, std43, std43, big, big, big, wide, wide, big, big}},
    };
    int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    char want[32] = {};
    if (GetEnvironmentVariableA("VELMORA_SCREEN", want, sizeof want)) {
        char have[32];
        wsprintfA(have, "%dx%d", sw, sh);
        ASSERT_STREQ(have, want) << "the session's screen";
    }
    const Screen *s = nullptr;
    for (const Screen &c : screens)
        if (c.w == sw && c.h == sh) s = &c;
    if (!s) GTEST_SKIP() << "no tag table for a " << sw << "x" << sh << " screen";

    Open(2, -1);
    for (int row = 0; row < ResCount; row++) {
        int t = Top(row);
        Dib o(WinW, WinH);
        o.CopyFrom(f);
        RECT tag = {row ? 330 : 234, t + 1, 514, t + RowH};
        for (int y = tag.top; y < tag.bottom; y++)
            for (int x = tag.left; x < tag.right; x++) o.At(x, y) = Rgb(Panel);
        const wchar_t *w = s->tags[row];
        Ink muted = InkIn(f, o, tag, Muted), warn = InkIn(f, o, tag, Warn);
        if (!w) {
            EXPECT_EQ(muted.exact + warn.exact, 0) << "row " << row << " has a tag";
            continue;
        }
        Ink &ink = w == big ? warn : muted;
        EXPECT_GT(ink.exact, 0) << "row " << row << ": tag colour of " << Utf8(w);
        EXPECT_EQ((w == big ? muted : warn).exact, 0) << "row " << row;
        EXPECT_NEAR(ink.box.right, 502, 2) << "row " << row << ": the tag ends at x 502";
        EXPECT_INK_WIDTH(ink, FSmall, w);
    }
}
