// The picture: the art embedded in this program as in the launcher, at every
// scale; the drawing primitives on every kind of destination they meet (the
// frame's own DIB, whose bits they write, and any other DIB or device bitmap,
// through GDI's AlphaBlend); and the frame PaintFrame draws for states set
// here, at scales spread over the rows of each table, checked pixel by pixel
// against the platform's AlphaBlend of the sprite the state selects, the blend
// of each fill, and the ink of each text. At 100 % the frame of every key
// state is the frame drawn before the window scaled; at 150 % it is the art
// pipeline's own picture, not the 100 % frame stretched.
//
// The first two tests need a process in which nothing was drawn or loaded yet
// (fonts stay registered for its life; the fill surface is made once), so
// they come first: GoogleTest runs a file's tests in the order written.
#include <gtest/gtest.h>

#include <wincodec.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <functional>
#include <set>
#include <thread>
#include <vector>

#include <fstream>
#include <map>
#include <sstream>

#include "app/assets.h"
#include "app/options.h"
#include "app/picture.h"
#include "app/scale.h"
#include "app/state.h"
#include "render/draw.h"
#include "render/paint.h"
#include "scenes.h"
#include "support/testutil.h"
#include "ui/proc.h"
#include "ui/layout.h"

namespace {

// The whole window at the current scale.
RECT All() { return {0, 0, Scale(WinW), Scale(WinH)}; }

// A w x h 32-bit DIB section selected into its own memory DC (the window's
// size at the current scale when no size is given).
struct Dib {
    HDC dc = 0;
    HBITMAP bmp = 0;
    BYTE *bits = nullptr;
    int w = 0, h = 0;
    bool bottomUp;

    Dib(int width, int height, bool bottomUpRows = false) : bottomUp(bottomUpRows) { Make(width, height); }
    Dib() : bottomUp(false) { Make(Scale(WinW), Scale(WinH)); }
    ~Dib() { Free(); }
    void Make(int width, int height) {
        Free();
        w = width;
        h = height;
        BITMAPINFO bi = {};
        bi.bmiHeader = {sizeof bi.bmiHeader, w, bottomUp ? h : -h, 1, 32, BI_RGB};
        void *p = nullptr;
        dc = CreateCompatibleDC(0);
        bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &p, 0, 0);
        bits = (BYTE *)p;
        SelectObject(dc, bmp);
    }
    void Free() {
        if (dc) DeleteDC(dc);
        if (bmp) DeleteObject(bmp);
        dc = 0;
        bmp = 0;
    }
    void FitWindow() {  // the window's size at the current scale
        if (w != Scale(WinW) || h != Scale(WinH)) Make(Scale(WinW), Scale(WinH));
    }
    DWORD *Row(int y) {  // row y, top row 0, after GDI's pending drawing
        GdiFlush();
        return (DWORD *)(bits + (size_t)(bottomUp ? h - 1 - y : y) * w * 4);
    }
    DWORD &At(int x, int y) { return Row(y)[x]; }  // the pixel as stored: 0xAARRGGBB
    DWORD Rgb(int x, int y) { return At(x, y) & 0xFFFFFF; }
    void CopyFrom(Dib &o) { BitBlt(dc, 0, 0, w, h, o.dc, 0, 0, SRCCOPY); }  // the same size only
};

// 0xRRGGBB of a COLORREF.
DWORD Rgb(COLORREF c) { return GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c); }

// c over d at constant alpha a, each channel rounded: what a translucent fill makes.
DWORD Mix(DWORD d, COLORREF c, int a) {
    DWORD out = 0, src = Rgb(c);
    for (int sh = 0; sh < 24; sh += 8) out |= (((src >> sh) & 255) * a + ((d >> sh) & 255) * (255 - a) + 127) / 255 << sh;
    return out;
}

ResampleSpace space;  // for the tests' own resampling

// The launcher at dpi, its art and fonts loaded for it (only when the scale
// changes: a load decodes a set).
void AtScale(int dpi) {
    if (Dpi == dpi && FBody) return;
    Dpi = dpi;
    LoadAssets();
}

// The launcher state of a fresh start (ResetState) at dpi, and the painter's
// tick source at TestTicks, set to 0.
DWORD TestTicks;
DWORD WINAPI TestTickSource() { return TestTicks; }
void FreshFrame(int dpi = 96) {
    ResetState();
    AtScale(dpi);
    TestTicks = 0;
    Ticks = TestTickSource;
}

// The page background (0 home, 1 options) as the frame starts from it.
void PaintBackground(Dib &d, int page) {
    HDC src = CreateCompatibleDC(d.dc);
    SelectObject(src, page ? BgOpt : BgHome);
    BitBlt(d.dc, 0, 0, Scale(WinW), Scale(WinH), src, 0, 0, SRCCOPY);
    DeleteDC(src);
}

// A layout rectangle (100 % pixels) at the current scale.
RECT S(RECT r) { return ScaleRect(r.left, r.top, r.right, r.bottom); }

// The frame's pixels as the reference keeps them: rows top to bottom, each
// pixel's bytes blue, green, red.
std::string Pixels(Dib &d) {
    std::string out;
    out.reserve((size_t)d.w * d.h * 3);
    for (int y = 0; y < d.h; y++) {
        const BYTE *row = (const BYTE *)d.Row(y);
        for (int x = 0; x < d.w; x++) out.append((const char *)row + x * 4, 3);
    }
    return out;
}

// A PNG decoded by the Windows Imaging Component, which the launcher does
// not use (it decodes its own art): 32-bit blue, green, red, alpha rows.
bool WindowsDecodes(const std::string &png, std::vector<BYTE> *pixels, int *w, int *h) {
    IWICImagingFactory *wic = nullptr;
    IWICStream *stream = nullptr;
    IWICBitmapDecoder *decoder = nullptr;
    IWICBitmapFrameDecode *frame = nullptr;
    IWICFormatConverter *bgra = nullptr;
    UINT uw = 0, uh = 0;
    CoInitializeEx(0, COINIT_MULTITHREADED);
    bool ok = SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory1, 0, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                         (void **)&wic)) &&
              SUCCEEDED(wic->CreateStream(&stream)) &&
              SUCCEEDED(stream->InitializeFromMemory((BYTE *)png.data(), (DWORD)png.size())) &&
              SUCCEEDED(wic->CreateDecoderFromStream(stream, 0, WICDecodeMetadataCacheOnDemand, &decoder)) &&
              SUCCEEDED(decoder->GetFrame(0, &frame)) && SUCCEEDED(wic->CreateFormatConverter(&bgra)) &&
              SUCCEEDED(bgra->Initialize(frame, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, 0, 0,
                                         WICBitmapPaletteTypeCustom)) &&
              SUCCEEDED(bgra->GetSize(&uw, &uh));
    if (ok) {
        pixels->assign((size_t)uw * uh * 4, 0);
        ok = SUCCEEDED(bgra->CopyPixels(0, uw * 4, (UINT)pixels->size(), pixels->data()));
    }
    for (IUnknown *u : {(IUnknown *)bgra, (IUnknown *)frame, (IUnknown *)decoder, (IUnknown *)stream, (IUnknown *)wic})
        if (u) u->Release();
    CoUninitialize();
    *w = (int)uw;
    *h = (int)uh;
    return ok;
}

// A resource of this program (the launcher's art is linked in).
std::string Resource(int id) {
    HRSRC r = FindResourceW(0, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));
    return r ? std::string((const char *)LockResource(LoadResource(0, r)), SizeofResource(0, r)) : "";
}

// Sprite columns sx .. sx + w - 1 (w < 0: all) blended at (x, y) by AlphaBlend.
void BlendSprite(Dib &d, int index, int x, int y, int sx = 0, int w = -1) {
    const SpriteEntry &e = Spr[index];
    BLENDFUNCTION bf = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    AlphaBlend(d.dc, x, y, w < 0 ? e.width : w, e.height, e.dc, sx, 0, w < 0 ? e.width : w, e.height, bf);
}

// Pixels that differ between two frames within r, with their bounds, and how
// many of them are exactly in the colour asked for.
struct Ink {
    int count = 0;
    RECT box = {INT_MAX, INT_MAX, INT_MIN, INT_MIN};
    int exact = 0;
};
Ink InkIn(Dib &frame, Dib &ground, RECT r, COLORREF colour) {
    Ink ink;
    for (int y = r.top; y < r.bottom; y++) {
        const DWORD *f = frame.Row(y), *g = ground.Row(y);
        for (int x = r.left; x < r.right; x++) {
            DWORD p = f[x] & 0xFFFFFF;
            if (p == (g[x] & 0xFFFFFF)) continue;
            ink.count++;
            ink.exact += p == Rgb(colour);
            ink.box = {std::min<LONG>(ink.box.left, x), std::min<LONG>(ink.box.top, y),
                       std::max<LONG>(ink.box.right, x + 1), std::max<LONG>(ink.box.bottom, y + 1)};
        }
    }
    return ink;
}

// The width of text in font, as GDI measures it.
int TextWidth(HFONT font, const wchar_t *text) {
    HDC dc = CreateCompatibleDC(0);
    SelectObject(dc, font);
    SIZE s = {};
    GetTextExtentPoint32W(dc, text, lstrlenW(text), &s);
    DeleteDC(dc);
    return s.cx;
}


std::set<std::wstring> Families() {
    std::set<std::wstring> found;
    HDC dc = GetDC(0);
    LOGFONTW lf = {};
    lf.lfCharSet = DEFAULT_CHARSET;
    EnumFontFamiliesExW(dc, &lf, [](const LOGFONTW *f, const TEXTMETRICW *, DWORD, LPARAM p) -> int {
        ((std::set<std::wstring> *)p)->insert(f->lfFaceName);
        return 1;
    }, (LPARAM)&found, 0);
    ReleaseDC(0, dc);
    return found;
}

// The pixels of a loaded entry, from its DIB section.
std::string Bits(const SpriteEntry &e) {
    DIBSECTION ds = {};
    if (!e.bitmap || GetObjectW(e.bitmap, sizeof ds, &ds) != sizeof ds || !ds.dsBm.bmBits) return "";
    return std::string((const char *)ds.dsBm.bmBits, (size_t)e.width * e.height * 4);
}

// A device bitmap the size of d, selected into its own DC: GDI's own kind of destination.
struct Ddb {
    HDC dc;
    HBITMAP bmp;
    explicit Ddb(Dib &d) {
        HDC screen = GetDC(0);
        dc = CreateCompatibleDC(screen);
        bmp = CreateCompatibleBitmap(screen, d.w, d.h);
        SelectObject(dc, bmp);
        ReleaseDC(0, screen);
    }
    ~Ddb() {
        DeleteDC(dc);
        DeleteObject(bmp);
    }
};

}  // namespace

// ---- The art as loaded ---------------------------------------------------------------

TEST(Assets, LoadAssetsRegistersTheFontsAndLoadsBackgroundsAndEverySprite) {
    const wchar_t *families[] = {L"Zorun Cinzel", L"Zorun Sans", L"Zorun Sans SemiBold"};
    std::set<std::wstring> before = Families();
    for (const wchar_t *f : families) ASSERT_EQ(before.count(f), 0u) << "the prefix already knows " << Utf8(f);
    LoadAssets();
    std::set<std::wstring> after = Families();
    for (const wchar_t *f : families) EXPECT_EQ(after.count(f), 1u) << Utf8(f);
    // Every handle selects the face it names: none falls back to a stand-in.
    for (HFONT font : {FTileBig, FTile, FBody, FBodySb, FList, FSmall}) {
        LOGFONTW lf = {};
        GetObjectW(font, sizeof lf, &lf);
        HDC dc = CreateCompatibleDC(0);
        SelectObject(dc, font);
        wchar_t face[LF_FACESIZE] = {};
        GetTextFaceW(dc, LF_FACESIZE, face);
        DeleteDC(dc);
        EXPECT_STREQ(face, lf.lfFaceName);
        EXPECT_EQ(after.count(face), 1u) << Utf8(face);
    }
    for (HBITMAP bg : {BgHome, BgOpt}) {
        BITMAP bm = {};
        ASSERT_EQ(GetObjectW(bg, sizeof bm, &bm), (int)sizeof bm);
        EXPECT_EQ(bm.bmWidth, WinW);
        EXPECT_EQ(bm.bmHeight, WinH);
    }
    HICON icon = (HICON)LoadImageW(GetModuleHandleW(0), MAKEINTRESOURCEW(IdIcon), IMAGE_ICON, 32, 32, 0);
    EXPECT_TRUE(icon) << "the system makes an icon of the icon group";
}

// A translucent fill on a destination that is not the frame's own DIB goes
// through a one-pixel surface, made on the first such fill. When it cannot be
// made (GDI's handle table full, which only a leak elsewhere would cause) the
// fill draws nothing, the frame still completes, and a later fill makes it.
TEST(Surface, AFillWithoutItsSurfaceDrawsNothingAndTheFrameCompletes) {
    FreshFrame();
    Page = Ready = DdOpen = 1;
    Volume = 0;  // the slider's whole track is translucent
    DdHover = 3;
    Hover = ResList;
    Progress = 300;
    Dib want, ground, seen;
    PaintFrame(want.dc);  // on a canvas, which needs no surface
    PaintBackground(ground, 1);
    Ddb ddb(want);
    // Fill the handle table, then give back one handle: enough for the
    // background's DC and the list's frame brush, one at a time, but not for
    // the surface's DC and bitmap together.
    std::vector<HBRUSH> held;
    for (HBRUSH b; held.size() < 200000 && (b = CreateSolidBrush(RGB(1, 2, 3)));) held.push_back(b);
    ASSERT_LT(held.size(), 200000u) << "GDI never ran out of handles";
    DeleteObject(held.back());
    held.pop_back();
    RECT r = {10, 10, 60, 60};
    BitBlt(ddb.dc, 0, 0, WinW, WinH, ground.dc, 0, 0, SRCCOPY);
    Shade(ddb.dc, &r, 120, RGB(255, 0, 0));
    BitBlt(seen.dc, 0, 0, WinW, WinH, ddb.dc, 0, 0, SRCCOPY);
    EXPECT_EQ(InkIn(seen, ground, r, 0).count, 0) << "a fill without its surface drew";
    PaintFrame(ddb.dc);
    BitBlt(seen.dc, 0, 0, WinW, WinH, ddb.dc, 0, 0, SRCCOPY);
    for (HBRUSH b : held) DeleteObject(b);
    // The translucent fills are missing (the slider's track shows the page), and
    // what comes after them is all there: Play, the status line, the list's rows.
    EXPECT_EQ(seen.Rgb(100, 366), ground.Rgb(100, 366)) << "the slider track was drawn";
    EXPECT_NE(want.Rgb(100, 366), ground.Rgb(100, 366));
    for (RECT r : {RECT{656, 446, 886, 548}, RECT{40, 460, 500, 490}, RECT{234, 262, 514, 322}})
        EXPECT_EQ(InkIn(seen, want, r, 0).count, 0) << "the frame did not complete";
    // With handles to spare the next fill makes the surface: the same frame as on a canvas.
    PaintFrame(ddb.dc);
    BitBlt(seen.dc, 0, 0, WinW, WinH, ddb.dc, 0, 0, SRCCOPY);
    EXPECT_EQ(InkIn(seen, want, All(), 0).count, 0);
}

// Sets made here from the 100 % set as built: cut short, with places outside
// the atlas or without pixels, more than 45 sprites, a picture that is no PNG,
// a patch outside the background. Only whole sprites load, never more than
// 45, and what decodes still loads.
TEST(Assets, MadeSetsLoadOnlyWholeSpritesAndAtMost45) {
    FreshFrame();
    const std::string set = Resource(IdArt);
    ASSERT_GT(set.size(), 8u);
    const int count = (unsigned char)set[2] | (unsigned char)set[3] << 8;
    ASSERT_EQ(count, SpriteMax);
    const size_t places = 8, pictures = places + 8 * count;  // where the places and the pictures begin
    auto length = [&](size_t at) { return *(const DWORD *)(set.data() + at); };
    const size_t patch = pictures + 4 + length(pictures), atlas = patch + 4 + length(patch),
                 bottom = atlas + 4 + length(atlas);  // the options page's sprites
    // A copy of the set with place i's field k (x, y, w, h) set to v.
    auto place = [&](int i, int k, int v) {
        std::string c = set;
        *(unsigned short *)&c[places + 8 * i + 2 * k] = (unsigned short)v;
        return c;
    };
    std::string fifty = set.substr(0, 2) + std::string("\x32\x00", 2) + set.substr(4, pictures - 4) +
                        set.substr(places, 8 * 5) + set.substr(pictures);
    std::string count0 = set.substr(0, 2) + std::string("\0\0", 2) + set.substr(4, 4) + set.substr(pictures);
    std::string brokenHome = set;
    brokenHome[pictures + 4 + 20] ^= 0x55;  // inside the PNG's header: no PNG then
    std::string farPatch = set;
    farPatch[4] = farPatch[5] = (char)0xFF;
    struct Case {
        const char *what;
        std::string set;
        bool home, opt;
        int sprites;
        int absent;  // a sprite that must be absent, -1 for none
    } cases[] = {
        {"whole", set, true, true, 45, -1},
        {"cut in the options page's sprites", set.substr(0, set.size() - 100), true, true, 25, 4},
        {"cut after the home page's sprites", set.substr(0, bottom), true, true, 25, 26},
        {"cut in the home page's sprites", set.substr(0, bottom - 100), true, true, 0, -1},
        {"cut after the patch", set.substr(0, atlas), true, true, 0, -1},
        {"cut in the home picture", set.substr(0, pictures + 100), false, false, 0, -1},
        {"cut in the places", set.substr(0, places + 8 * 10), false, false, 0, -1},
        {"only a part of the head", set.substr(0, 7), false, false, 0, -1},
        {"fifty places", fifty, true, true, 45, -1},
        {"no sprites", count0, true, true, 0, -1},
        {"a place right of the atlas", place(3, 0, 60000), true, true, 44, 3},
        {"a place below the atlas", place(7, 1, 60000), true, true, 44, 7},
        {"a place too wide", place(12, 2, 60000), true, true, 44, 12},
        {"a place without pixels", place(20, 3, 0), true, true, 44, 20},
        {"a home picture that is no PNG", brokenHome, false, false, 45, -1},
        {"a patch outside the background", farPatch, true, false, 45, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(LoadArtSet((const BYTE *)c.set.data(), (DWORD)c.set.size(), (const BYTE *)set.data(),
                             (DWORD)set.size()),
                  c.sprites);
        EXPECT_EQ(BgHome != 0, c.home);
        EXPECT_EQ(BgOpt != 0, c.opt);
        int loaded = 0;
        for (int i = 0; i < SpriteMax; i++) {
            const SpriteEntry &e = Spr[i];
            bool whole = e.dc && e.bitmap && e.width > 0 && e.height > 0 && (int)Bits(e).size() == e.width * e.height * 4;
            bool empty = !e.dc && !e.bitmap && !e.width && !e.height;
            EXPECT_TRUE(whole || empty) << "entry " << i;
            loaded += whole;
            if (i == c.absent) EXPECT_TRUE(empty) << "entry " << i;
        }
        EXPECT_EQ(loaded, c.sprites);
    }
    Dpi = 96;  // the real art again
    LoadAssets();
}

// Every scale gets art of its own size: the sets drawn for 100 to 200 % as
// they are, the scales between and above them from the nearest larger set
// (or the largest) resampled. The fonts follow the scale, and so does the
// Play button's body, whose place the hit test gives (at 100 % from x 10 to
// 220 of the sprite): its opaque columns stay there at every scale.
TEST(Assets, EveryScaleLoadsArtOfItsSize) {
    struct {
        int dpi, bgW, bgH, playW, playH;
    } cases[] = {
        {96, 900, 560, 230, 102},   {120, 1125, 700, 288, 128}, {144, 1350, 840, 345, 153},
        {168, 1575, 980, 403, 179}, {192, 1800, 1120, 460, 204}, {108, 1013, 630, 259, 115},
        {132, 1238, 770, 316, 140}, {240, 2250, 1400, 575, 255},
    };
    FreshFrame();
    TEXTMETRICW at100;
    HDC dc = CreateCompatibleDC(0);
    SelectObject(dc, FBody);
    GetTextMetricsW(dc, &at100);
    for (auto &c : cases) {
        SCOPED_TRACE(c.dpi);
        AtScale(c.dpi);
        for (HBITMAP bg : {BgHome, BgOpt}) {
            BITMAP bm = {};
            ASSERT_EQ(GetObjectW(bg, sizeof bm, &bm), (int)sizeof bm);
            EXPECT_EQ(bm.bmWidth, c.bgW);
            EXPECT_EQ(bm.bmHeight, c.bgH);
        }
        EXPECT_EQ(Spr[SprPlay].width, c.playW);
        EXPECT_EQ(Spr[SprPlay].height, c.playH);
        for (int i = 0; i < SpriteMax; i++) {
            std::string px = Bits(Spr[i]);
            ASSERT_FALSE(px.empty()) << "sprite " << i;
            size_t above = 0, ink = 0;
            for (size_t k = 0; k < px.size(); k += 4) {
                BYTE a = px[k + 3];
                above += (BYTE)px[k] > a || (BYTE)px[k + 1] > a || (BYTE)px[k + 2] > a;
                ink += a != 0;
            }
            EXPECT_EQ(above, 0u) << "sprite " << i << " is not premultiplied";
            EXPECT_GT(ink, 0u) << "sprite " << i << " is empty";
        }
        // Play's opaque columns on its middle row: its body.
        std::string play = Bits(Spr[SprPlay]);
        int row = c.playH / 2, first = -1, last = -1;
        for (int x = 0; x < c.playW; x++)
            if ((BYTE)play[((size_t)row * c.playW + x) * 4 + 3] == 255) last = x, first = first < 0 ? x : first;
        EXPECT_NEAR(first, 10 * c.dpi / 96.0, 2);
        EXPECT_NEAR(last + 1, 220 * c.dpi / 96.0, 2);
        TEXTMETRICW tm;
        SelectObject(dc, FBody);
        GetTextMetricsW(dc, &tm);
        EXPECT_NEAR(tm.tmHeight, at100.tmHeight * c.dpi / 96.0, 1.5) << "the body font's height";
    }
    DeleteDC(dc);
    FreshFrame();
}

namespace {

unsigned Crc32(const std::string &data) {
    unsigned c = 0xFFFFFFFF;
    for (unsigned char b : data) {
        c ^= b;
        for (int k = 0; k < 8; k++) c = c >> 1 ^ (0xEDB88320 & (0 - (c & 1)));
    }
    return ~c;
}

std::string Be32(unsigned v) { return {(char)(v >> 24), (char)(v >> 16), (char)(v >> 8), (char)v}; }

std::string Chunk(const char *type, const std::string &body) {
    std::string typed = type + body;
    return Be32((unsigned)body.size()) + typed + Be32(Crc32(typed));
}

// An RGB PNG of w x h holding the zlib stream z.
std::string RgbPng(int w, int h, const std::string &z) {
    return std::string("\x89PNG\r\n\x1a\n", 8) + Chunk("IHDR", Be32(w) + Be32(h) + std::string("\x08\x02\0\0\0", 5)) +
           Chunk("IDAT", z) + Chunk("IEND", "");
}

// An RGB PNG of w x h whose IDAT holds its rows (filter 0) in stored blocks
// of at most block bytes.
std::string StoredPng(int w, int h, const std::string &rgb, size_t block) {
    std::string raw;
    for (int y = 0; y < h; y++) raw += '\0' + rgb.substr((size_t)y * w * 3, (size_t)w * 3);
    std::string z = "\x78\x01";
    for (size_t at = 0; at < raw.size(); at += block) {
        size_t n = std::min(block, raw.size() - at);
        z += (char)(at + n == raw.size());
        z += {(char)(n & 255), (char)(n >> 8), (char)(~n & 255), (char)(~n >> 8 & 255)};
        z += raw.substr(at, n);
    }
    unsigned a = 1, b = 0;
    for (unsigned char c : raw) a = (a + c) % 65521, b = (b + a) % 65521;
    z += Be32(b << 16 | a);
    return RgbPng(w, h, z);
}

// A PNG written by the Windows Imaging Component: w x h of pixels (blue,
// green, red, alpha), RGBA when alpha, else RGB.
std::string WindowsEncodes(const std::vector<BYTE> &pixels, int w, int h, bool alpha) {
    std::string out;
    IWICImagingFactory *wic = nullptr;
    IStream *stream = nullptr;
    IWICBitmapEncoder *encoder = nullptr;
    IWICBitmapFrameEncode *frame = nullptr;
    CoInitializeEx(0, COINIT_MULTITHREADED);
    WICPixelFormatGUID format = alpha ? GUID_WICPixelFormat32bppBGRA : GUID_WICPixelFormat24bppBGR;
    std::vector<BYTE> rows;
    for (size_t i = 0; i < pixels.size(); i += 4) rows.insert(rows.end(), pixels.begin() + i, pixels.begin() + i + (alpha ? 4 : 3));
    HGLOBAL mem = 0;
    if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory1, 0, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                   (void **)&wic)) &&
        SUCCEEDED(CreateStreamOnHGlobal(0, TRUE, &stream)) &&
        SUCCEEDED(wic->CreateEncoder(GUID_ContainerFormatPng, 0, &encoder)) &&
        SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
        SUCCEEDED(encoder->CreateNewFrame(&frame, 0)) && SUCCEEDED(frame->Initialize(0)) &&
        SUCCEEDED(frame->SetSize(w, h)) && SUCCEEDED(frame->SetPixelFormat(&format)) && format == (alpha ? GUID_WICPixelFormat32bppBGRA : GUID_WICPixelFormat24bppBGR) &&
        SUCCEEDED(frame->WritePixels(h, w * (alpha ? 4 : 3), (UINT)rows.size(), rows.data())) &&
        SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit()) && SUCCEEDED(GetHGlobalFromStream(stream, &mem))) {
        STATSTG st = {};
        stream->Stat(&st, STATFLAG_NONAME);
        out.assign((const char *)GlobalLock(mem), (size_t)st.cbSize.QuadPart);
        GlobalUnlock(mem);
    }
    for (IUnknown *u : {(IUnknown *)frame, (IUnknown *)encoder, (IUnknown *)stream, (IUnknown *)wic})
        if (u) u->Release();
    CoUninitialize();
    return out;
}

}  // namespace

// The launcher decodes its art itself (PNG with its own inflate): every
// picture of every scale and the fonts, byte for byte as the Windows Imaging
// Component decodes them; so are PNG images Windows wrote (its own filters
// and blocks, fixed codes in the small ones) and one of stored blocks. A
// damaged or cut picture is refused, and never read past.
TEST(Assets, OurPngDecodingIsByteForByteWindowsOwn) {
    std::vector<std::pair<std::string, std::string>> pngs;  // what, the PNG
    for (int id = IdArt; id < IdArt + 5; id++) {
        std::string set = Resource(id);
        ASSERT_GT(set.size(), 8u) << id;
        size_t at = 8 + 8 * ((unsigned char)set[2] | (unsigned char)set[3] << 8);
        for (const char *part : {"home", "patch", "the home page's sprites", "the options page's sprites"}) {
            DWORD n = *(const DWORD *)(set.data() + at);
            pngs.push_back({"set " + std::to_string(id) + ", " + part, set.substr(at + 4, n)});
            at += 4 + n;
        }
    }
    std::vector<BYTE> gradient, noise;
    for (int i = 0; i < 64 * 40; i++) {
        gradient.insert(gradient.end(), {(BYTE)(i % 64 * 4), (BYTE)(i / 64 * 6), (BYTE)(i * 7), (BYTE)(i % 64 + 100)});
        noise.insert(noise.end(), {(BYTE)(i * 2654435761u >> 24), (BYTE)(i * 40503u >> 7), (BYTE)(i * 97), (BYTE)(i * 13)});
    }
    pngs.push_back({"written by Windows, RGBA", WindowsEncodes(gradient, 64, 40, true)});
    pngs.push_back({"written by Windows, RGB", WindowsEncodes(gradient, 64, 40, false)});
    pngs.push_back({"written by Windows, small", WindowsEncodes(noise, 5, 3, true)});
    std::string rgb;
    for (int i = 0; i < 41 * 29 * 3; i++) rgb += (char)(i * 31 + i / 7);
    pngs.push_back({"stored blocks", StoredPng(41, 29, rgb, 1000)});
    // 6 x 4, its rows under the five filters in turn, in a block of fixed
    // codes (zlib's Z_FIXED).
    pngs.push_back({"fixed codes, every filter",
                    RgbPng(6, 4, std::string("\x78\x01\x63\x60\x60\x60\xd0\x60\x66\x08\x60\x63\xa8\xe0\x64\x58\xc0"
                                             "\xc3\x70\x82\x9f\x81\x91\xdd\x88\x41\xdf\x94\x33\xdc\x42\xa8\xde\x5a"
                                             "\x7a\xb9\x9d\xca\x79\x47\x5d\x26\xbe\x14\x06\xb3\x74\xa1\xb8\x2c\x95"
                                             "\xb6\x5c\xb3\x75\x05\x1e\xd7\x8a\xa3\x98\x45\xa7\x31\xd8\xce\x94\x4e"
                                             "\x9d\x63\xd6\x3b\x3f\x70\xeb\xa2\x9c\xbb\x4b\xdb\x01\x50\xca\x15\x49",
                                             85))});
    for (auto &[what, png] : pngs) {
        SCOPED_TRACE(what);
        ASSERT_FALSE(png.empty());
        std::vector<BYTE> want;
        int ww = 0, wh = 0, w = 0, h = 0;
        ASSERT_TRUE(WindowsDecodes(png, &want, &ww, &wh));
        BYTE *bits = nullptr;
        HBITMAP ours = DecodePng(png.data(), (DWORD)png.size(), &w, &h, &bits);
        ASSERT_TRUE(ours);
        EXPECT_EQ(w, ww);
        EXPECT_EQ(h, wh);
        EXPECT_TRUE(w == ww && h == wh && !memcmp(bits, want.data(), want.size())) << "other pixels";
        DeleteObject(ours);
    }
    for (int id : {IdFontTitle, IdFontBody, IdFontSemi}) {
        std::string font = Resource(id), png = font.substr(4);
        std::vector<BYTE> want, ours(1 << 20);
        int w = 0, h = 0;
        ASSERT_TRUE(WindowsDecodes(png, &want, &w, &h)) << id;
        ASSERT_EQ(DecodeGrey(png.data(), (DWORD)png.size(), ours.data(), (DWORD)ours.size()), (DWORD)(w * h)) << id;
        size_t differ = 0;
        for (int i = 0; i < w * h; i++) differ += ours[i] != want[(size_t)i * 4];
        EXPECT_EQ(differ, 0u) << "font " << id;
    }
    // Damaged: cut in its data or at its end, a byte of its data changed.
    const std::string home = pngs[0].second;
    std::string flipped = home;
    flipped[home.size() / 2] ^= 0x20;
    for (const std::string &bad : {home.substr(0, home.size() / 2), home.substr(0, home.size() - 13), flipped}) {
        int w, h;
        BYTE *bits;
        HBITMAP b = DecodePng(bad.data(), (DWORD)bad.size(), &w, &h, &bits);
        EXPECT_FALSE(b) << "a damaged picture decoded";
        if (b) DeleteObject(b);
    }
}

// The resampling that makes the scales between the sets: smaller, each pixel
// the average of the area it covers; larger, a linear blend; premultiplied
// pixels stay so; and a size it cannot make leaves the picture untouched.
TEST(Assets, ResamplingAveragesBlendsAndKeepsPremultiplied) {
    auto grey = [](std::vector<BYTE> v) {  // one row of grey pixels, opaque
        std::vector<BYTE> px;
        for (BYTE b : v) px.insert(px.end(), {b, b, b, 255});
        return px;
    };
    struct {
        const char *what;
        std::vector<BYTE> from;
        int dw;
        std::vector<BYTE> to;
    } rows[] = {
        {"the same size", {7, 200, 13}, 3, {7, 200, 13}},
        {"half: pairs averaged", {0, 100, 200, 50}, 2, {50, 125}},
        {"two thirds: areas", {0, 90, 180}, 2, {30, 150}},
        {"double: blended", {0, 200}, 4, {0, 50, 150, 200}},
    };
    for (auto &r : rows) {
        std::vector<BYTE> src = grey(r.from), dst(r.dw * 4, 1);
        ASSERT_TRUE(Resample(&space, src.data(), (int)r.from.size(), 1, (int)src.size(), dst.data(), r.dw, 1)) << r.what;
        EXPECT_EQ(dst, grey(r.to)) << r.what;
    }
    // Premultiplied noise, made smaller and larger on both axes.
    std::vector<BYTE> noise(64 * 48 * 4);
    for (size_t i = 0; i < noise.size(); i += 4) {
        BYTE a = (BYTE)(i * 2654435761u >> 24);
        for (int c = 0; c < 3; c++) noise[i + c] = (BYTE)(a ? (i * 40503u >> (8 + c)) % (a + 1) : 0);
        noise[i + 3] = a;
    }
    for (SIZE to : {SIZE{50, 37}, SIZE{97, 80}, SIZE{64, 100}}) {
        std::vector<BYTE> dst(to.cx * to.cy * 4);
        ASSERT_TRUE(Resample(&space, noise.data(), 64, 48, 64 * 4, dst.data(), to.cx, to.cy));
        size_t above = 0;
        for (size_t i = 0; i < dst.size(); i += 4)
            above += dst[i] > dst[i + 3] || dst[i + 1] > dst[i + 3] || dst[i + 2] > dst[i + 3];
        EXPECT_EQ(above, 0u) << to.cx << " x " << to.cy;
    }
    std::vector<BYTE> dst(10 * 4, 9);
    EXPECT_FALSE(Resample(&space, noise.data(), 64, 1, 64 * 4, dst.data(), 10, 1)) << "a sixth of the size";
    EXPECT_EQ(dst, std::vector<BYTE>(10 * 4, 9));
}

// ---- Primitives on every kind of destination ---------------------------------------------

namespace {

enum Kind { OnCanvas, PlainDib, DeviceBitmap };
const char *Name(Kind k) { return k == OnCanvas ? "canvas" : k == PlainDib ? "plain DIB" : "device bitmap"; }

// A destination of one kind, filled from and read back into a DIB.
struct Target {
    Kind kind;
    Dib dib;
    Ddb *ddb = nullptr;
    Target(Kind k, int w, int h) : kind(k), dib(w, h) {
        if (k == DeviceBitmap) ddb = new Ddb(dib);
    }
    ~Target() {
        EndCanvas();
        delete ddb;
    }
    HDC Dc() { return ddb ? ddb->dc : dib.dc; }
    void Load() {
        if (ddb) BitBlt(ddb->dc, 0, 0, dib.w, dib.h, dib.dc, 0, 0, SRCCOPY);
        if (kind == OnCanvas) EXPECT_TRUE(BeginCanvas(dib.dc));
    }
    Dib &Read() {
        EndCanvas();
        if (ddb) BitBlt(dib.dc, 0, 0, dib.w, dib.h, ddb->dc, 0, 0, SRCCOPY);
        return dib;
    }
};

// A ground where every pixel differs: red, green and blue run through all values.
void Gradient(Dib &d) {
    for (int y = 0; y < d.h; y++)
        for (int x = 0; x < d.w; x++) d.At(x, y) = (x * 7 + y) % 256 << 16 | (x + y * 3) % 256 << 8 | (x * y) % 256;
}

const Kind Kinds[] = {OnCanvas, PlainDib, DeviceBitmap};

}  // namespace

// The canvas blends with AlphaBlend's own arithmetic: checked against it for
// every alpha, every colour value (row c fills with c) and every ground value
// (column x holds x).
TEST(Shade, OnTheCanvasEqualsAlphaBlendForEveryAlphaColourAndGround) {
    FreshFrame();
    Dib ours(256, 256), gdi(256, 256), colours(256, 256);
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++) colours.At(x, y) = Rgb(RGB(y, 255 - y, y ^ 0xA5));
    for (int alpha = 1; alpha < 256; alpha++) {
        for (Dib *d : {&ours, &gdi})
            for (int y = 0; y < 256; y++) {
                DWORD *row = d->Row(y);
                for (int x = 0; x < 256; x++) row[x] = (DWORD)(x << 16 | (255 - x) << 8 | (x ^ 0x5A) | (x & 0xF0) << 24);
            }
        ASSERT_TRUE(BeginCanvas(ours.dc));
        for (int c = 0; c < 256; c++) {
            RECT row = {0, c, 256, c + 1};
            Shade(ours.dc, &row, alpha, RGB(c, 255 - c, c ^ 0xA5));
        }
        EndCanvas();
        BLENDFUNCTION bf = {AC_SRC_OVER, 0, (BYTE)alpha, 0};
        AlphaBlend(gdi.dc, 0, 0, 256, 256, colours.dc, 0, 0, 256, 256, bf);
        for (int y = 0; y < 256; y++) {
            DWORD *a = ours.Row(y), *b = gdi.Row(y);
            for (int x = 0; x < 256; x++)
                if ((a[x] ^ b[x]) & 0xFFFFFF) FAIL() << "alpha " << alpha << ", colour " << y << ", ground " << x;
        }
    }
}

// A sprite made here in Spr's last entry for the test's length: 256 x 256,
// alpha by column, colour bytes up to the alpha by row (premultiplied).
class TestSprite : public ::testing::Test {
protected:
    SpriteEntry saved;
    Dib pic{256, 256};
    void SetUp() override {
        FreshFrame();
        saved = Spr[SprBullet];
        for (int y = 0; y < 256; y++)
            for (int x = 0; x < 256; x++) pic.At(x, y) = x << 24 | (x * y / 255) << 16 | (x - x * y / 255) << 8 | x * y / 510;
        Spr[SprBullet] = {256, 256, pic.dc, pic.bmp};
    }
    void TearDown() override { Spr[SprBullet] = saved; }
};

// Every kind of destination shows the columns asked for that lie inside the
// sprite, pixel for pixel as AlphaBlend draws them over a ground of every
// value: on the canvas too, whose own arithmetic is AlphaBlend's.
TEST_F(TestSprite, TheColumnsInsideAsAlphaBlendDrawsThemAndNothingForAnEmptyEntry) {
    struct {
        int sx, w, x;      // asked: columns sx .. sx + w - 1 at x
        int from, to, at;  // drawn: sprite columns from .. to - 1 at x = at
    } cases[] = {{0, 256, 10, 0, 256, 10}, {200, 100, 10, 200, 256, 10}, {-10, 30, 50, 0, 20, 60},
                 {300, 20, 10, 0, 0, 0},   {10, 0, 10, 0, 0, 0},          {0, -5, 10, 0, 0, 0}};
    for (Kind k : Kinds) {
        for (auto &c : cases) {
            Target t(k, 400, 260);
            Gradient(t.dib);
            Dib want(400, 260);
            want.CopyFrom(t.dib);
            if (c.to > c.from) BlendSprite(want, SprBullet, c.at, 2, c.from, c.to - c.from);
            t.Load();
            SpriteCols(t.Dc(), SprBullet, c.sx, c.w, c.x, 2);
            EXPECT_EQ(InkIn(t.Read(), want, {0, 0, 400, 260}, 0).count, 0) << Name(k) << ": " << c.sx << " +" << c.w;
        }
        Target t(k, 64, 64);
        Gradient(t.dib);
        Dib before(64, 64);
        before.CopyFrom(t.dib);
        t.Load();
        Spr[SprBullet] = {};
        Sprite(t.Dc(), SprBullet, 0, 0);
        SpriteCols(t.Dc(), SprBullet, 0, 10, 0, 0);
        Spr[SprBullet] = {256, 256, nullptr, pic.bmp};  // a size but no dc: still absent
        Sprite(t.Dc(), SprBullet, 0, 0);
        EXPECT_EQ(InkIn(t.Read(), before, {0, 0, 64, 64}, 0).count, 0) << Name(k) << ": an empty entry drew";
        Spr[SprBullet] = {256, 256, pic.dc, pic.bmp};
    }
}

// The whole frame into a top-down and a bottom-up DIB (canvas) and into a
// device bitmap (GDI): the same picture.
TEST(Canvas, AFrameIsTheSameOnEveryKindOfDestination) {
    FreshFrame(144);
    Page = DdOpen = Ready = 1;
    DdHover = 7;
    Hover = ResList;
    Progress = 575;
    lstrcpyW(Toast, L"Opções salvas.");
    Dib top, bottom(Scale(WinW), Scale(WinH), true);
    PaintFrame(top.dc);
    PaintFrame(bottom.dc);
    EXPECT_EQ(InkIn(bottom, top, All(), 0).count, 0) << "bottom-up DIB";
    Target ddb(DeviceBitmap, Scale(WinW), Scale(WinH));
    PaintFrame(ddb.Dc());
    EXPECT_EQ(InkIn(ddb.Read(), top, All(), 0).count, 0) << "device bitmap";
}

TEST(Paint, TheFrameHoldsLockFromThePageToThePercentage) {
    FreshFrame();
    ServerUp = 1;
    Progress = 500;
    Dib f, ground;
    PaintBackground(ground, 0);
    // Another thread holds Lock, as the network thread does while it publishes.
    EnterCriticalSection(&Lock);
    std::thread painter([&] { PaintFrame(f.dc); });
    // The painter is waiting once it has asked for the lock.
    EXPECT_TRUE(WaitFor([] { return Lock.LockCount > 0; }, 10000));
    EXPECT_GT(InkIn(f, ground, {308, 16, 576, 80}, 0).count, 0) << "the title strip waits for nothing";
    EXPECT_EQ(InkIn(f, ground, {404, 142, 556, 190}, 0).count, 0) << "the badge was drawn outside the lock";
    EXPECT_EQ(InkIn(f, ground, {656, 446, 886, 548}, 0).count, 0) << "Play was drawn before the page";
    LeaveCriticalSection(&Lock);
    painter.join();
    EXPECT_GT(InkIn(f, ground, {404, 142, 556, 190}, 0).count, 0);
    EXPECT_GT(InkIn(f, ground, {656, 446, 886, 548}, 0).count, 0);
    // The frame lets go of the lock: another thread can take it at once.
    bool free = false;
    std::thread([&] {
        if ((free = TryEnterCriticalSection(&Lock))) LeaveCriticalSection(&Lock);
    }).join();
    EXPECT_TRUE(free);
}

// WM_PAINT runs the cycle onto the real window, whatever part was invalid.
TEST(Paint, TheWindowShowsTheFrame) {
    FreshFrame();
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Proc;
    wc.lpszClassName = L"VelmoraPaintTest";
    RegisterClassW(&wc);
    // A plain popup, shown without activation: it collects an update region.
    Wnd = CreateWindowExW(0, wc.lpszClassName, L"Velmora", WS_POPUP, 20, 30, WinW, WinH, 0, 0, 0, 0);
    ShowWindow(Wnd, SW_SHOWNOACTIVATE);
    ServerUp = Ready = 1;
    Dib want, seen;
    auto shown = [&](const RECT *r) {
        PaintFrame(want.dc);
        InvalidateRect(Wnd, r, FALSE);
        UpdateWindow(Wnd);
        HDC w = GetDC(Wnd);
        BitBlt(seen.dc, 0, 0, WinW, WinH, w, 0, 0, SRCCOPY);
        ReleaseDC(Wnd, w);
        return InkIn(seen, want, r ? *r : All(), 0).count;
    };
    EXPECT_EQ(shown(nullptr), 0);
    Hover = BtnPlay;
    RECT play = {656, 446, 886, 548};
    EXPECT_EQ(shown(&play), 0) << "Play's hover look is not on the window";
    DestroyWindow(Wnd);
    MSG quit;
    PeekMessageW(&quit, 0, WM_QUIT, WM_QUIT, PM_REMOVE);  // what WM_DESTROY posts
}

// ---- The frame at 100 % as it was, and sharp at 150 % -----------------------------------

// Every key state of make screens, drawn at 100 %, is pixel for pixel the frame
// drawn before the window learnt to scale (tests/reference/frames-100.txt, made
// then on the tests' 1366 x 768 screen). A frame that differs is saved beside
// the test's scratch files for a look.
TEST(Reference, AtOneHundredPerCentEveryKeyStateIsTheFrameOfBefore) {
    ASSERT_EQ(GetSystemMetrics(SM_CXSCREEN), 1366) << "the reference's screen (the list's tags)";
    std::map<std::string, std::string> want;
    std::istringstream lines(ReadBytes(SOURCE_DIR L"\\tests\\reference\\frames-100.txt"));
    for (std::string line; std::getline(lines, line);)
        if (!line.empty() && line[0] != '#') want[line.substr(0, line.find(' '))] = line.substr(line.find(' ') + 1);
    ASSERT_EQ((int)want.size(), SceneCount);
    FreshFrame(96);
    Ticks = SceneTickSource;
    Dib frame;
    for (int i = 0; i < SceneCount; i++) {
        FreshScene();
        Scenes[i].set();
        PaintFrame(frame.dc);
        std::string px = Pixels(frame), hash = Sha256Of(px);
        EXPECT_EQ(hash, want[Scenes[i].name]) << Scenes[i].name;
        if (hash != want[Scenes[i].name]) {
            std::wstring out = FreshDir(L"reference") + L"\\" + Wide(Scenes[i].name) + L".rgb";
            WriteBytes(out, px);
            ADD_FAILURE() << "its 900 x 560 pixels (blue, green, red) are in " << Utf8(out);
        }
    }
    Ticks = TestTickSource;
}

namespace {

// The edges of the grey levels in r: the squares of the changes from one
// pixel to the next, across and down. A picture stretched from fewer pixels
// has softer edges: a step spread over more pixels makes smaller squares.
double Edges(Dib &d, RECT r) {
    auto grey = [&](int x, int y) {
        DWORD p = d.Rgb(x, y);
        return (int)((p >> 16 & 255) * 299 + (p >> 8 & 255) * 587 + (p & 255) * 114) / 1000;
    };
    double sum = 0;
    for (int y = r.top; y < r.bottom - 1; y++)
        for (int x = r.left; x < r.right - 1; x++)
            sum += pow(grey(x + 1, y) - grey(x, y), 2) + pow(grey(x, y + 1) - grey(x, y), 2);
    return sum;
}

}  // namespace

// At 150 % the launcher shows the art pipeline's own picture of that scale:
// the home page as first shown, its texts left out (build/art/home-150.png), is
// the frame pixel for pixel outside the texts, its lettering and edges as
// sharp as the pipeline drew them. And it is not what Windows would show of a
// window drawn at 100 % and stretched by 1.5 (bilinear): that one is far from
// it, and its text and edges are softer.
TEST(Sharpness, AtOneHundredAndFiftyPerCentTheFrameIsTheArtsOwnNotTheStretched) {
    FreshFrame(96);
    Dib small;
    PaintFrame(small.dc);
    FreshFrame(144);
    Dib frame, stretched, art;
    PaintFrame(frame.dc);
    ASSERT_TRUE(Resample(&space, (const BYTE *)small.Row(0), small.w, small.h, small.w * 4, (BYTE *)stretched.Row(0),
                         stretched.w, stretched.h));
    std::string png = ReadBytes(ART_DIR L"\\home-150.png");
    std::vector<BYTE> pixels;
    int w = 0, h = 0;
    ASSERT_TRUE(WindowsDecodes(png, &pixels, &w, &h));
    ASSERT_EQ(w, frame.w);
    ASSERT_EQ(h, frame.h);
    for (int y = 0; y < h; y++) memcpy(art.Row(y), &pixels[(size_t)y * w * 4], (size_t)w * 4);
    // The texts the frame draws over the page: the server's name, the player
    // count, the news placeholder and the status line.
    const RECT texts[] = {S({58, 220, 280, 256}), S({312, 216, 534, 258}), S({44, 306, 320, 336}),
                          S({40, 460, 645, 492})};
    int differ = 0;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            POINT p = {x, y};
            bool text = std::any_of(std::begin(texts), std::end(texts), [&](const RECT &t) { return PtInRect(&t, p); });
            differ += !text && frame.Rgb(x, y) != art.Rgb(x, y);
        }
    EXPECT_EQ(differ, 0) << "pixels of the frame that are not the art's";
    // Where the stretched frame goes wrong: the edges of text and lines (the
    // true frame has about twice their energy).
    const RECT logo = S({30, 40, 300, 130}), tabs = S({308, 16, 576, 80}), status = texts[3], all = All();
    auto apart = [&](RECT r) {
        double sum = 0;
        for (int y = r.top; y < r.bottom; y++)
            for (int x = r.left; x < r.right; x++) {
                DWORD a = frame.Rgb(x, y), b = stretched.Rgb(x, y);
                for (int k = 0; k < 24; k += 8) sum += abs((int)(a >> k & 255) - (int)(b >> k & 255));
            }
        return sum / ((r.right - r.left) * (r.bottom - r.top) * 3);
    };
    for (auto [name, r] : {std::pair{"whole", all}, {"logo", logo}, {"tabs", tabs}, {"status line", status}}) {
        double sharper = Edges(frame, r) / Edges(stretched, r);
        std::printf("150 %%, %s: mean difference from the stretched frame %.1f, edges %.2f times the stretched's\n",
                    name, apart(r), sharper);
        EXPECT_GT(sharper, 1.6) << name << ": about as soft as the stretched frame";
    }
    EXPECT_GT(apart(all), 1.5) << "about the stretched frame";
}

// ---- The frame ------------------------------------------------------------------------

namespace {

// The scales a table's rows are spread over, in turns of about equal length
// (a turn per scale: each change of scale decodes a set).
const int Scales[] = {96, 120, 144, 168, 192};
int RowScale(size_t row, size_t rows) { return Scales[row * 5 / rows]; }

// Places below are the layout's, in 100 % pixels, scaled at use.
class Frame : public ::testing::Test {
protected:
    Dib f;  // the frame
    Dib g;  // the background of the page it shows

    void SetUp() override { FreshFrame(); }
    void Paint() {
        f.FitWindow();
        g.FitWindow();
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
        for (RECT &r : skip) {  // a pixel more at a scale's rounded edges
            r = S(r);
            if (Dpi != 96) InflateRect(&r, 1, 1);
        }
        x = Scale(x);
        y = Scale(y);
        int found = -1;
        Dib o;
        for (int i = base; i < base + n; i++) {
            PaintBackground(o, Page);
            BlendSprite(o, i, x, y);
            bool same = true;
            for (int py = y; same && py < y + Spr[i].height; py++)
                for (int px = x; same && px < x + Spr[i].width; px++) {
                    POINT p = {px, py};
                    same = o.Rgb(px, py) == f.Rgb(px, py) ||
                           std::any_of(skip.begin(), skip.end(), [&](const RECT &s) { return PtInRect(&s, p); });
                }
            if (same) found = found == -1 ? i : -2;
        }
        return found;
    }
    bool SameAsBackground(RECT r) { return InkIn(f, g, S(r), 0).count == 0; }
};

// Ink as wide as the text, allowing for the glyphs' side bearings.
#define EXPECT_INK_WIDTH(ink, font, text) \
    EXPECT_NEAR((ink).box.right - (ink).box.left, TextWidth(font, text), Scale(4)) << "ink of " << Utf8(text)

}  // namespace

TEST_F(Frame, EachWidgetShowsTheSpriteItsStateSelects) {
    const RECT resLabel = {232, 190, 478, 224}, listTop = {208, 228, 528, 234}, note = {208, 274, 528, 280};
    struct Case {
        const char *what;
        std::function<void()> set;  // on the home page unless it says otherwise
        int base, n, x, y, want;
        std::vector<RECT> skip;
    } cases[] = {
        {"badge up (any positive)", [] { ServerUp = 7; }, SprBadge, 3, 404, 142, SprBadge},
        {"badge down", [] { ServerUp = 0; }, SprBadge, 3, 404, 142, SprBadge + 1},
        {"badge unknown", [] {}, SprBadge, 3, 404, 142, SprBadge + 2},
        // Play: greyed until Ready, then the push-button rule.
        {"play not ready, pressed", [] { Hover = Pressed = BtnPlay; }, SprPlay, 4, 656, 446, SprPlay + 3},
        {"play ready", [] { Ready = 1; }, SprPlay, 4, 656, 446, SprPlay},
        {"play pressed", [] { Ready = 1; Hover = Pressed = BtnPlay; }, SprPlay, 4, 656, 446, SprPlay + 2},
        {"play hovered while Save is pressed", [] { Page = Ready = 1; Hover = BtnPlay; Pressed = BtnSave; }, SprPlay, 4, 656, 446, SprPlay + 1},
        // Tabs: the page's own tab is active even when hovered.
        {"home tab on home, hovered", [] { Hover = TabHome; }, SprTabHome, 3, 308, 16, SprTabHome + 2},
        {"options tab on home", [] {}, SprTabOptions, 3, 436, 16, SprTabOptions},
        {"options tab on home, hovered", [] { Hover = TabOptions; }, SprTabOptions, 3, 436, 16, SprTabOptions + 1},
        {"home tab on options, hovered", [] { Page = 1; Hover = TabHome; }, SprTabHome, 3, 308, 16, SprTabHome + 1},
        {"options tab on options, hovered", [] { Page = 1; Hover = TabOptions; }, SprTabOptions, 3, 436, 16, SprTabOptions + 2},
        // Links and push buttons: the push-button rule.
        {"site hovered", [] { Hover = LinkSite; }, SprSite, 3, 612, 24, SprSite + 1},
        {"site pressed", [] { Hover = Pressed = LinkSite; }, SprSite, 3, 612, 24, SprSite + 2},
        {"site pressed and left", [] { Pressed = LinkSite; }, SprSite, 3, 612, 24, SprSite},
        {"register hovered, site pressed", [] { Hover = LinkRegister; Pressed = LinkSite; }, SprRegister, 3, 706, 24, SprRegister + 1},
        {"shortcut pressed", [] { Page = 1; Hover = Pressed = BtnShortcut; }, SprShortcut, 3, 34, 390, SprShortcut + 2},
        {"save hovered", [] { Page = 1; Hover = BtnSave; }, SprSave, 3, 410, 390, SprSave + 1},
        {"save pressed, pointer on the shortcut", [] { Page = 1; Pressed = BtnSave; Hover = BtnShortcut; }, SprSave, 3, 410, 390, SprSave},
        // Window buttons.
        {"minimize hovered", [] { Hover = BtnMinimize; }, SprMinimize, 2, 832, 8, SprMinimize + 1},
        {"close", [] { Hover = BtnMinimize; }, SprClose, 2, 864, 8, SprClose},
        {"close hovered", [] { Page = 1; Hover = BtnClose; }, SprClose, 2, 864, 8, SprClose + 1},
        // Toggles: +2 when on, +1 when hovered.
        {"music off", [] { Page = 1; Music = 0; }, SprToggle, 4, 36, 326, SprToggle},
        {"music off, hovered", [] { Page = 1; Music = 0; Hover = MusicToggle; }, SprToggle, 4, 36, 326, SprToggle + 1},
        {"music on, tray hovered", [] { Page = 1; Hover = TrayToggle; }, SprToggle, 4, 36, 326, SprToggle + 2},
        {"tray on, hovered", [] { Page = 1; Hover = TrayToggle; }, SprToggle, 4, 292, 326, SprToggle + 3},
        {"icon off", [] { Page = 1; Icon = 0; }, SprToggle, 4, 292, 360, SprToggle},
        // The resolution box by WinMode, DdOpen and Hover (its label lies over it).
        {"box", [] { Page = 1; }, SprResBox, 4, 208, 180, SprResBox, {resLabel}},
        {"box hovered", [] { Page = 1; Hover = ResDropdown; }, SprResBox, 4, 208, 180, SprResBox + 1, {resLabel}},
        {"box open", [] { Page = DdOpen = 1; Hover = ResDropdown; }, SprResBox, 4, 208, 180, SprResBox + 2, {resLabel, listTop}},
        {"box in full screen, list open", [] { Page = DdOpen = 1; WinMode = 0; }, SprResBox, 4, 208, 180, SprResBox + 3, {resLabel, listTop}},
        // The mode choices: the selected one is selected even when hovered.
        {"windowed selected, hovered", [] { Page = 1; Hover = ModeWindowed; }, SprWindowed, 3, 208, 226, SprWindowed + 2, {note}},
        {"windowed in full screen, hovered", [] { Page = 1; WinMode = 0; Hover = ModeWindowed; }, SprWindowed, 3, 208, 226, SprWindowed + 1, {note}},
        {"full screen while windowed", [] { Page = 1; }, SprFullscreen, 3, 358, 226, SprFullscreen, {note}},
        {"full screen selected, hovered", [] { Page = 1; WinMode = 0; Hover = ModeFullscreen; }, SprFullscreen, 3, 358, 226, SprFullscreen + 2, {note}},
    };
    for (size_t i = 0; i < std::size(cases); i++) {
        const Case &c = cases[i];
        FreshFrame(RowScale(i, std::size(cases)));
        c.set();
        Paint();
        EXPECT_EQ(Look(c.base, c.n, c.x, c.y, c.skip), c.want) << c.what << " at " << Dpi << " dpi";
    }
}

// What the player can click shows a widget: wherever HitTest finds an element
// (in any state of the window and of the element), its sprite is seen on all
// but a few points at the rounded corners. Not so the slider and the list,
// which are fills, nor the toggles, whose rows reach over the labels the page
// art carries.
TEST_F(Frame, WhereverAClickLandsOnAnElementItsWidgetIsSeen) {
    struct {
        int dpi;
        std::function<void()> set;
    } states[] = {{96, [] { Ready = 1; }}, {144, [] { Page = Ready = 1; }}, {168, [] { Page = Ready = 1; WinMode = 0; }}};
    for (auto &state : states) {
        FreshFrame(state.dpi);
        state.set();
        std::vector<std::vector<POINT>> at(ElementCount);
        for (int y = 0; y < Scale(WinH); y++)
            for (int x = 0; x < Scale(WinW); x++) at[HitTest(x, y)].push_back({x, y});
        for (int id = 1; id < ElementCount; id++) {
            if (at[id].empty() || id == VolumeSlider || id == ResList || id == MusicToggle || id == TrayToggle ||
                id == IconToggle)
                continue;
            for (int look = 0; look < 3; look++) {  // normal, hovered, pressed
                Hover = look ? id : 0;
                Pressed = look == 2 ? id : 0;
                Paint();
                size_t seen = std::count_if(at[id].begin(), at[id].end(), [&](POINT p) { return f.Rgb(p.x, p.y) != g.Rgb(p.x, p.y); });
                EXPECT_GE(seen, at[id].size() * 95 / 100)
                    << "element " << id << ", look " << look << ", page " << Page << ", " << Dpi << " dpi";
            }
        }
    }
}

TEST_F(Frame, EachPageDrawsOnlyItsOwnWidgets) {
    FreshFrame(120);
    Ready = ServerUp = 1;
    lstrcpyW(ServerName, L"Aurora");
    Paint();
    EXPECT_TRUE(SameAsBackground({34, 334, 90, 358})) << "the music toggle on the home page";
    EXPECT_TRUE(SameAsBackground({40, 364, 260, 390})) << "the slider on the home page";
    EXPECT_TRUE(SameAsBackground({292, 326, 346, 392})) << "the tray toggles on the home page";
    Page = 1;
    Paint();
    EXPECT_TRUE(SameAsBackground({404, 142, 556, 178})) << "the badge on the options page";
    EXPECT_TRUE(SameAsBackground({58, 220, 206, 256})) << "the server name on the options page";
}

// The strip shows the fill cropped to the per mille with its tenth as a
// percentage (at most 100), or, while busy, a band where the tick count puts it.
// At another scale the fill is as wide as the scale makes it, and the band,
// as wide as the scale makes it too, crosses in the same time.
TEST_F(Frame, TheProgressStripAndItsPercentage) {
    struct {
        int dpi, progress;
        DWORD tick;
        int start, end;  // fill columns shown, start .. end - 1
        const wchar_t *pct;
    } cases[] = {
        {96, 0, 0, 0, 0, L"0%"},          {96, 1, 0, 0, 0, L"0%"},          {96, 2, 0, 0, 1, L"0%"},
        {96, 575, 0, 0, 334, L"57%"},     {96, 999, 0, 0, 581, L"99%"},     {96, 1000, 0, 0, 582, L"100%"},
        {96, 1100, 0, 0, 582, L"100%"},   {96, INT_MAX, 0, 0, 582, L"100%"}, {96, -1, 0, 0, 0, nullptr},
        {96, -1, 4, 0, 1, nullptr},       {96, -1, 7, 0, 1, nullptr},       {96, -1, 560, 0, 140, nullptr},
        {96, -1, 1200, 160, 300, nullptr}, {96, -1, 2328, 442, 582, nullptr}, {96, -1, 2884, 581, 582, nullptr},
        {96, -1, 2888, 0, 0, nullptr},    {96, -1, 2892, 0, 1, nullptr},    {96, -1, 0xFFFFFFFF, 0, 29, nullptr},
        {120, 2, 0, 0, 1, L"0%"},         {120, -1, 560, 0, 175, nullptr},
        {144, 575, 0, 0, 501, L"57%"},    {144, 1000, 0, 0, 873, L"100%"},  {144, -1, 1200, 240, 450, nullptr},
        {168, -1, 0xFFFFFFFF, 714, 959, nullptr},
        {192, 999, 0, 0, 1162, L"99%"},   {192, -1, 2000, 720, 1000, nullptr}, {192, -1, 2888, 0, 0, nullptr},
    };
    const RECT strip = {30, 488, 640, 512}, pct = {548, 466, 628, 486};
    for (auto &c : cases) {
        FreshFrame(c.dpi);
        Progress = c.progress;
        TestTicks = c.tick;
        lstrcpyW(Status, L"Baixando");
        Paint();
        Dib o;
        PaintBackground(o, 0);
        if (c.end > c.start) BlendSprite(o, SprFill, Scale(44) + c.start, Scale(496), c.start, c.end - c.start);
        Ink diff = InkIn(f, o, S(strip), 0);
        EXPECT_EQ(diff.count, 0) << c.dpi << " dpi, progress " << c.progress << ", tick " << c.tick
                                 << ": not columns " << c.start << ".." << c.end << " (first difference at x "
                                 << diff.box.left << ")";
        if (c.progress < 0) EXPECT_TRUE(SameAsBackground(pct)) << "a percentage while busy";
        if (!c.pct) continue;
        Ink ink = InkIn(f, g, S(pct), ColGold);
        EXPECT_GT(ink.exact, 0) << "no gold percentage for " << c.progress;
        EXPECT_GE(ink.box.right, Scale(624)) << "the percentage is set to the right";
        EXPECT_INK_WIDTH(ink, FBodySb, c.pct);
    }
}

// The fill runs from the track's left end to where the volume puts it (seen on
// a line of the track above its label, against the empty track of volume 0);
// the track's frame lights up under the pointer; the label says the volume,
// greyed at 0, centred on the track.
TEST_F(Frame, TheVolumeSlider) {
    struct {
        int dpi, volume, filled;  // the fill's columns inside the track's frame
    } cases[] = {{96, 0, 0},    {96, 1, 1},     {96, 50, 109}, {96, 80, 175}, {96, 100, 218},
                 {144, 50, 164}, {144, 100, 328}, {192, 1, 2},   {192, 80, 350}};
    Dib empty;
    int emptyDpi = 0;
    for (auto &c : cases) {
        SCOPED_TRACE(c.dpi);
        if (c.dpi != emptyDpi) {  // the empty track at this scale
            emptyDpi = c.dpi;
            FreshFrame(c.dpi);
            Page = 1;
            Volume = 0;
            Paint();
            empty.FitWindow();
            empty.CopyFrom(f);
        }
        Volume = c.volume;
        Hover = c.volume == 50 ? VolumeSlider : 0;
        Paint();
        RECT line = {Scale(40) + Line(), Scale(366), Scale(260) - Line(), Scale(366) + 1};
        Ink fill = InkIn(f, empty, line, ColGoldFill);
        EXPECT_EQ(fill.exact, c.filled) << "volume " << c.volume;
        EXPECT_EQ(fill.count, c.filled) << "volume " << c.volume;
        EXPECT_EQ(f.Rgb(Scale(40), Scale(377)) == empty.Rgb(Scale(40), Scale(377)), !Hover)
            << "the frame follows the hover";
        wchar_t label[16];
        wsprintfW(label, L"Som: %d%%", c.volume);
        // The label's ink: against the same frame with its font a pixel high.
        Dib unlabelled;
        HFONT keep = FSmall;
        FSmall = CreateFontW(-1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, L"Zorun Sans");
        PaintFrame(unlabelled.dc);
        DeleteObject(FSmall);
        FSmall = keep;
        Ink ink = InkIn(f, unlabelled, S({41, 365, 259, 389}), c.volume ? ColBright : ColMuted);
        EXPECT_GT(ink.exact, 0) << "the label's colour at volume " << c.volume;
        EXPECT_INK_WIDTH(ink, FSmall, label);
        EXPECT_NEAR((ink.box.left + ink.box.right) / 2, Scale(150), 3) << "the label is centred on the track";
    }
}

// Each text the state calls for, in its place, colour and font: what a fresh
// start shows until the feed says more, the server's name and players, the
// news, the status line, the toast, the resolution box's label and the note
// under the window modes. Texts too long for their place are cut at its end.
TEST_F(Frame, TheTextsOfEachState) {
    const wchar_t *wide = L"Widescreen: o jogo 0.97 pode mostrar faixas nas laterais.",
                  *longTitle = L"Uma notícia com um título longo demais para caber na linha inteira do painel";
    const RECT name = {58, 220, 280, 256}, count = {312, 216, 534, 258}, news = {40, 306, 544, 336},
               status = {40, 460, 645, 490}, toast = {200, 505, 640, 535}, resBox = {232, 190, 478, 224},
               note = {208, 280, 640, 296};
    auto feed = [](int up, const wchar_t *server, int online) {
        ServerUp = up;
        lstrcpyW(ServerName, server);
        Online = online;
    };
    auto item = [](int k, const wchar_t *title, const wchar_t *body) {
        lstrcpyW(News[k].title, title);
        lstrcpyW(News[k].body, body);
        NewsN = k + 1;
    };
    struct Case {
        std::function<void()> set;
        RECT where;
        COLORREF colour;
        HFONT *font;
        const wchar_t *text;  // null: cut at the end of its place
    } cases[] = {
        {[] {}, name, ColBright, &FTile, L"..."},
        {[] {}, count, ColGold, &FTileBig, L"-"},
        {[] {}, news, ColMuted, &FBody, L"Carregando..."},
        {[] {}, status, ColBody, &FBodySb, L"Conectando ao servidor..."},
        {[] { Page = 1; }, status, ColBody, &FBodySb, L"Conectando ao servidor..."},
        {[&] { feed(0, L"", -5); }, name, ColBright, &FTile, APP_TITLE},
        {[&] { feed(0, L"", -5); }, count, ColGold, &FTileBig, L"-"},
        {[&] { feed(1, L"", 0); }, count, ColGold, &FTileBig, L"0"},
        {[&] { feed(1, L"Aurora", 1287); }, name, ColBright, &FTile, L"Aurora"},
        {[&] { feed(1, L"Aurora", 1287); }, count, ColGold, &FTileBig, L"1287"},
        {[&] { feed(1, L"Velmora - Servidor Aurora do Norte e das Ilhas", 0); }, name, ColBright, &FTile, nullptr},
        {[&] { feed(1, L"", 0); }, news, ColMuted, &FBody, L"Nenhuma notícia no momento."},
        {[&] { item(0, L"Evento de inverno!", L"06/12"); }, {62, 312, 454, 334}, ColBody, &FBody, L"Evento de inverno!"},
        {[&] { item(0, L"Evento", L"06/12"); }, {454, 312, 544, 334}, ColMuted, &FSmall, L"06/12"},
        {[&] { item(0, longTitle, L"06/12"); }, {62, 312, 454, 334}, ColBody, &FBody, nullptr},
        {[] { lstrcpyW(Toast, L"Opções salvas."); }, toast, ColGold, &FBodySb, L"Opções salvas."},
        {[] { Page = 1; lstrcpyW(Toast, L"Opções salvas."); }, toast, ColGold, &FBodySb, L"Opções salvas."},
        {[] { lstrcpyW(Toast, L"Uma mensagem longa demais para o espaço que a faixa inferior reserva a ela"); },
         {242, 505, 640, 535}, ColGold, &FBodySb, nullptr},
        {[] { Page = 1; WinMode = 0; }, resBox, ColMuted, &FBodySb, L"Resolução do monitor"},
        {[] { Page = 1; WinMode = 0; }, note, ColMuted, &FSmall, L"Tela cheia sem bordas: usa a resolução do monitor."},
        {[] { Page = 1; ResIdx = 0; }, resBox, ColBright, &FBodySb, L"Maior possível (tamanho da tela)"},
        {[] { Page = 1; ResIdx = 0; }, note, ColMuted, &FSmall, L"Janela ocupando toda a área livre da tela."},
        {[] { Page = 1; ResIdx = 5; }, resBox, ColBright, &FBodySb, L"1440 x 1080"},
        {[] { Page = 1; ResIdx = 6; }, resBox, ColBright, &FBodySb, L"1280 x 720"},
        {[] { Page = 1; ResIdx = 6; }, note, ColWarn, &FSmall, wide},
        {[] { Page = 1; ResIdx = 9; }, note, ColWarn, &FSmall, wide},
    };
    for (size_t i = 0; i < std::size(cases); i++) {
        const Case &c = cases[i];
        FreshFrame(RowScale(i, std::size(cases)));
        c.set();
        Paint();
        // Against the frame with the text's font a pixel high.
        Dib without;
        HFONT keep = *c.font;
        *c.font = CreateFontW(-1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, L"Zorun Sans");
        PaintFrame(without.dc);
        DeleteObject(*c.font);
        *c.font = keep;
        Ink ink = InkIn(f, without, S(c.where), c.colour);
        std::string what = (c.text ? Utf8(c.text) : "a text cut short") + " at " + std::to_string(Dpi) + " dpi";
        EXPECT_GT(ink.exact, 0) << what << ": not in its colour or place";
        if (c.text) EXPECT_INK_WIDTH(ink, *c.font, c.text);
        if (!c.text) EXPECT_GT(ink.box.right, Scale(c.where.right - 30)) << what << ": the cut text fills its place";
    }
    // Without a resolution note, nothing stands under the modes; a status line
    // too long for its place runs on.
    FreshFrame(144);
    Page = 1;
    Paint();
    EXPECT_TRUE(SameAsBackground(note));
    lstrcpyW(Status, L"Baixando Data\\Mapas\\um nome de arquivo muito comprido para esta linha de estado.map (3 de 7)...");
    Paint();
    EXPECT_GT(InkIn(f, g, S({629, 460, 656, 490}), ColBody).count, 0) << "a long status runs on unclipped";
}

// News rows: a bullet and a line under each row but the last; nothing where there is no item.
TEST_F(Frame, NewsRowsBulletsAndLinesBetween) {
    for (int n = 1; n <= 4; n++) {
        FreshFrame(Scales[n]);
        ServerUp = NewsN = n;
        for (int k = 0; k < 4; k++) wsprintfW(News[k].title, L"Notícia %d", k);
        Paint();
        for (int k = 0; k < 4; k++) {
            int y = 318 + 30 * k;
            if (k >= n) {
                EXPECT_TRUE(SameAsBackground({44, y - 6, 544, y + 20})) << "row " << k << " drawn with " << n << " items";
                continue;
            }
            EXPECT_EQ(Look(SprBullet, 1, 44, y), SprBullet) << "bullet " << k << " of " << n << " at " << Dpi;
            EXPECT_EQ(SameAsBackground({62, y + 19, 544, y + 20}), k == n - 1) << n << " items, row " << k;
        }
    }
}

// What the hit test finds is what is drawn, to the pixel, at every scale: the
// volume slider's track and the rows of the open list, fills whose edges are
// the layout's scaled; and the slider's volume runs from 0 at the track's left
// end to 100 at its right.
TEST_F(Frame, AtEveryScaleTheSliderAndTheListRowsAreHitWhereDrawn) {
    for (int dpi : {96, 120, 132, 144, 168, 192}) {
        SCOPED_TRACE(dpi);
        FreshFrame(dpi);
        Page = Ready = 1;
        Volume = 100;  // a gold fill over the whole track
        Paint();
        int y = Scale(377);
        for (int x = 0; x < Scale(280); x++)
            ASSERT_EQ(f.Rgb(x, y) != g.Rgb(x, y), HitTest(x, y) == VolumeSlider) << "x " << x;
        EXPECT_EQ(VolumeAt(Scale(40) - 1), 0);
        EXPECT_EQ(VolumeAt(Scale(40)), 0);
        EXPECT_EQ(VolumeAt(Scale(260) - 1), 99);
        EXPECT_EQ(VolumeAt(Scale(260)), 100);
        DdOpen = 1;
        Paint();
        Dib plain;
        plain.CopyFrom(f);
        for (int row : {0, 4, 9}) {
            DdHover = row;
            Paint();
            // The highlight's first column: left of the labels and of the chosen row's mark.
            int x = Scale(222);
            for (int ly = Scale(RowTop); ly < Scale(RowTop + RowH * ResCount); ly++)
                ASSERT_EQ(f.Rgb(x, ly) != plain.Rgb(x, ly), ListRow(ly) == row) << "row " << row << ", y " << ly;
        }
    }
}

// ---- The resolution list ----------------------------------------------------------------

class List : public Frame {
protected:
    void Open(int resIdx, int hover, int dpi) {
        FreshFrame(dpi);
        Page = DdOpen = 1;
        ResIdx = resIdx;
        DdHover = hover;
        Paint();
    }
    static int Top(int row) { return RowTop + RowH * row; }
    // The text drawn in r (layout pixels) of row's panel, against the panel's own colour.
    Ink InRow(RECT r, COLORREF c) {
        r = S(r);
        Dib o;
        o.CopyFrom(f);
        for (int y = r.top; y < r.bottom; y++)
            for (int x = r.left; x < r.right; x++) o.At(x, y) = Rgb(ColPanel);
        return InkIn(f, o, r, c);
    }
};

// The list stands on the options page only, over whatever lies beneath.
TEST_F(List, APanelOverTheOptionsPageOnly) {
    Open(2, -1, 168);
    Dib open;
    open.CopyFrom(f);
    DdOpen = 0;
    Paint();
    Ink list = InkIn(open, f, All(), 0);
    EXPECT_LE(list.box.left, Scale(ListLeft));
    EXPECT_GE(list.box.right, Scale(ListRight));
    EXPECT_GE(list.box.bottom, Scale(ListBottom));
    EXPECT_EQ(open.Rgb(Scale(300), Scale(300)), Rgb(ColPanel)) << "a panel between the rows";
    Page = 0;
    Paint();
    open.CopyFrom(f);
    DdOpen = 1;
    Paint();
    EXPECT_EQ(InkIn(f, open, All(), 0).count, 0) << "the list drawn on the home page";
}

// The row under the pointer is highlighted, the chosen one marked and its
// label in gold: moving either changes the rows concerned and nothing else.
TEST_F(List, TheHoveredAndTheChosenRowsStandOut) {
    Dib plain;
    auto changed = [&](int r) { return InkIn(f, plain, S({ListLeft, Top(r), ListRight, Top(r + 1)}), 0).count > 0; };
    for (auto [row, dpi] : {std::pair{0, 96}, {3, 144}, {9, 192}}) {
        SCOPED_TRACE(dpi);
        Open(5, -1, dpi);
        plain.FitWindow();
        plain.CopyFrom(f);
        Open(5, row, dpi);
        for (int r = 0; r < ResCount; r++) EXPECT_EQ(changed(r), r == row) << "hovering row " << row << ": row " << r;
        Open(row, -1, dpi);
        for (int r = 0; r < ResCount; r++) {
            EXPECT_EQ(changed(r), r == row || r == 5) << "choosing row " << row << ": row " << r;
            RECT label = {234, Top(r) + 1, 330, Top(r + 1)};
            EXPECT_EQ(InRow(label, ColGold).exact > 0, r == row) << "gold label on row " << r << ", chosen " << row;
            EXPECT_EQ(InRow(label, ColBody).exact > 0, r != row) << "row " << r;
        }
    }
}

// The tags compare each size with the screen: the tests' session has a
// 1366 x 768 one (make test starts it so), which is larger than some rows in
// width, some in height only, and equal to one.
TEST_F(List, TagsFollowTheScreenSize) {
    ASSERT_EQ(GetSystemMetrics(SM_CXSCREEN), 1366) << "the session's screen";
    ASSERT_EQ(GetSystemMetrics(SM_CYSCREEN), 768);
    const wchar_t *big = L"maior que a tela", *wide = L"widescreen", *std43 = L"4:3";
    const wchar_t *tags[ResCount] = {nullptr, std43, std43, big, big, big, wide, wide, big, big};
    Open(2, -1, 120);
    for (int row = 0; row < ResCount; row++) {
        RECT tag = {row ? 330 : 234, Top(row) + 1, 514, Top(row) + RowH};
        Ink muted = InRow(tag, ColMuted), warn = InRow(tag, ColWarn);
        if (!tags[row]) {
            EXPECT_EQ(muted.exact + warn.exact, 0) << "row " << row << " has a tag";
            continue;
        }
        Ink &ink = tags[row] == big ? warn : muted;
        EXPECT_GT(ink.exact, 0) << "row " << row << ": tag colour of " << Utf8(tags[row]);
        EXPECT_EQ((tags[row] == big ? muted : warn).exact, 0) << "row " << row;
        EXPECT_NEAR(ink.box.right, Scale(502), 2) << "row " << row << ": the tag ends at x 502 of the layout";
        EXPECT_INK_WIDTH(ink, FSmall, tags[row]);
    }
}
