#include "support/frame.h"

#include "app/assets.h"
#include "app/state.h"
#include "render/draw.h"
#include "support/testutil.h"

Dib::Dib(int width, int height, bool bottomUpRows) : w(width), h(height), bottomUp(bottomUpRows) {
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = bottomUp ? h : -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void *p = nullptr;
    dc = CreateCompatibleDC(0);
    bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &p, 0, 0);
    bits = (BYTE *)p;
    SelectObject(dc, bmp);
}

Dib::~Dib() {
    DeleteDC(dc);
    DeleteObject(bmp);
}

DWORD *Dib::Row(int y) {
    GdiFlush();
    int row = bottomUp ? h - 1 - y : y;
    return (DWORD *)(bits + (size_t)row * w * 4);
}

DWORD &Dib::At(int x, int y) { return Row(y)[x]; }

DWORD Dib::Rgb(int x, int y) { return At(x, y) & 0xFFFFFF; }

void Dib::CopyFrom(Dib &o) { BitBlt(dc, 0, 0, w, h, o.dc, 0, 0, SRCCOPY); }

DWORD Rgb(COLORREF c) { return GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c); }

DWORD Mix(DWORD d, COLORREF c, int a) {
    DWORD out = 0, src = Rgb(c);
    for (int sh = 0; sh < 24; sh += 8)
        out |= (((src >> sh) & 255) * a + ((d >> sh) & 255) * (255 - a) + 127) / 255 << sh;
    return out;
}

DWORD TestTicks;
static DWORD WINAPI TestTickSource() { return TestTicks; }

void FreshFrame() {
    ResetState();
    if (!FBody) LoadAssets();
    TestTicks = 0;
    Ticks = TestTickSource;
}

void PaintBackground(Dib &d, int page) {
    HDC src = CreateCompatibleDC(d.dc);
    SelectObject(src, page ? BgOpt : BgHome);
    BitBlt(d.dc, 0, 0, WinW, WinH, src, 0, 0, SRCCOPY);
    DeleteDC(src);
}

void BlendSprite(Dib &d, int index, int x, int y, int sx, int w) {
    const SpriteEntry &e = Spr[index];
    if (w < 0) w = e.width;
    BLENDFUNCTION bf = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    AlphaBlend(d.dc, x, y, w, e.height, e.dc, sx, 0, w, e.height, bf);
}

Ink InkIn(Dib &frame, Dib &ground, RECT r, COLORREF colour) {
    Ink ink;
    DWORD want = Rgb(colour);
    for (int y = r.top; y < r.bottom; y++)
        for (int x = r.left; x < r.right; x++) {
            DWORD p = frame.Rgb(x, y);
            if (p == ground.Rgb(x, y)) continue;
            ink.count++;
            ink.exact += p == want;
            ink.box.left = x < ink.box.left ? x : ink.box.left;
            ink.box.top = y < ink.box.top ? y : ink.box.top;
            ink.box.right = x + 1 > ink.box.right ? x + 1 : ink.box.right;
            ink.box.bottom = y + 1 > ink.box.bottom ? y + 1 : ink.box.bottom;
        }
    return ink;
}

int TextWidth(HFONT font, const wchar_t *text) {
    HDC dc = CreateCompatibleDC(0);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE s = {};
    GetTextExtentPoint32W(dc, text, lstrlenW(text), &s);
    SelectObject(dc, old);
    DeleteDC(dc);
    return s.cx;
}
