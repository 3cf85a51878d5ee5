#include "render/paint.h"

#include "app/assets.h"
#include "app/options.h"
#include "app/scale.h"
#include "app/state.h"
#include "render/draw.h"
#include "ui/layout.h"

// ---- The layout at Dpi -------------------------------------------------------------
// Places below are the layout's, in 100 % pixels; these put them on the
// device at the window's scale, each edge scaled on its own.

static void Put(HDC dc, unsigned index, int x, int y) { Sprite(dc, index, Scale(x), Scale(y)); }

static void Write(HDC dc, HFONT font, COLORREF colour, int x, int y, const wchar_t *text) {
    TextAt(dc, font, colour, Scale(x), Scale(y), text);
}

static void WriteIn(HDC dc, HFONT font, COLORREF colour, int l, int t, int r, int b, UINT style,
                    const wchar_t *text) {
    RECT box = ScaleRect(l, t, r, b);
    TextIn(dc, font, colour, &box, style, text);
}

static void Fill(HDC dc, int l, int t, int r, int b, int alpha, COLORREF colour) {
    RECT box = ScaleRect(l, t, r, b);
    Shade(dc, &box, alpha, colour);
}

// ---- Widget looks --------------------------------------------------------------

// A push button pressed and then left by the pointer shows its normal look:
// the release there will not run it.
static unsigned PushLook(unsigned base, int id) {
    if (Hover != id) return base;
    return Pressed == id ? base + 2 : base + 1;
}

static unsigned ToggleLook(int on, int id) { return SprToggle + (on ? 2 : 0) + (Hover == id ? 1 : 0); }

static void TitleStrip(HDC dc) {
    Put(dc, Page == 0 ? SprTabHome + 2 : Hover == TabHome ? SprTabHome + 1 : SprTabHome, 308, 16);
    Put(dc, Page == 1 ? SprTabOptions + 2 : Hover == TabOptions ? SprTabOptions + 1 : SprTabOptions, 436, 16);
    Put(dc, PushLook(SprSite, LinkSite), 612, 24);
    Put(dc, PushLook(SprRegister, LinkRegister), 706, 24);
    Put(dc, Hover == BtnMinimize ? SprMinimize + 1 : SprMinimize, 832, 8);
    Put(dc, Hover == BtnClose ? SprClose + 1 : SprClose, 864, 8);
}

// ---- Home page -------------------------------------------------------------------

static void HomePage(HDC dc) {
    Put(dc, ServerUp > 0 ? SprBadge : ServerUp == 0 ? SprBadge + 1 : SprBadge + 2, 404, 142);

    const wchar_t *name = ServerName[0] ? ServerName : ServerUp < 0 ? L"..." : APP_TITLE;
    WriteIn(dc, FTile, ColBright, 58, 220, 280, 256, TxEllipsis, name);

    wchar_t num[16];
    if (Online >= 0)
        wsprintfW(num, L"%d", Online);
    else
        lstrcpyW(num, L"-");
    WriteIn(dc, FTileBig, ColGold, 312, 216, 534, 258, TxLeft, num);

    if (NewsN <= 0) {
        Write(dc, FBody, ColMuted, 44, 312, ServerUp < 0 ? L"Carregando..." : L"Nenhuma notícia no momento.");
        return;
    }
    int n = NewsN < NewsMax ? NewsN : NewsMax;
    for (int k = 0; k < n; k++) {
        int y = 318 + 30 * k;
        Put(dc, SprBullet, 44, y);
        WriteIn(dc, FBody, ColBody, 62, y - 6, 454, y + 16, TxEllipsis, News[k].title);
        WriteIn(dc, FSmall, ColMuted, 454, y - 6, 544, y + 16, TxRight, News[k].body);
        if (k < n - 1) Hairline(dc, Scale(62), Scale(y + 19), Scale(544), 70, ColGoldDark);
    }
}

// ---- Options page ----------------------------------------------------------------

// The fill's arithmetic is VolumeAt's, on the track as drawn at Dpi.
static void VolumeSliderLook(HDC dc) {
    RECT track = ScaleRect(SliderLeft, SliderTop, SliderRight, SliderBottom);
    Shade(dc, &track, 170, ColTrack);
    int f = track.left + Volume * (track.right - track.left) / 100;
    if (f > track.left) {
        RECT fill = {track.left, track.top, f, track.bottom};
        Shade(dc, &fill, 255, ColGoldFill);
    }
    Frame(dc, &track, Hover == VolumeSlider ? ColGold : ColGoldDark);
    wchar_t label[24];
    wsprintfW(label, L"Som: %d%%", Volume);
    TextIn(dc, FSmall, Volume == 0 ? ColMuted : ColBright, &track, TxCentre, label);
}

static void OptionsPage(HDC dc) {
    // A bad index never reaches the table: the row is only read inside it.
    const ResRow *row = ResIdx >= 0 && ResIdx < ResCount ? &Res[ResIdx] : 0;

    Put(dc, WinMode == 0 ? SprResBox + 3 : DdOpen ? SprResBox + 2 : Hover == ResDropdown ? SprResBox + 1 : SprResBox,
        208, 180);
    if (WinMode == 0)
        WriteIn(dc, FBodySb, ColMuted, 232, 190, 478, 224, TxEllipsis, L"Resolução do monitor");
    else if (row)
        WriteIn(dc, FBodySb, ColBright, 232, 190, 478, 224, TxEllipsis, row->label);

    Put(dc, WinMode ? SprWindowed + 2 : Hover == ModeWindowed ? SprWindowed + 1 : SprWindowed, 208, 226);
    Put(dc, !WinMode ? SprFullscreen + 2 : Hover == ModeFullscreen ? SprFullscreen + 1 : SprFullscreen, 358, 226);

    if (WinMode == 0)
        Write(dc, FSmall, ColMuted, 218, 274, L"Tela cheia sem bordas: usa a resolução do monitor.");
    else if (row && row->wide)
        Write(dc, FSmall, ColWarn, 218, 274, L"Widescreen: o jogo 0.97 pode mostrar faixas nas laterais.");
    else if (row && row->width == 0)
        Write(dc, FSmall, ColMuted, 218, 274, L"Janela ocupando toda a área livre da tela.");

    Put(dc, ToggleLook(Music, MusicToggle), 36, 326);
    VolumeSliderLook(dc);
    Put(dc, ToggleLook(Tray, TrayToggle), 292, 326);
    Put(dc, ToggleLook(Icon, IconToggle), 292, 360);
    Put(dc, PushLook(SprShortcut, BtnShortcut), 34, 390);
    Put(dc, PushLook(SprSave, BtnSave), 410, 390);
}

// The primary screen's size, for the list's tags. Asking it costs a tenth of a
// millisecond under Wine, and the list repaints for every row the pointer
// crosses: it is asked when the list appears and kept while it stays open.
static SIZE Screen;
static bool ListShown;

static const wchar_t *Tag(const ResRow &row, COLORREF *colour) {
    *colour = ColMuted;
    if (row.width > Screen.cx || row.height > Screen.cy) {
        *colour = ColWarn;
        return L"maior que a tela";
    }
    if (row.wide) return L"widescreen";
    return row.width && row.height ? L"4:3" : 0;
}

// The open resolution list, over everything else. Fills first, then the
// labels, then the tags: each text stays inside its own row, so the order
// between rows changes no pixel, and the two fonts are each selected once.
static void ResolutionList(HDC dc) {
    if (!ListShown) {
        Screen.cx = GetSystemMetrics(SM_CXSCREEN);
        Screen.cy = GetSystemMetrics(SM_CYSCREEN);
    }
    RECT box = ScaleRect(ListLeft, ListTop, ListRight, ListBottom);
    ShadowPanel(dc, &box, Scale(ListLeft + 4) - box.left, Scale(ListTop + 6) - box.top, ColPanel, ColListFrame);
    for (int i = 0; i < ResCount; i++) {
        int t = RowTop + RowH * i;
        if (DdHover == i) Fill(dc, 222, t, 514, t + RowH, 90, ColGoldFill);
        if (i == 6) Hairline(dc, Scale(230), Scale(t), Scale(506), 120, ColGoldDark);  // the first widescreen row
        if (ResIdx == i) Fill(dc, 224, t + 11, 228, t + 19, 255, ColGold);  // left of the label's box
    }
    for (int i = 0; i < ResCount; i++)
        WriteIn(dc, FList, ResIdx == i ? ColGold : ColBody, 234, RowTop + RowH * i, 514, RowTop + RowH * (i + 1), TxLeft,
                Res[i].label);
    for (int i = 0; i < ResCount; i++) {
        COLORREF colour;
        const wchar_t *tag = Tag(Res[i], &colour);
        if (tag) WriteIn(dc, FSmall, colour, 234, RowTop + RowH * i, 502, RowTop + RowH * (i + 1), TxRight, tag);
    }
}

// ---- The frame -------------------------------------------------------------------

static void Background(HDC dc) {
    HBITMAP bg = Page == 0 ? BgHome : BgOpt;
    HDC src = bg ? CreateCompatibleDC(dc) : 0;
    if (src && SelectObject(src, bg)) {
        BitBlt(dc, 0, 0, Scale(WinW), Scale(WinH), src, 0, 0, SRCCOPY);
    } else {
        // Without its picture the page still gets a defined ground.
        RECT all = {0, 0, Scale(WinW), Scale(WinH)};
        Shade(dc, &all, 255, RGB(0, 0, 0));
    }
    if (src) DeleteDC(src);
}

void PaintFrame(HDC dc) {
    if (Page != 0) FinishOptionsArt();  // decoded after the first frame, the home page's
    BeginCanvas(dc);
    Background(dc);
    SetBkMode(dc, TRANSPARENT);
    TitleStrip(dc);

    // One consistent snapshot of what the network thread publishes, from the
    // page content to the percentage.
    EnterCriticalSection(&Lock);
    if (Page == 0)
        HomePage(dc);
    else
        OptionsPage(dc);
    Write(dc, FBodySb, ColBody, 42, 466, Status);
    int progress = Progress;
    ProgressStrip(dc, progress, Ticks());
    if (progress >= 0) {
        wchar_t pct[16];
        // Files larger than their manifest size take the progress past 1000.
        wsprintfW(pct, L"%d%%", (progress > 1000 ? 1000 : progress) / 10);
        WriteIn(dc, FBodySb, ColGold, 548, 466, 628, 486, TxRightTop, pct);
    }
    LeaveCriticalSection(&Lock);

    Put(dc, Ready == 0 ? SprPlay + 3 : PushLook(SprPlay, BtnPlay), 656, 446);
    if (Toast[0]) WriteIn(dc, FBodySb, ColGold, 242, 512, 628, 530, TxRight, Toast);
    bool list = DdOpen && Page == 1;
    if (list) ResolutionList(dc);
    ListShown = list;
    EndCanvas();
}

// The back buffer: a 32-bit DIB section, so that the primitives blend straight
// into its bits (draw.cpp). It is made on the first paint and kept while the
// scale stays: making and faulting in a fresh bitmap of several MB costs more
// than the whole frame, and every paint overwrites all of it, so nothing
// carries over from one frame to the next. Without it (out of GDI objects)
// the next paint tries again.
static HDC BackBuffer(HDC target) {
    static HDC buf;
    static HBITMAP held;
    static int heldDpi;
    if (buf && heldDpi == Dpi) return buf;
    if (buf) {  // made for another scale
        DeleteDC(buf);
        DeleteObject(held);
        buf = 0;
    }
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = Scale(WinW);
    bi.bmiHeader.biHeight = -Scale(WinH);
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void *bits = 0;
    HDC dc = CreateCompatibleDC(target);
    HBITMAP bmp = dc ? CreateDIBSection(target, &bi, DIB_RGB_COLORS, &bits, 0, 0) : 0;
    if (bmp && SelectObject(dc, bmp)) {
        buf = dc;
        held = bmp;
        heldDpi = Dpi;
        return buf;
    }
    if (bmp) DeleteObject(bmp);
    if (dc) DeleteDC(dc);
    return 0;
}

void PaintTo(HDC target) {
    HDC buf = BackBuffer(target);
    if (!buf) {
        PaintFrame(target);
        return;
    }
    PaintFrame(buf);
    BitBlt(target, 0, 0, Scale(WinW), Scale(WinH), buf, 0, 0, SRCCOPY);
}

void OnPaint(HWND wnd) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(wnd, &ps);
    if (dc) PaintTo(dc);
    EndPaint(wnd, &ps);
}
