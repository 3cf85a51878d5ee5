// The art embedded in the executable: the fonts and, for each display scale,
// an art set with the backgrounds and the sprites (tools/art/artset.py gives
// its format). Only the set of the scale in use is decoded, once.
#pragma once
#include <windows.h>

// Resource ids (all RCDATA but the icon).
enum {
    IdIcon = 101,       // icon group
    IdFontTitle = 310,  // "Zorun Cinzel"        } each a 32-bit length, then a PNG
    IdFontBody = 311,   // "Zorun Sans"          } of grey pixels that are the
    IdFontSemi = 312,   // "Zorun Sans SemiBold" } font's bytes
    IdArt = 400,        // 400, 401, ...: the art sets, one per scale, 100 % first
    ArtSetsMax = 16,
};

// Registers the fonts (the first time), makes the six fonts and loads all
// the art for Dpi: StartAssets, FinishAssets, FinishOptionsArt.
void LoadAssets();

// Start-up in parts, so that the decoding runs beside the window's creation
// and the first frame, always the home page, waits for the home page's art
// only: StartAssets begins decoding, on threads of their own, for the
// current Dpi; FinishAssets waits for them and installs the fonts at Dpi and
// the home page's art (BgHome and its sprites) in place of all the art held
// before, then begins the options page's art (BgOpt and its sprites) on
// another thread; FinishOptionsArt waits for that and installs it (at once
// when it is done or none is pending). Anything missing is skipped without a
// message.
void StartAssets();
void FinishAssets();
void FinishOptionsArt();

// Loads the art set held in memory (size bytes) for the current Dpi, as
// LoadAssets does the set it chooses: the set's own pictures when its DPI is
// Dpi, else resampled to the sizes of base (the 100 % set) scaled to Dpi. At
// most 45 sprites, each only from a place wholly inside the atlas; a set cut
// short or whose pictures do not decode loads what comes before. Returns the
// number of sprites loaded.
int LoadArtSet(const BYTE *set, DWORD size, const BYTE *base, DWORD baseSize);

// The icons of the window's title and task bar button at Dpi, in place of
// the class's, which are the system's scale (the window's own until it moves
// to a monitor of another scale).
void SetIcons(HWND wnd);
