#include "ui/layout.h"

#include "app/scale.h"
#include "app/state.h"

struct Box {
    int left, top, right, bottom;
};

// Indexed by ElementId; rectangles are half-open (right and bottom outside).
static const Box Elem[ElementCount] = {
    {0, 0, 0, 0},
    {318, 26, 438, 70},    // TabHome
    {446, 26, 566, 70},    // TabOptions
    {622, 34, 708, 64},    // LinkSite
    {716, 34, 828, 64},    // LinkRegister
    {832, 8, 862, 34},     // BtnMinimize
    {864, 8, 894, 34},     // BtnClose
    {666, 456, 876, 538},  // BtnPlay
    {218, 190, 518, 224},  // ResDropdown
    {218, 236, 368, 270},  // ModeWindowed
    {368, 236, 518, 270},  // ModeFullscreen
    {40, 330, 260, 356},   // MusicToggle
    {SliderLeft, SliderTop, SliderRight, SliderBottom},  // VolumeSlider
    {296, 330, 546, 356},  // TrayToggle
    {296, 364, 546, 390},  // IconToggle
    {44, 400, 306, 432},   // BtnShortcut
    {420, 400, 544, 432},  // BtnSave
    {ListLeft, ListTop, ListRight, ListBottom},  // ResList
};

static int In(int id, int x, int y) {
    const Box &b = Elem[id];
    return x >= b.left && x < b.right && y >= b.top && y < b.bottom;
}

// Only the open list overlaps other elements, so it is tested first; the title
// strip follows because it is hit most often. The point is taken back to 100 %
// pixels: it lies on an element's scaled rectangle exactly when it lies there
// on the layout's.
int HitTest(int px, int py) {
    int x = Unscale(px), y = Unscale(py);
    if (DdOpen && In(ResList, x, y)) return ResList;
    static const int strip[] = {BtnMinimize, BtnClose, TabHome, TabOptions, LinkSite, LinkRegister};
    for (int id : strip)
        if (In(id, x, y)) return id;
    if (Ready && In(BtnPlay, x, y)) return BtnPlay;
    if (Page != 1) return 0;
    if (WinMode && In(ResDropdown, x, y)) return ResDropdown;
    for (int id = ModeWindowed; id <= BtnSave; id++)
        if (In(id, x, y)) return id;
    return 0;
}

int ListRow(int y) { return (Unscale(y) - RowTop) / RowH; }

// On the track as drawn, so every pixel of it counts at any scale.
int VolumeAt(int x) {
    int left = Scale(SliderLeft), right = Scale(SliderRight);
    int v = (int)((long long)(x - left) * 100 / (right - left));
    return v < 0 ? 0 : v > 100 ? 100 : v;
}
