// Drawing primitives of the frame: sprites, translucent fills, text and the
// small idioms built from them. Window thread only; nothing here fails loudly:
// a call that cannot draw leaves its part of the frame as it was.
#pragma once
#include <windows.h>

// Sprite indices by role; a widget's states follow its base index.
enum {
    SprPlay = 0,         // normal, hover, pressed, greyed
    SprSave = 4,         // normal, hover, pressed
    SprShortcut = 7,
    SprSite = 10,
    SprRegister = 13,
    SprTabHome = 16,     // inactive, hover, active
    SprTabOptions = 19,
    SprMinimize = 22,    // normal, hover
    SprClose = 24,
    SprToggle = 26,      // off, off hovered, on, on hovered
    SprBadge = 30,       // online, offline, checking
    SprResBox = 33,      // normal, hover, open, dimmed
    SprWindowed = 37,    // normal, hover, selected
    SprFullscreen = 40,
    SprFill = 43,        // progress fill
    SprBullet = 44,      // news bullet
};

// The frame's palette.
const COLORREF ColBright = RGB(255, 248, 232);  // server name, chosen resolution, volume label
const COLORREF ColBody = RGB(232, 220, 196);    // status line, news titles, list rows
const COLORREF ColMuted = RGB(158, 142, 116);   // placeholders, notes, news bodies, tags
const COLORREF ColGold = RGB(245, 215, 138);    // player count, percentage, toast, selection
const COLORREF ColWarn = RGB(240, 180, 110);    // widescreen note, "maior que a tela"
const COLORREF ColGoldFill = RGB(200, 150, 60); // volume fill, hovered list row
const COLORREF ColGoldDark = RGB(150, 112, 46); // slider frame, hairlines
const COLORREF ColListFrame = RGB(200, 156, 72);
const COLORREF ColTrack = RGB(20, 16, 10);
const COLORREF ColPanel = RGB(14, 10, 6);
const COLORREF ColShadow = RGB(0, 0, 0);

// DrawTextW flags of the five text styles: one line, no '&' prefixes.
enum {
    TxEllipsis = DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS,
    TxLeft = DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX,
    TxCentre = DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX,
    TxRight = DT_RIGHT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX,
    TxRightTop = DT_RIGHT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX,
};

// Coordinates here are the device's pixels: the frame (paint.cpp) scales its
// layout before it calls, but for the progress strip, which places itself.

// While a canvas is set, the primitives draw on dc by writing its bits
// directly: the same pixels as GDI's AlphaBlend, in a fraction of the time.
// BeginCanvas is false, and every primitive keeps to GDI, unless dc holds a
// 32-bit DIB section with no clip region, in the default mapping. Between the
// two calls other drawing on dc must be GDI calls of the same thread, which
// the primitives flush before they touch the bits.
bool BeginCanvas(HDC dc);
void EndCanvas();

// Milliseconds for the moving band; GetTickCount unless a test sets its own.
extern DWORD(WINAPI *Ticks)(void);

// Sprite `index` of Spr at its own size, top-left at (x, y), with its per-pixel
// alpha. An entry without a dc draws nothing; the index is not checked.
void Sprite(HDC dc, unsigned index, int x, int y);

// Columns sx .. sx + w - 1 of sprite `index`, full height, at (x, y). The
// columns are clipped to the sprite: nothing outside it is ever read.
void SpriteCols(HDC dc, unsigned index, int sx, int w, int x, int y);

// Covers r with colour at opacity alpha (low 8 bits; 255 = opaque fill):
// every pixel becomes colour * alpha / 255 + pixel * (255 - alpha) / 255.
// An empty rectangle or alpha 0 draws nothing.
void Shade(HDC dc, const RECT *r, int alpha, COLORREF colour);

// A Shade from x = left to right - 1, from row y down, one line high at Dpi
// (app/scale.h's Line).
void Hairline(HDC dc, int left, int y, int right, int alpha, COLORREF colour);

// An outline on the inside edge of r, one line wide at Dpi.
void Frame(HDC dc, const RECT *r, COLORREF colour);

// A panel standing off the page: a black shadow dx right and dy down at alpha
// 120, the panel opaque in `panel`, framed in `frame`.
void ShadowPanel(HDC dc, const RECT *r, int dx, int dy, COLORREF panel, COLORREF frame);

// Text with its top-left at (x, y), unclipped.
void TextAt(HDC dc, HFONT font, COLORREF colour, int x, int y, const wchar_t *text);
// Text in r in one of the Tx styles.
void TextIn(HDC dc, HFONT font, COLORREF colour, const RECT *r, UINT style, const wchar_t *text);

// The progress strip: the fill sprite at (44, 496) of the layout, cropped to
// `progress` per mille (a value above 1000 shows the whole sprite), or for a
// negative value a band that sweeps across the strip with the tick count.
void ProgressStrip(HDC dc, int progress, DWORD tick);
