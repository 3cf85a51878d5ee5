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

// Registers the fonts (the first time), makes the six fonts and loads the
// art for Dpi: StartAssets, then FinishAssets.
void LoadAssets();

// Start-up in two halves, so that the decoding runs beside the window's
// creation: StartAssets begins it on a thread of its own for the current
// Dpi; FinishAssets waits for that thread and installs the result in place
// of the art and fonts held before: BgHome, BgOpt, Spr and the six fonts at
// Dpi. Anything missing is skipped without a message.
void StartAssets();
void FinishAssets();

// Loads the art set held in memory (size bytes) for the current Dpi, as
// LoadAssets does the set it chooses: the set's own pictures when its DPI is
// Dpi, else resampled to the sizes of base (the 100 % set) scaled to Dpi. At
// most 45 sprites, each only from a place wholly inside the atlas; a set cut
// short or whose pictures do not decode loads what comes before. Returns the
// number of sprites loaded.
int LoadArtSet(const BYTE *set, DWORD size, const BYTE *base, DWORD baseSize);

// The icons of the window's title and task bar button at Dpi.
void SetIcons(HWND wnd);
