// The art embedded in the executable: fonts, backgrounds and the sprite pack.
#pragma once
#include <windows.h>

// Resource ids.
enum {
    IdIcon = 101,      // icon group
    IdBgHome = 201,    // 900 x 560 bitmaps
    IdBgOpt = 202,
    IdSprites = 300,   // RCDATA: the sprite pack
    IdFontTitle = 310, // RCDATA: "Zorun Cinzel"
    IdFontBody = 311,  // RCDATA: "Zorun Sans"
    IdFontSemi = 312,  // RCDATA: "Zorun Sans SemiBold"
};

// Registers the fonts, creates the six font handles, loads both backgrounds and
// the sprite pack into Spr. Anything missing is skipped without a message.
void LoadAssets();

// Loads a sprite pack held in memory into Spr: at most 45 sprites, and never a
// record that does not fit wholly inside the size bytes. A record with no
// pixels (width or height 0) is passed over. Entries not loaded stay zero.
// Returns the number of sprites loaded.
int LoadSprites(const unsigned char *pack, DWORD size);
