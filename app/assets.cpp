#include "app/assets.h"

#include "app/state.h"

static const void *Resource(int id, DWORD *size) {
    HRSRC r = FindResourceW(0, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    if (!r) return 0;
    *size = SizeofResource(0, r);
    HGLOBAL g = LoadResource(0, r);
    return g ? LockResource(g) : 0;
}

static HFONT Font(int height, int weight, const wchar_t *face) {
    return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_TT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, face);
}

static unsigned Le16(const unsigned char *p) { return p[0] | p[1] << 8; }

int LoadSprites(const unsigned char *pack, DWORD size) {
    if (size < 4) return 0;
    DWORD count = pack[0] | pack[1] << 8 | pack[2] << 16 | (DWORD)pack[3] << 24;
    DWORD at = 4;
    int loaded = 0;
    if (count == 0) return 0;
    HDC screen = GetDC(0);
    for (DWORD i = 0; i < count && i < SpriteMax; i++) {
        if (size - at < 4) break;
        int w = (int)Le16(pack + at), h = (int)Le16(pack + at + 2);
        // 65535 x 65535 x 4 does not fit 32 bits: measure in 64.
        unsigned long long need = (unsigned long long)w * (unsigned long long)h * 4;
        if (need > size - at - 4) break;
        DWORD bytes = (DWORD)need;
        const unsigned char *px = pack + at + 4;
        at += 4 + bytes;
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = -h;  // top-down
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        void *bits = 0;
        HBITMAP bmp = w && h ? CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, 0, 0) : 0;
        // An entry holds a whole sprite or nothing: the painter skips a null dc,
        // but would blend an empty one.
        if (!bits) {
            if (bmp) DeleteObject(bmp);
            continue;
        }
        CopyMemory(bits, px, bytes);
        HDC dc = CreateCompatibleDC(screen);
        SelectObject(dc, bmp);
        Spr[i].width = w;
        Spr[i].height = h;
        Spr[i].dc = dc;
        Spr[i].bitmap = bmp;
        loaded++;
    }
    ReleaseDC(0, screen);
    return loaded;
}

void LoadAssets() {
    static const int fonts[] = {IdFontTitle, IdFontBody, IdFontSemi};
    for (int id : fonts) {
        DWORD size = 0, added = 0;
        const void *data = Resource(id, &size);
        if (data) AddFontMemResourceEx((void *)data, size, 0, &added);
    }

    FTileBig = Font(-26, FW_BOLD, L"Zorun Cinzel");
    FTile = Font(-18, FW_BOLD, L"Zorun Cinzel");
    FBody = Font(-14, FW_NORMAL, L"Zorun Sans");
    FBodySb = Font(-14, FW_NORMAL, L"Zorun Sans SemiBold");
    FList = Font(-14, FW_NORMAL, L"Zorun Sans SemiBold");
    FSmall = Font(-12, FW_NORMAL, L"Zorun Sans");

    HINSTANCE self = GetModuleHandleW(0);
    BgHome = LoadBitmapW(self, MAKEINTRESOURCEW(IdBgHome));
    BgOpt = LoadBitmapW(self, MAKEINTRESOURCEW(IdBgOpt));

    DWORD size = 0;
    const void *pack = Resource(IdSprites, &size);
    if (pack) LoadSprites((const unsigned char *)pack, size);
}
