#include "render/draw.h"

#include "app/scale.h"
#include "app/state.h"

DWORD(WINAPI *Ticks)(void) = GetTickCount;

// ---- Blending in place -----------------------------------------------------
// AlphaBlend costs several nanoseconds a pixel, and with a stretched 1 x 1
// source it first stretches that pixel into a temporary as large as the
// destination: a translucent panel then costs more than the rest of the frame.
// While a frame is drawn into a 32-bit DIB section (the back buffer always
// is one), the sprites and fills are blended right in its bits with
// AlphaBlend's own arithmetic, pixel for pixel the same result. Any other
// destination goes through AlphaBlend.

struct Pixels {
    HDC dc;      // the canvas; null when there is none
    BYTE *row0;  // its top row
    int stride;  // bytes to the next row down; negative in a bottom-up DIB
    RECT clip;   // the whole bitmap
};
static Pixels Canvas;

static bool Is32(HBITMAP bmp, DIBSECTION *ds) {
    return bmp && GetObjectW(bmp, sizeof *ds, ds) == sizeof *ds && ds->dsBm.bmBitsPixel == 32 &&
           ds->dsBmih.biCompression == BI_RGB && ds->dsBm.bmBits;
}

// GetObject reports a top-down DIB's height as positive, so the row order is
// learnt by setting the top-left pixel through GDI and seeing where it lands.
static bool RowOrder(HDC dc, const DIBSECTION &ds, Pixels *p) {
    BYTE *bits = (BYTE *)ds.dsBm.bmBits;
    int s = ds.dsBm.bmWidthBytes;
    DWORD *first = (DWORD *)bits, *last = (DWORD *)(bits + (ptrdiff_t)(ds.dsBm.bmHeight - 1) * s);
    DWORD a = *first & 0xFFFFFF, b = *last & 0xFFFFFF;
    DWORD probe = a ^ 0x010101;
    if (probe == b) probe = a ^ 0x020202;
    DWORD keepFirst = *first, keepLast = *last;
    SetPixelV(dc, 0, 0, RGB(probe >> 16 & 255, probe >> 8 & 255, probe & 255));
    GdiFlush();
    bool top = (*first & 0xFFFFFF) == probe, bottom = (*last & 0xFFFFFF) == probe;
    *first = keepFirst;
    *last = keepLast;
    if (top) {
        p->row0 = bits;
        p->stride = s;
    } else if (bottom) {
        p->row0 = (BYTE *)last;
        p->stride = -s;
    }
    return top || bottom;
}

bool BeginCanvas(HDC dc) {
    Canvas.dc = 0;
    DIBSECTION ds;
    if (!Is32((HBITMAP)GetCurrentObject(dc, OBJ_BITMAP), &ds)) return false;
    POINT vp = {1, 1}, wo = {1, 1};
    if (GetMapMode(dc) != MM_TEXT || GetGraphicsMode(dc) != GM_COMPATIBLE || !GetViewportOrgEx(dc, &vp) ||
        !GetWindowOrgEx(dc, &wo) || vp.x || vp.y || wo.x || wo.y)
        return false;
    // Only a DC that may draw on all of its bitmap: a clip region is GDI's to honour.
    RECT box, all = {0, 0, ds.dsBm.bmWidth, ds.dsBm.bmHeight};
    if (GetClipBox(dc, &box) != SIMPLEREGION || !EqualRect(&box, &all)) return false;
    if (!RowOrder(dc, ds, &Canvas)) return false;
    Canvas.clip = all;
    Canvas.dc = dc;
    return true;
}

void EndCanvas() { Canvas.dc = 0; }

// The canvas when dc is it, with GDI's pending drawing done.
static const Pixels *PixelsOf(HDC dc) {
    if (!Canvas.dc || dc != Canvas.dc) return 0;
    GdiFlush();  // text drawn just before must land first
    return &Canvas;
}

static DWORD *Row(const Pixels *p, int y) { return (DWORD *)(p->row0 + (ptrdiff_t)y * p->stride); }

// Bytes 0 and 2 of two lanes (each holding a value up to 65534) divided by
// 255 at once: t / 255 = (t + 1 + (t >> 8)) >> 8 exactly in that range.
static DWORD Div255(DWORD lanes) { return (lanes + 0x00010001 + (lanes >> 8 & 0x00FF00FF)) >> 8 & 0x00FF00FF; }

// A premultiplied source pixel over a destination pixel: each byte becomes
// s + (d * (255 - alpha) + 127) / 255, as AlphaBlend with AC_SRC_ALPHA makes
// it. Two bytes are worked in one register; a premultiplied byte never
// carries into the next (s <= alpha).
static DWORD Over(DWORD s, DWORD d) {
    DWORD ia = 255 - (s >> 24);
    DWORD even = Div255((d & 0x00FF00FF) * ia + 0x007F007F);
    DWORD odd = Div255((d >> 8 & 0x00FF00FF) * ia + 0x007F007F);
    return s + (even | odd << 8);
}

static void BlendSprite(const Pixels *p, const SpriteEntry &e, int sx, int w, int x, int y) {
    DIBSECTION ds;
    if (!Is32(e.bitmap, &ds) || ds.dsBm.bmWidth < e.width || ds.dsBm.bmHeight < e.height) return;
    // Sprites are top-down DIBs (the loader makes them so).
    int sstride = ds.dsBm.bmWidthBytes;
    const BYTE *src = (const BYTE *)ds.dsBm.bmBits;
    RECT to = {x, y, x + w, y + e.height}, in;
    if (!IntersectRect(&in, &to, &p->clip)) return;
    int cols = in.right - in.left;
    for (int ty = in.top; ty < in.bottom; ty++) {
        const DWORD *s = (const DWORD *)(src + (ptrdiff_t)(ty - y) * sstride) + sx + (in.left - x);
        DWORD *d = Row(p, ty) + in.left;
        for (int i = 0; i < cols; i++) {
            DWORD px = s[i];
            if (px >= 0xFF000000)
                d[i] = px;
            else if (px)
                d[i] = Over(px, d[i]);
        }
    }
}

// Every byte of the destination becomes (c * alpha + d * (255 - alpha)) / 255
// rounded, c being the colour's byte and 0 for the alpha byte, as AlphaBlend
// does with a constant alpha and no source alpha.
static void BlendFill(const Pixels *p, const RECT *r, DWORD alpha, COLORREF colour) {
    RECT in;
    if (!IntersectRect(&in, r, &p->clip)) return;
    DWORD px = GetBValue(colour) | GetGValue(colour) << 8 | GetRValue(colour) << 16;
    int cols = in.right - in.left;
    if (alpha == 255) {
        for (int y = in.top; y < in.bottom; y++) {
            DWORD *d = Row(p, y) + in.left;
            for (int i = 0; i < cols; i++) d[i] = px;
        }
        return;
    }
    // Per byte: (c * alpha + d * (255 - alpha) + 127) / 255, the colour's
    // bytes in k (its alpha byte is 0), two bytes per register as in Over.
    DWORD ia = 255 - alpha;
    DWORD keven = (px & 0x00FF00FF) * alpha + 0x007F007F, kodd = (px >> 8 & 0x00FF00FF) * alpha + 0x007F007F;
    for (int y = in.top; y < in.bottom; y++) {
        DWORD *d = Row(p, y) + in.left;
        for (int i = 0; i < cols; i++) {
            DWORD v = d[i];
            d[i] = Div255((v & 0x00FF00FF) * ia + keven) | Div255((v >> 8 & 0x00FF00FF) * ia + kodd) << 8;
        }
    }
}

// ---- Sprites -----------------------------------------------------------------

void SpriteCols(HDC dc, unsigned index, int sx, int w, int x, int y) {
    const SpriteEntry &e = Spr[index];
    if (!e.dc) return;
    if (sx < 0) {  // keep the columns that lie inside the sprite, where they are
        w += sx;
        x -= sx;
        sx = 0;
    }
    if (w > e.width - sx) w = e.width - sx;
    if (w <= 0 || e.height <= 0) return;
    if (const Pixels *p = PixelsOf(dc)) {
        BlendSprite(p, e, sx, w, x, y);
        return;
    }
    BLENDFUNCTION bf = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    AlphaBlend(dc, x, y, w, e.height, e.dc, sx, 0, w, e.height, bf);
}

void Sprite(HDC dc, unsigned index, int x, int y) { SpriteCols(dc, index, 0, Spr[index].width, x, y); }

// ---- Fills -------------------------------------------------------------------

// The one-pixel surface that a fill is stretched from when the destination is
// not a DIB of ours. Made on the first fill that needs it and kept for the
// life of the process; when it cannot be made, that fill is skipped and the
// next one tries again.
static DWORD *ShadePixel(HDC dc, HDC *mdc) {
    static HDC sdc;
    static DWORD *px;
    if (!px) {
        HDC m = CreateCompatibleDC(dc);
        if (!m) return 0;
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = 1;
        bi.bmiHeader.biHeight = 1;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        void *bits = 0;
        HBITMAP b = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, 0, 0);
        if (!b || !bits || !SelectObject(m, b)) {
            if (b) DeleteObject(b);
            DeleteDC(m);
            return 0;
        }
        sdc = m;
        px = (DWORD *)bits;
    }
    *mdc = sdc;
    return px;
}

void Shade(HDC dc, const RECT *r, int alpha, COLORREF colour) {
    DWORD a = (DWORD)alpha & 255;
    if (r->right <= r->left || r->bottom <= r->top || a == 0) return;
    if (const Pixels *p = PixelsOf(dc)) {
        BlendFill(p, r, a, colour);
        return;
    }
    if (a == 255) {  // an opaque fill needs no surface
        COLORREF old = SetBkColor(dc, colour);
        ExtTextOutW(dc, 0, 0, ETO_OPAQUE, r, 0, 0, 0);
        SetBkColor(dc, old);
        return;
    }
    HDC mdc;
    DWORD *px = ShadePixel(dc, &mdc);
    if (!px) return;
    GdiFlush();  // the previous fill may still be reading the pixel
    *px = GetBValue(colour) | GetGValue(colour) << 8 | GetRValue(colour) << 16;
    BLENDFUNCTION bf = {AC_SRC_OVER, 0, (BYTE)a, 0};
    AlphaBlend(dc, r->left, r->top, r->right - r->left, r->bottom - r->top, mdc, 0, 0, 1, 1, bf);
}

void Hairline(HDC dc, int left, int y, int right, int alpha, COLORREF colour) {
    RECT r = {left, y, right, y + Line()};
    Shade(dc, &r, alpha, colour);
}

void Frame(HDC dc, const RECT *r, COLORREF colour) {
    HBRUSH b = CreateSolidBrush(colour);
    if (!b) return;
    RECT in = *r;
    for (int k = Line(); k > 0; k--) {  // FrameRect draws one pixel wide
        FrameRect(dc, &in, b);
        InflateRect(&in, -1, -1);
    }
    DeleteObject(b);
}

// The opaque panel covers all of its shadow but a strip at the right and one
// at the bottom: only those are shaded, the same pixels for a fraction of the
// work.
void ShadowPanel(HDC dc, const RECT *r, int dx, int dy, COLORREF panel, COLORREF frame) {
    RECT s = *r;
    OffsetRect(&s, dx, dy);
    RECT right = {r->right > s.left ? r->right : s.left, s.top, s.right, s.bottom};
    RECT below = {s.left, r->bottom > s.top ? r->bottom : s.top, right.left, s.bottom};
    Shade(dc, &right, 120, ColShadow);
    Shade(dc, &below, 120, ColShadow);
    Shade(dc, r, 255, panel);
    Frame(dc, r, frame);
}

// ---- Text --------------------------------------------------------------------

// Selecting a font costs microseconds even when it is already selected.
static void UseFont(HDC dc, HFONT font) {
    if (GetCurrentObject(dc, OBJ_FONT) != font) SelectObject(dc, font);
}

void TextAt(HDC dc, HFONT font, COLORREF colour, int x, int y, const wchar_t *text) {
    UseFont(dc, font);
    SetTextColor(dc, colour);
    TextOutW(dc, x, y, text, lstrlenW(text));
}

void TextIn(HDC dc, HFONT font, COLORREF colour, const RECT *r, UINT style, const wchar_t *text) {
    UseFont(dc, font);
    SetTextColor(dc, colour);
    RECT box = *r;
    DrawTextW(dc, text, -1, &box, style);
}

// ---- Progress strip ----------------------------------------------------------

enum { StripX = 44, StripY = 496, Band = 140 };

void ProgressStrip(HDC dc, int progress, DWORD tick) {
    int w = Spr[SprFill].width, x = Scale(StripX), y = Scale(StripY);
    if (progress >= 0) {
        // Files larger than their manifest sizes push the count past 1000; the
        // strip is full then, and the product below never overflows.
        int fill = progress >= 1000 ? w : w * progress / 1000;
        if (fill > 0) SpriteCols(dc, SprFill, 0, fill, x, y);
        return;
    }
    // The band enters at the left, crosses at a pixel of 100 % per 4 ms (a
    // sweep takes as long at every scale) and leaves at the right: up to band
    // columns of the fill, start .. end - 1.
    int band = Scale(Band);
    int p = (int)((unsigned long long)tick * Dpi / (4 * 96) % (unsigned)(w + band));
    int start = p - band > 0 ? p - band : 0;
    int end = p < w ? p : w;
    if (start < end) SpriteCols(dc, SprFill, start, end - start, x + start, y);
}
