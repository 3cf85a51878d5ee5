// The fixed screen elements of the 900 x 560 window and the mappings from a
// pointer position to an element, a row of the resolution list or a volume.
#pragma once

// Element ids, held by Hover and Pressed; 0 = no element.
enum ElementId {
    TabHome = 1,
    TabOptions,
    LinkSite,
    LinkRegister,
    BtnMinimize,
    BtnClose,
    BtnPlay,         // only once Ready
    ResDropdown,     // options page, windowed mode only
    ModeWindowed,
    ModeFullscreen,
    MusicToggle,
    VolumeSlider,
    TrayToggle,
    IconToggle,
    BtnShortcut,
    BtnSave,
    ResList,         // the open resolution list, over everything beneath it
    ElementCount     // one past the last id
};

// Geometry the painter shares with the hit test, in 100 % pixels: both scale
// it to Dpi (app/scale.h).
enum {
    ListLeft = 218, ListTop = 228, ListRight = 518, ListBottom = 536,
    RowTop = 232, RowH = 30,  // row k spans RowTop + RowH*k .. RowTop + RowH*(k+1)
    SliderLeft = 40, SliderTop = 364, SliderRight = 260, SliderBottom = 390,
};

// The element under client point (x, y) of the window at Dpi for the current
// Page, Ready, WinMode and DdOpen; 0 for no element, including points outside
// the client area.
int HitTest(int x, int y);

// The list row under client y: at 100 %, (y - RowTop) / RowH truncated
// towards zero, so the lines just above the first row give 0 and the last
// lines of the box give 10. Only 0..9 name a row of Res.
int ListRow(int y);

// The volume for client x on the slider's track as drawn at Dpi, 0..100; y
// does not matter.
int VolumeAt(int x);
