// Hit testing and the list-row and volume mappings: pure functions of the
// point and of Page, Ready, WinMode and DdOpen.
#include <gtest/gtest.h>

#include "app/state.h"
#include "ui/layout.h"

namespace {

struct Flags {
    int page, ready, winMode, ddOpen;
};

void Set(Flags f) {
    Page = f.page;
    Ready = f.ready;
    WinMode = f.winMode;
    DdOpen = f.ddOpen;
}

// The element table as the window shows it: half-open rectangles.
struct Elem {
    int id, left, top, right, bottom;
};
const Elem Table[] = {
    {TabHome, 318, 26, 438, 70},        {TabOptions, 446, 26, 566, 70},
    {LinkSite, 622, 34, 708, 64},       {LinkRegister, 716, 34, 828, 64},
    {BtnMinimize, 832, 8, 862, 34},     {BtnClose, 864, 8, 894, 34},
    {BtnPlay, 666, 456, 876, 538},      {ResDropdown, 218, 190, 518, 224},
    {ModeWindowed, 218, 236, 368, 270}, {ModeFullscreen, 368, 236, 518, 270},
    {MusicToggle, 40, 330, 260, 356},   {VolumeSlider, 40, 364, 260, 390},
    {TrayToggle, 296, 330, 546, 356},   {IconToggle, 296, 364, 546, 390},
    {BtnShortcut, 44, 400, 306, 432},   {BtnSave, 420, 400, 544, 432},
    {ResList, 218, 228, 518, 536},
};

bool Present(int id, Flags f) {
    if (id == ResList) return f.ddOpen;
    if (id <= BtnClose) return true;
    if (id == BtnPlay) return f.ready;
    if (f.page != 1) return false;
    return id != ResDropdown || f.winMode;
}

// What the table says lies under a point: the open list over everything else.
int Expected(int x, int y, Flags f) {
    int found = 0;
    for (const Elem &e : Table)
        if (Present(e.id, f) && x >= e.left && x < e.right && y >= e.top && y < e.bottom) {
            if (e.id == ResList) return ResList;
            found = e.id;
        }
    return found;
}

const Flags AllFlags[] = {
    {0, 0, 0, 0}, {0, 1, 1, 0}, {0, 1, 1, 1}, {1, 0, 1, 0}, {1, 1, 1, 0},
    {1, 1, 0, 0}, {1, 0, 1, 1}, {1, 1, 1, 1}, {1, 1, 0, 1}, {2, 1, 1, 0},
};

TEST(HitTest, EveryPixelOfTheWindowUnderEveryStateMatchesTheTable) {
    for (Flags f : AllFlags) {
        Set(f);
        int wrong = 0;
        for (int y = 0; y < WinH; y++)
            for (int x = 0; x < WinW; x++) {
                int want = Expected(x, y, f), got = HitTest(x, y);
                if (got != want && wrong++ < 5)
                    ADD_FAILURE() << "(" << x << ", " << y << ") page " << f.page << " ready " << f.ready
                                  << " winMode " << f.winMode << " ddOpen " << f.ddOpen << ": " << got
                                  << ", expected " << want;
            }
        EXPECT_EQ(wrong, 0);
    }
}

TEST(HitTest, HalfOpenEdgesGapsAndConditions) {
    const Flags home = {0, 0, 1, 0}, homeReady = {0, 1, 1, 0}, opt = {1, 0, 1, 0}, optFull = {1, 0, 0, 0},
                optReady = {1, 1, 1, 0}, list = {1, 1, 1, 1};
    struct {
        Flags f;
        int x, y, id;
    } cases[] = {
        {home, 437, 50, TabHome}, {home, 438, 50, 0}, {home, 445, 50, 0}, {home, 446, 50, TabOptions},
        {home, 318, 69, TabHome}, {home, 318, 70, 0}, {home, 317, 50, 0}, {home, 318, 25, 0},
        {home, 861, 33, BtnMinimize}, {home, 862, 33, 0}, {home, 863, 20, 0}, {home, 893, 8, BtnClose},
        {home, 893, 7, 0}, {home, 894, 20, 0}, {home, 832, 8, BtnMinimize}, {home, 831, 8, 0},
        {home, 622, 34, LinkSite}, {home, 707, 63, LinkSite}, {home, 708, 50, 0}, {home, 715, 50, 0},
        {home, 716, 34, LinkRegister}, {home, 827, 63, LinkRegister}, {home, 828, 50, 0},
        // The Play button exists only once Ready, on either page.
        {home, 700, 500, 0}, {homeReady, 700, 500, BtnPlay}, {opt, 700, 500, 0},
        {optReady, 700, 500, BtnPlay}, {homeReady, 666, 456, BtnPlay}, {homeReady, 875, 537, BtnPlay},
        {homeReady, 665, 500, 0}, {homeReady, 876, 500, 0}, {homeReady, 700, 538, 0}, {homeReady, 700, 455, 0},
        // The options page's elements, the drop-down only in windowed mode.
        {opt, 300, 200, ResDropdown}, {optFull, 300, 200, 0}, {home, 300, 200, 0},
        {home, 100, 340, 0}, {opt, 100, 340, MusicToggle}, {opt, 367, 250, ModeWindowed},
        {opt, 368, 250, ModeFullscreen}, {opt, 517, 269, ModeFullscreen}, {opt, 518, 250, 0},
        {opt, 260, 340, 0}, {opt, 295, 340, 0}, {opt, 296, 340, TrayToggle}, {opt, 545, 389, IconToggle},
        {opt, 546, 370, 0}, {opt, 40, 364, VolumeSlider}, {opt, 259, 389, VolumeSlider}, {opt, 150, 390, 0},
        {opt, 43, 410, 0}, {opt, 44, 400, BtnShortcut}, {opt, 306, 410, 0}, {opt, 420, 431, BtnSave},
        {opt, 544, 410, 0}, {opt, 300, 227, 0}, {opt, 300, 235, 0}, {opt, 300, 224, 0},
        // The open list covers what lies beneath it and leaves the rest reachable.
        {list, 300, 226, 0}, {list, 300, 224, 0}, {list, 300, 223, ResDropdown}, {list, 300, 228, ResList},
        {list, 300, 535, ResList}, {list, 300, 536, 0}, {list, 217, 300, 0}, {list, 218, 300, ResList},
        {list, 517, 300, ResList}, {list, 518, 300, 0}, {list, 300, 250, ResList}, {list, 100, 340, MusicToggle},
        {list, 217, 340, MusicToggle}, {list, 218, 340, ResList}, {list, 530, 340, TrayToggle},
        {list, 518, 370, IconToggle}, {list, 300, 340, ResList}, {list, 217, 380, VolumeSlider},
        {list, 305, 410, ResList}, {list, 100, 410, BtnShortcut}, {list, 530, 410, BtnSave},
        {list, 517, 410, ResList}, {list, 700, 500, BtnPlay},
        // The list wins on the home page too, should it ever be open there.
        {{0, 0, 1, 1}, 300, 300, ResList}, {{0, 0, 1, 1}, 300, 200, 0},
        // Points outside the client area, as they come while the mouse is captured.
        {list, -1, 300, 0}, {list, 300, -1, 0}, {list, 900, 20, 0}, {list, 300, 560, 0},
        {optReady, -32768, -32768, 0}, {optReady, 32767, 32767, 0}, {optReady, 870, -5, 0},
    };
    for (auto &c : cases) {
        Set(c.f);
        EXPECT_EQ(HitTest(c.x, c.y), c.id) << "(" << c.x << ", " << c.y << ") page " << c.f.page << " ready "
                                           << c.f.ready << " winMode " << c.f.winMode << " ddOpen "
                                           << c.f.ddOpen;
    }
}

TEST(HitTest, AnyNonZeroReadyCountsAndNothingIsChanged) {
    Set({0, -1, 1, 0});
    EXPECT_EQ(HitTest(700, 500), BtnPlay);
    Set({1, 0, 1, 1});
    Hover = 3;
    Pressed = 4;
    DdHover = 5;
    HitTest(300, 300);
    EXPECT_EQ(Page, 1);
    EXPECT_EQ(DdOpen, 1);
    EXPECT_EQ(Hover, 3);
    EXPECT_EQ(Pressed, 4);
    EXPECT_EQ(DdHover, 5);
}

TEST(Mappings, ListRowTruncatesTowardsZero) {
    struct {
        int y, row;
    } cases[] = {{228, 0}, {230, 0}, {231, 0}, {232, 0}, {261, 0}, {262, 1}, {291, 1}, {292, 2},
                 {501, 8}, {502, 9}, {531, 9}, {532, 10}, {533, 10}, {535, 10}};
    for (auto c : cases) EXPECT_EQ(ListRow(c.y), c.row) << "y " << c.y;
}

TEST(Mappings, VolumeFollowsXOnlyAndStaysWithin0To100) {
    struct {
        int x, volume;
    } cases[] = {{-32768, 0}, {-1, 0}, {0, 0}, {39, 0},   {40, 0},   {42, 0},     {43, 1},
                 {150, 50},   {151, 50}, {152, 50}, {153, 51}, {259, 99}, {260, 100}, {261, 100}, {899, 100}, {32767, 100}};
    for (auto c : cases) EXPECT_EQ(VolumeAt(c.x), c.volume) << "x " << c.x;
}

}  // namespace
