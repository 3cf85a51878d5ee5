// Off-screen frames for the painter's tests: 32-bit DIBs to paint into, the
// launcher's art, a tick count the test chooses, and the platform's own
// AlphaBlend as the measure of what a sprite should look like.
#pragma once
#include <windows.h>

#include <climits>
#include <string>

// A w x h 32-bit DIB section selected into its own memory DC.
struct Dib {
    HDC dc = nullptr;
    HBITMAP bmp = nullptr;
    BYTE *bits = nullptr;
    int w = 0, h = 0;
    bool bottomUp = false;

    Dib(int width, int height, bool bottomUpRows = false);
    ~Dib();
    Dib(const Dib &) = delete;
    Dib &operator=(const Dib &) = delete;

    DWORD *Row(int y);             // row y, top row 0, after GDI's pending drawing
    DWORD &At(int x, int y);       // the pixel as stored: 0xAARRGGBB
    DWORD Rgb(int x, int y);       // its colour, 0xRRGGBB
    void CopyFrom(Dib &other);     // the same size only
};

// 0xRRGGBB of a COLORREF.
DWORD Rgb(COLORREF c);
// c over d at constant alpha a, each channel rounded: what a translucent fill makes.
DWORD Mix(DWORD d, COLORREF c, int a);

// The launcher state of a fresh start (ResetState), the launcher's art loaded
// (once per process), and the painter's tick source at TestTicks, set to 0.
void FreshFrame();
extern DWORD TestTicks;

// The page background (0 home, 1 options) as the frame starts from it.
void PaintBackground(Dib &d, int page);
// Sprite columns sx .. sx + w - 1 (w < 0: all) blended at (x, y) by AlphaBlend.
void BlendSprite(Dib &d, int index, int x, int y, int sx = 0, int w = -1);

// Pixels that differ between two frames within r, with their bounds.
struct Ink {
    int count = 0;
    RECT box = {INT_MAX, INT_MAX, INT_MIN, INT_MIN};
    int exact = 0;  // of them, pixels exactly in the colour asked for
};
Ink InkIn(Dib &frame, Dib &ground, RECT r, COLORREF colour);
// The width of text in font, as GDI measures it.
int TextWidth(HFONT font, const wchar_t *text);
