// A translucent fill on a destination that is not the frame's own DIB goes
// through a one-pixel surface, made on the first such fill. When it cannot be
// made (here GDI's handle table is full, which only a leak elsewhere would
// cause) the fill draws nothing, the frame still completes, and a later fill
// makes the surface after all. Its own program: the surface must not exist yet.
#include <gtest/gtest.h>

#include <vector>

#include "app/state.h"
#include "render/draw.h"
#include "render/paint.h"
#include "support/frame.h"
#include "ui/layout.h"

namespace {

bool InAny(const std::vector<RECT> &rs, int x, int y) {
    for (const RECT &r : rs)
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return true;
    return false;
}

}  // namespace

TEST(Surface, AFillWithoutItsSurfaceDrawsNothingAndTheFrameCompletes) {
    LoadArt();
    FreshState();
    Page = 1;
    Ready = 1;
    Volume = 0;  // the slider's whole track is translucent
    DdOpen = 1;
    DdHover = 3;
    Hover = ResList;
    Progress = 300;

    // The frame as it should be, drawn on a canvas (which needs no surface).
    Dib want(WinW, WinH), ground(WinW, WinH), seen(WinW, WinH);
    PaintFrame(want.dc);
    PaintBackground(ground, 1);
    // The translucent fills of this frame: slider track, list shadow, highlight, hairline.
    const std::vector<RECT> translucent = {{40, 364, 260, 390}, {518, 234, 522, 542}, {222, 536, 522, 542},
                                           {222, 322, 514, 352}, {230, 412, 506, 413}};

    HDC screen = GetDC(0);
    HDC ddbDc = CreateCompatibleDC(screen);
    HBITMAP ddb = CreateCompatibleBitmap(screen, WinW, WinH);
    SelectObject(ddbDc, ddb);
    ReleaseDC(0, screen);

    // Fill the handle table, then give back one handle: enough for the
    // background's DC and the list's frame brush, one at a time, but not for
    // the surface's DC and bitmap together.
    std::vector<HBRUSH> held;
    for (HBRUSH b; held.size() < 200000 && (b = CreateSolidBrush(RGB(1, 2, 3)));) held.push_back(b);
    ASSERT_LT(held.size(), 200000u) << "GDI never ran out of handles";
    DeleteObject(held.back());
    held.pop_back();

    RECT r = {10, 10, 60, 60};
    BitBlt(ddbDc, 0, 0, WinW, WinH, ground.dc, 0, 0, SRCCOPY);
    Shade(ddbDc, &r, 120, RGB(255, 0, 0));
    BitBlt(seen.dc, 0, 0, WinW, WinH, ddbDc, 0, 0, SRCCOPY);
    EXPECT_EQ(InkIn(seen, ground, r, 0).count, 0) << "a fill without its surface drew";

    PaintFrame(ddbDc);
    BitBlt(seen.dc, 0, 0, WinW, WinH, ddbDc, 0, 0, SRCCOPY);
    for (HBRUSH b : held) DeleteObject(b);
    held.clear();

    // Everything but the translucent fills is there; where they would be, the page shows through.
    int wrong = 0;
    for (int y = 0; y < WinH; y++)
        for (int x = 0; x < WinW; x++)
            if (!InAny(translucent, x, y) && seen.Rgb(x, y) != want.Rgb(x, y) && wrong++ < 5)
                ADD_FAILURE() << "pixel (" << x << ", " << y << ") differs";
    EXPECT_EQ(seen.Rgb(100, 366), ground.Rgb(100, 366)) << "the slider track was drawn";
    EXPECT_NE(want.Rgb(100, 366), ground.Rgb(100, 366));
    EXPECT_EQ(seen.Rgb(519, 300), ground.Rgb(519, 300)) << "the list's shadow was drawn";

    // With handles to spare the next fill makes the surface: the same frame as on a canvas.
    PaintFrame(ddbDc);
    BitBlt(seen.dc, 0, 0, WinW, WinH, ddbDc, 0, 0, SRCCOPY);
    Ink diff = InkIn(seen, want, {0, 0, WinW, WinH}, 0);
    EXPECT_EQ(diff.count, 0) << "first difference at (" << diff.box.left << ", " << diff.box.top << ")";
    DeleteDC(ddbDc);
    DeleteObject(ddb);
}
