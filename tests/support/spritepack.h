// The sprite pack's layout as the launcher expects it, for the tests of the art.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

struct SpriteSize {
    int width, height;
};

// The 45 sprites by index: the sizes the painter places them by.
inline std::vector<SpriteSize> ExpectedSprites() {
    std::vector<SpriteSize> s;
    auto add = [&](int n, int w, int h) { s.insert(s.end(), n, SpriteSize{w, h}); };
    add(4, 230, 102);  // Play
    add(3, 144, 52);   // save
    add(3, 282, 52);   // shortcut
    add(3, 106, 50);   // site link
    add(3, 132, 50);   // registration link
    add(6, 140, 64);   // two tabs
    add(4, 30, 26);    // minimize, close
    add(4, 54, 32);    // toggle
    add(3, 152, 48);   // badge
    add(4, 320, 54);   // resolution box
    add(6, 170, 54);   // window-mode choices
    add(1, 582, 8);    // progress fill
    add(1, 10, 10);    // news bullet
    return s;
}

enum { PackSize = 1642712, BackgroundSize = 1512040 };

// A pack written by hand: count, then records of the given sizes whose pixels
// are all the byte fill + index (premultiplied grey, alpha = colour).
inline std::string MakePack(DWORD count, const std::vector<SpriteSize> &records) {
    std::string p((const char *)&count, 4);
    for (size_t i = 0; i < records.size(); i++) {
        unsigned short wh[2] = {(unsigned short)records[i].width, (unsigned short)records[i].height};
        p.append((const char *)wh, 4);
        p.append((size_t)records[i].width * records[i].height * 4, (char)(0x20 + i));
    }
    return p;
}
