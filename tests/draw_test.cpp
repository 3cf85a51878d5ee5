// The drawing primitives on every kind of destination they meet: the frame's
// own DIB (where they write its bits directly), any other DIB and a device
// bitmap (where they go through GDI's AlphaBlend). Both ways must give the
// same pixels for every input; the paint cycle, the lock and the real
// window's paint are checked here too.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "app/state.h"
#include "render/draw.h"
#include "render/paint.h"
#include "support/frame.h"
#include "support/testutil.h"
#include "support/window.h"
#include "ui/layout.h"

namespace {

// A destination of one kind, read back as a DIB.
enum Kind { OnCanvas, PlainDib, DeviceBitmap };
const char *Name(Kind k) { return k == OnCanvas ? "canvas" : k == PlainDib ? "plain DIB" : "device bitmap"; }

struct Target {
    Kind kind;
    Dib dib;
    HDC ddbDc = nullptr;
    HBITMAP ddb = nullptr;

    Target(Kind k, int w, int h) : kind(k), dib(w, h) {
        if (k == DeviceBitmap) {
            HDC screen = GetDC(0);
            ddbDc = CreateCompatibleDC(screen);
            ddb = CreateCompatibleBitmap(screen, w, h);
            SelectObject(ddbDc, ddb);
            ReleaseDC(0, screen);
        }
    }
    ~Target() {
        EndCanvas();
        if (ddbDc) DeleteDC(ddbDc);
        if (ddb) DeleteObject(ddb);
    }
    HDC Dc() { return ddbDc ? ddbDc : dib.dc; }
    // Fills the destination from the DIB's pixels and opens the canvas when asked.
    void Load() {
        if (ddbDc) BitBlt(ddbDc, 0, 0, dib.w, dib.h, dib.dc, 0, 0, SRCCOPY);
        if (kind == OnCanvas) EXPECT_TRUE(BeginCanvas(dib.dc));
    }
    // The destination's pixels, back in the DIB.
    Dib &Read() {
        EndCanvas();
        if (ddbDc) BitBlt(dib.dc, 0, 0, dib.w, dib.h, ddbDc, 0, 0, SRCCOPY);
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

// ---- Shade -------------------------------------------------------------------------------

TEST(Shade, EmptyRectanglesAndAlphaZeroLeaveEveryPixel) {
    LoadArt();
    for (Kind k : Kinds) {
        Target t(k, 64, 48);
        Gradient(t.dib);
        Dib before(64, 48);
        before.CopyFrom(t.dib);
        t.Load();
        RECT empty[] = {{10, 10, 10, 30}, {20, 10, 5, 30}, {10, 20, 40, 20}, {10, 30, 40, 5}, {0, 0, 0, 0}};
        for (RECT &r : empty) Shade(t.Dc(), &r, 255, RGB(255, 0, 0));
        RECT all = {0, 0, 64, 48};
        Shade(t.Dc(), &all, 0, RGB(255, 0, 0));
        Shade(t.Dc(), &all, 256, RGB(255, 0, 0));  // only the low 8 bits count
        EXPECT_EQ(InkIn(t.Read(), before, all, 0).count, 0) << Name(k);
    }
}

TEST(Shade, AlphaTwoFiftyFiveFillsWithExactlyTheColour) {
    LoadArt();
    for (Kind k : Kinds) {
        Target t(k, 64, 48);
        Gradient(t.dib);
        Dib before(64, 48);
        before.CopyFrom(t.dib);
        t.Load();
        RECT r = {5, 6, 40, 30};
        Shade(t.Dc(), &r, 255, RGB(255, 0, 0));
        RECT r2 = {50, 6, 60, 30};
        Shade(t.Dc(), &r2, 511, RGB(1, 2, 3));  // 511 & 255 = 255
        Dib &d = t.Read();
        for (int y = 0; y < 48; y++)
            for (int x = 0; x < 64; x++) {
                RECT *in = x >= 5 && x < 40 && y >= 6 && y < 30 ? &r : x >= 50 && x < 60 && y >= 6 && y < 30 ? &r2 : nullptr;
                DWORD want = in == &r ? 0xFF0000 : in == &r2 ? 0x010203 : before.Rgb(x, y);
                ASSERT_EQ(d.Rgb(x, y), want) << Name(k) << " at (" << x << ", " << y << ")";
            }
        // Red travels as the bytes B 0, G 0, R 255.
        EXPECT_EQ(d.At(5, 6) & 0xFFFFFF, 0xFF0000u);
    }
}

TEST(Shade, SuccessiveFillsEachDrawTheirOwnColour) {
    LoadArt();
    for (Kind k : Kinds) {
        Target t(k, 64, 48);
        Gradient(t.dib);
        Dib before(64, 48);
        before.CopyFrom(t.dib);
        t.Load();
        RECT a = {0, 0, 30, 48}, b = {30, 0, 64, 48};
        Shade(t.Dc(), &a, 128, RGB(255, 0, 0));
        Shade(t.Dc(), &b, 128, RGB(0, 0, 255));
        Dib &d = t.Read();
        EXPECT_EQ(d.Rgb(10, 10), Mix(before.Rgb(10, 10), RGB(255, 0, 0), 128)) << Name(k);
        EXPECT_EQ(d.Rgb(40, 10), Mix(before.Rgb(40, 10), RGB(0, 0, 255), 128)) << Name(k);
    }
}

// The canvas blends with AlphaBlend's own arithmetic: checked against it for
// every alpha, every colour value and every ground value.
TEST(Shade, OnTheCanvasEqualsAlphaBlendForEveryAlphaColourAndGround) {
    LoadArt();
    Dib ours(256, 256), gdi(256, 256);
    for (int alpha = 1; alpha < 256; alpha++) {
        // Row c takes colour value c; column x is the ground value x.
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
        for (int c = 0; c < 256; c++) {
            RECT row = {0, c, 256, c + 1};
            Shade(gdi.dc, &row, alpha, RGB(c, 255 - c, c ^ 0xA5));
        }
        for (int y = 0; y < 256; y++) {
            DWORD *a = ours.Row(y), *b = gdi.Row(y);
            for (int x = 0; x < 256; x++)
                if (a[x] != b[x]) FAIL() << "alpha " << alpha << ", colour row " << y << ", ground " << x << ": " << std::hex << a[x] << " vs " << b[x];
        }
    }
}

// ---- Sprites -------------------------------------------------------------------------------

// A sprite made here in Spr's last entry for the test's length: 256 x 256,
// alpha by column, colour bytes up to the alpha by row (premultiplied).
class TestSprite : public ::testing::Test {
protected:
    SpriteEntry saved;
    Dib pic{256, 256};
    void SetUp() override {
        LoadArt();
        saved = Spr[SprBullet];
        for (int y = 0; y < 256; y++)
            for (int x = 0; x < 256; x++) {
                DWORD a = x, c = a * y / 255;
                pic.At(x, y) = a << 24 | c << 16 | (a - c) << 8 | c / 2;
            }
        Spr[SprBullet] = {256, 256, pic.dc, pic.bmp};
    }
    void TearDown() override { Spr[SprBullet] = saved; }
};

TEST_F(TestSprite, OnTheCanvasEqualsAlphaBlendForEveryAlphaColourAndGround) {
    Dib ours(256, 256), gdi(256, 256);
    for (int ground = 0; ground < 256; ground += 3) {
        for (Dib *d : {&ours, &gdi})
            for (int y = 0; y < 256; y++) {
                DWORD *row = d->Row(y);
                for (int x = 0; x < 256; x++)
                    row[x] = (DWORD)ground << 24 | ground << 16 | (255 - ground) << 8 | ((ground + y) & 255);
            }
        ASSERT_TRUE(BeginCanvas(ours.dc));
        Sprite(ours.dc, SprBullet, 0, 0);
        EndCanvas();
        Sprite(gdi.dc, SprBullet, 0, 0);
        for (int y = 0; y < 256; y++) {
            DWORD *a = ours.Row(y), *b = gdi.Row(y);
            for (int x = 0; x < 256; x++)
                if (a[x] != b[x]) FAIL() << "ground " << ground << ", sprite pixel (" << x << ", " << y << "): " << std::hex << a[x] << " vs " << b[x];
        }
    }
}

TEST_F(TestSprite, ColumnsOutsideTheSpriteAreNeverDrawn) {
    struct {
        int sx, w, x;      // asked: columns sx .. sx + w - 1 at x
        int from, to, at;  // drawn: sprite columns from .. to - 1 at x = at
    } cases[] = {
        {0, 256, 10, 0, 256, 10}, {200, 100, 10, 200, 256, 10}, {-10, 30, 50, 0, 20, 60},
        {300, 20, 10, 0, 0, 0},   {10, 0, 10, 0, 0, 0},          {0, -5, 10, 0, 0, 0},
    };
    for (Kind k : Kinds) {
        for (auto &c : cases) {
            Target t(k, 400, 260);
            for (int y = 0; y < 260; y++)
                for (int x = 0; x < 400; x++) t.dib.At(x, y) = 0x203040;
            Dib want(400, 260);
            want.CopyFrom(t.dib);
            if (c.to > c.from) BlendSprite(want, SprBullet, c.at, 2, c.from, c.to - c.from);
            t.Load();
            SpriteCols(t.Dc(), SprBullet, c.sx, c.w, c.x, 2);
            Ink diff = InkIn(t.Read(), want, {0, 0, 400, 260}, 0);
            EXPECT_EQ(diff.count, 0) << Name(k) << ": columns " << c.sx << " +" << c.w << " at " << c.x;
        }
    }
}

TEST_F(TestSprite, AnEmptyEntryDrawsNothing) {
    for (Kind k : Kinds) {
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
        EXPECT_EQ(InkIn(t.Read(), before, {0, 0, 64, 64}, 0).count, 0) << Name(k);
    }
}

// ---- The canvas ------------------------------------------------------------------------------

TEST(Canvas, OnlyAWholeThirtyTwoBitDibInTheDefaultMapping) {
    LoadArt();
    Dib top(32, 32), bottom(32, 32, true);
    EXPECT_TRUE(BeginCanvas(top.dc));
    EXPECT_TRUE(BeginCanvas(bottom.dc));
    EndCanvas();

    HDC screen = GetDC(0);
    HDC ddbDc = CreateCompatibleDC(screen);
    HBITMAP ddb = CreateCompatibleBitmap(screen, 32, 32);
    SelectObject(ddbDc, ddb);
    EXPECT_FALSE(BeginCanvas(ddbDc)) << "a device bitmap";
    DeleteDC(ddbDc);
    DeleteObject(ddb);
    EXPECT_FALSE(BeginCanvas(screen)) << "the screen";
    ReleaseDC(0, screen);

    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof bi.bmiHeader, 32, -32, 1, 24, BI_RGB};
    void *bits;
    HDC dc24 = CreateCompatibleDC(0);
    HBITMAP b24 = CreateDIBSection(dc24, &bi, DIB_RGB_COLORS, &bits, 0, 0);
    SelectObject(dc24, b24);
    EXPECT_FALSE(BeginCanvas(dc24)) << "a 24-bit DIB";
    DeleteDC(dc24);
    DeleteObject(b24);

    HRGN clip = CreateRectRgn(0, 0, 10, 10);
    SelectClipRgn(top.dc, clip);
    EXPECT_FALSE(BeginCanvas(top.dc)) << "a clip region";
    SelectClipRgn(top.dc, 0);
    DeleteObject(clip);
    SetViewportOrgEx(top.dc, 3, 0, nullptr);
    EXPECT_FALSE(BeginCanvas(top.dc)) << "a moved origin";
    SetViewportOrgEx(top.dc, 0, 0, nullptr);
    EXPECT_TRUE(BeginCanvas(top.dc));
    EndCanvas();
}

// The whole frame three ways: into a top-down and a bottom-up DIB (canvas)
// and into a device bitmap (GDI): the same picture.
TEST(Canvas, AFrameIsTheSameOnEveryKindOfDestination) {
    LoadArt();
    FreshState();
    Page = 1;
    DdOpen = 1;
    DdHover = 7;
    Hover = ResList;
    Ready = 1;
    Progress = 575;
    lstrcpyW(Toast, L"Opções salvas.");
    Dib top(WinW, WinH), bottom(WinW, WinH, true);
    PaintFrame(top.dc);
    PaintFrame(bottom.dc);
    Target ddb(DeviceBitmap, WinW, WinH);
    PaintFrame(ddb.Dc());
    Dib &viaGdi = ddb.Read();
    Ink upside = InkIn(bottom, top, {0, 0, WinW, WinH}, 0), gdi = InkIn(viaGdi, top, {0, 0, WinW, WinH}, 0);
    EXPECT_EQ(upside.count, 0) << "bottom-up DIB differs from (" << upside.box.left << ", " << upside.box.top << ")";
    EXPECT_EQ(gdi.count, 0) << "device bitmap differs from (" << gdi.box.left << ", " << gdi.box.top << ")";
    // The picture has what the state asks for, so the three agree on something.
    EXPECT_EQ(top.Rgb(224, 232 + 30 * 2 + 12), 0xF5D78Au) << "marker of the chosen row";
}

// ---- Paint cycle, lock and window ---------------------------------------------------------------

TEST(Paint, TheCycleCopiesTheWholeFrameToItsTarget) {
    LoadArt();
    FreshState();
    Ready = 1;
    Dib want(WinW, WinH);
    PaintFrame(want.dc);
    for (Kind k : {PlainDib, DeviceBitmap}) {
        Target t(k, WinW, WinH);
        Gradient(t.dib);
        t.Load();
        PaintTo(t.Dc());
        Ink diff = InkIn(t.Read(), want, {0, 0, WinW, WinH}, 0);
        EXPECT_EQ(diff.count, 0) << Name(k);
    }
}

TEST(Paint, TheFrameHoldsLockFromThePageToThePercentage) {
    LoadArt();
    FreshState();
    ServerUp = 1;
    Progress = 500;
    Dib f(WinW, WinH), ground(WinW, WinH);
    PaintBackground(ground, 0);

    // Another thread holds Lock, as the network thread does while it publishes.
    HANDLE held = CreateEventW(0, TRUE, FALSE, 0), release = CreateEventW(0, TRUE, FALSE, 0);
    std::thread holder([&] {
        EnterCriticalSection(&Lock);
        SetEvent(held);
        WaitForSingleObject(release, 10000);
        LeaveCriticalSection(&Lock);
    });
    WaitForSingleObject(held, 10000);
    volatile LONG done = 0;
    std::thread painter([&] {
        PaintFrame(f.dc);
        done = 1;
    });
    Sleep(300);
    EXPECT_EQ(done, 0) << "the frame was drawn while the lock was held";
    EXPECT_GT(InkIn(f, ground, {308, 16, 576, 80}, 0).count, 0) << "the title strip waits for nothing";
    EXPECT_EQ(InkIn(f, ground, {404, 142, 556, 190}, 0).count, 0) << "the badge was drawn outside the lock";
    EXPECT_EQ(InkIn(f, ground, {656, 446, 886, 548}, 0).count, 0) << "Play was drawn before the page";
    SetEvent(release);
    holder.join();
    painter.join();
    EXPECT_GT(InkIn(f, ground, {404, 142, 556, 190}, 0).count, 0);
    EXPECT_GT(InkIn(f, ground, {656, 446, 886, 548}, 0).count, 0);

    // The frame lets go of the lock: another thread can take it at once.
    bool free = false;
    std::thread([&] {
        free = TryEnterCriticalSection(&Lock);
        if (free) LeaveCriticalSection(&Lock);
    }).join();
    EXPECT_TRUE(free);
    CloseHandle(held);
    CloseHandle(release);
}

// The real window: WM_PAINT runs the cycle onto the window, whatever part was invalid.
TEST(Paint, TheWindowShowsTheFrame) {
    LoadArt();
    ASSERT_TRUE(OpenWindow());
    FreshState();
    ServerUp = 1;
    Ready = 1;
    auto shown = [](Dib &d) {
        HDC w = GetDC(Wnd);
        BitBlt(d.dc, 0, 0, WinW, WinH, w, 0, 0, SRCCOPY);
        ReleaseDC(Wnd, w);
    };
    Dib want(WinW, WinH), seen(WinW, WinH);
    PaintFrame(want.dc);
    InvalidateRect(Wnd, 0, FALSE);
    UpdateWindow(Wnd);
    shown(seen);
    Ink diff = InkIn(seen, want, {0, 0, WinW, WinH}, 0);
    EXPECT_EQ(diff.count, 0) << "first difference at (" << diff.box.left << ", " << diff.box.top << ")";

    // A small invalid rectangle still gets the new frame.
    Hover = 7;
    PaintFrame(want.dc);
    RECT play = {656, 446, 886, 548};
    InvalidateRect(Wnd, &play, FALSE);
    UpdateWindow(Wnd);
    shown(seen);
    EXPECT_EQ(InkIn(seen, want, play, 0).count, 0) << "Play's hover look is not on the window";
    CloseWindow();
}
