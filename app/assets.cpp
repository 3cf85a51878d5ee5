#include "app/assets.h"

#include "app/picture.h"
#include "app/scale.h"
#include "app/state.h"

static const BYTE *Resource(int id, DWORD *size) {
    HRSRC r = FindResourceW(0, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    if (!r) return 0;
    *size = SizeofResource(0, r);
    HGLOBAL g = LoadResource(0, r);
    return g ? (const BYTE *)LockResource(g) : 0;
}

static unsigned Le16(const BYTE *p) { return p[0] | p[1] << 8; }
static DWORD Le32(const BYTE *p) { return p[0] | p[1] << 8 | p[2] << 16 | (DWORD)p[3] << 24; }

// ---- Fonts ---------------------------------------------------------------------------

// A font's bytes are the grey pixels of a PNG, the art's compression, which
// makes them half as large. GDI keeps the memory it is given for the life of
// the process, so each font has a buffer of its own.
enum { FontBytesMax = 256 * 1024 };
static BYTE FontBytes[3][FontBytesMax];

static void RegisterFonts() {
    static const int ids[] = {IdFontTitle, IdFontBody, IdFontSemi};
    for (int i = 0; i < 3; i++) {
        DWORD size = 0, added = 0;
        const BYTE *res = Resource(ids[i], &size);
        if (!res || size < 4) continue;
        DWORD length = Le32(res);
        if (length > FontBytesMax || DecodeGrey(res + 4, size - 4, FontBytes[i], FontBytesMax) < length)
            continue;
        AddFontMemResourceEx(FontBytes[i], length, 0, &added);
    }
}

static HFONT Font(int height, int weight, const wchar_t *face) {
    return CreateFontW(-Scale(height), 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_TT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, face);
}

static void MakeFonts() {
    HFONT *all[] = {&FTileBig, &FTile, &FBody, &FBodySb, &FList, &FSmall};
    for (HFONT *f : all)
        if (*f) DeleteObject(*f);
    FTileBig = Font(26, FW_BOLD, L"Zorun Cinzel");
    FTile = Font(18, FW_BOLD, L"Zorun Cinzel");
    FBody = Font(14, FW_NORMAL, L"Zorun Sans");
    FBodySb = Font(14, FW_NORMAL, L"Zorun Sans SemiBold");
    FList = Font(14, FW_NORMAL, L"Zorun Sans SemiBold");
    FSmall = Font(12, FW_NORMAL, L"Zorun Sans");
}

// ---- Art sets ---------------------------------------------------------------------------

// An art set's parts, each checked to lie inside the set.
struct Set {
    int dpi, count, patchX, patchY;
    const BYTE *places;    // count x (x, y, w, h), 16 bits each
    const BYTE *png[3];    // home background, options patch, atlas
    DWORD length[3];
    int pictures;          // how many of them are wholly there
};

static bool View(const BYTE *d, DWORD size, Set *s) {
    *s = Set();
    if (!d || size < 8) return false;
    s->dpi = (int)Le16(d);
    s->count = (int)Le16(d + 2);
    s->patchX = (int)Le16(d + 4);
    s->patchY = (int)Le16(d + 6);
    DWORD at = 8 + 8 * (DWORD)s->count;
    if (at > size) return false;
    s->places = d + 8;
    for (; s->pictures < 3 && size - at >= 4 && Le32(d + at) <= size - at - 4; s->pictures++) {
        s->length[s->pictures] = Le32(d + at);
        s->png[s->pictures] = d + at + 4;
        at += 4 + s->length[s->pictures];
    }
    return true;
}

static void Place(const Set &s, int i, int *x, int *y, int *w, int *h) {
    const BYTE *p = s.places + 8 * i;
    *x = (int)Le16(p);
    *y = (int)Le16(p + 2);
    *w = (int)Le16(p + 4);
    *h = (int)Le16(p + 6);
}

// The pictures store blue and red less green (lossless, and smaller where
// the channels move together, as they do in the grain); green goes back.
static void AddGreen(BYTE *px, size_t pixels) {
    for (size_t i = 0; i < pixels; i++, px += 4) {
        px[0] = (BYTE)(px[0] + px[1]);
        px[2] = (BYTE)(px[2] + px[1]);
    }
}

// The art made off the window thread, installed by it.
struct Art {
    HBITMAP home, opt;
    SpriteEntry spr[SpriteMax];
    int sprites;
};

// The workspaces of the two threads that load at once (the backgrounds' and
// the sprites').
static ResampleSpace Spaces[2];

// A picture of sw x sh (rows of stride bytes) as a new DIB section of dw x
// dh: copied when the sizes agree, else resampled in space.
static HBITMAP Sized(ResampleSpace *space, const BYTE *src, int sw, int sh, int stride, int dw, int dh) {
    BYTE *bits;
    HBITMAP bmp = NewDib(dw, dh, &bits);
    if (!bmp) return 0;
    if (sw == dw && sh == dh) {
        for (int y = 0; y < sh; y++) CopyMemory(bits + (size_t)y * dw * 4, src + (size_t)y * stride, (size_t)dw * 4);
        return bmp;
    }
    if (Resample(space, src, sw, sh, stride, bits, dw, dh)) return bmp;
    DeleteObject(bmp);
    return 0;
}

// Both backgrounds at dpi, from the home picture and the options patch.
static void Backgrounds(const Set &s, int dpi, Art *art) {
    int w, h, pw, ph;
    BYTE *home, *patch, *opt;
    HBITMAP hb = s.pictures > 0 ? DecodePng(s.png[0], s.length[0], &w, &h, &home) : 0;
    if (!hb) return;
    AddGreen(home, (size_t)w * h);
    // The options page: a copy of the home picture with the patch added inside it.
    HBITMAP ob = 0;
    HBITMAP pb = s.pictures > 1 ? DecodePng(s.png[1], s.length[1], &pw, &ph, &patch) : 0;
    if (pb && s.patchX + pw <= w && s.patchY + ph <= h && (ob = NewDib(w, h, &opt))) {
        AddGreen(patch, (size_t)pw * ph);
        CopyMemory(opt, home, (size_t)w * h * 4);
        for (int y = 0; y < ph; y++) {
            BYTE *o = opt + ((size_t)(s.patchY + y) * w + s.patchX) * 4;
            const BYTE *d = patch + (size_t)y * pw * 4;
            for (int i = 0; i < pw * 4; i++)
                if ((i & 3) != 3) o[i] = (BYTE)(o[i] + d[i]);
        }
    }
    if (pb) DeleteObject(pb);
    int dw = ScaleAt(WinW, dpi), dh = ScaleAt(WinH, dpi);
    if (w == dw && h == dh) {  // the set's own scale: the pictures as decoded
        art->home = hb;
        art->opt = ob;
        return;
    }
    art->home = Sized(&Spaces[0], home, w, h, w * 4, dw, dh);
    art->opt = ob ? Sized(&Spaces[0], opt, w, h, w * 4, dw, dh) : 0;
    DeleteObject(hb);
    if (ob) DeleteObject(ob);
}

// The sprites at dpi from the set's atlas; sizes other than the set's own
// come from base, the 100 % set, scaled.
static void Sprites(const Set &s, const Set &base, int dpi, Art *art) {
    int aw, ah;
    BYTE *atlas;
    HBITMAP ab = s.pictures > 2 ? DecodePng(s.png[2], s.length[2], &aw, &ah, &atlas) : 0;
    if (!ab) return;
    AddGreen(atlas, (size_t)aw * ah);
    for (int i = 0; i < s.count && i < SpriteMax; i++) {
        int x, y, w, h, dw, dh;
        Place(s, i, &x, &y, &w, &h);
        // A sprite is whole or absent: the painter skips an empty entry, but
        // would draw a wrong one.
        if (w == 0 || h == 0 || x + w > aw || y + h > ah) continue;
        if (s.dpi == dpi) {
            dw = w;
            dh = h;
        } else {
            if (i >= base.count) continue;
            int bx, by, bw, bh;
            Place(base, i, &bx, &by, &bw, &bh);
            dw = ScaleAt(bw, dpi);
            dh = ScaleAt(bh, dpi);
        }
        HBITMAP bmp = Sized(&Spaces[1], atlas + ((size_t)y * aw + x) * 4, w, h, aw * 4, dw, dh);
        if (!bmp) continue;
        art->spr[i].width = dw;
        art->spr[i].height = dh;
        art->spr[i].bitmap = bmp;
        art->sprites++;
    }
    DeleteObject(ab);
}

// The set for dpi: its own, else the nearest larger one (drawn finer, made
// smaller), else the largest; and the 100 % set, whose sizes the others scale.
static const BYTE *ChooseSet(int dpi, DWORD *size, const BYTE **base, DWORD *baseSize) {
    const BYTE *best = 0;
    int bestDpi = 0;
    *base = 0;
    for (int id = IdArt; id < IdArt + ArtSetsMax; id++) {
        DWORD n = 0;
        const BYTE *d = Resource(id, &n);
        if (!d || n < 2) continue;
        int setDpi = (int)Le16(d);
        if (setDpi == 96) {
            *base = d;
            *baseSize = n;
        }
        bool fits = setDpi >= dpi, bestFits = best && bestDpi >= dpi;
        bool better = !best || (fits ? !bestFits || setDpi < bestDpi : !bestFits && setDpi > bestDpi);
        if (better) {
            best = d;
            bestDpi = setDpi;
            *size = n;
        }
    }
    return best;
}

// Replaces the art held with art, on the window thread, giving each sprite
// the memory DC it is drawn from.
static void Install(Art *art) {
    if (BgHome) DeleteObject(BgHome);
    if (BgOpt) DeleteObject(BgOpt);
    BgHome = art->home;
    BgOpt = art->opt;
    for (int i = 0; i < SpriteMax; i++) {
        if (Spr[i].dc) DeleteDC(Spr[i].dc);
        if (Spr[i].bitmap) DeleteObject(Spr[i].bitmap);
        Spr[i] = art->spr[i];
        if (Spr[i].bitmap) {
            Spr[i].dc = CreateCompatibleDC(0);
            if (Spr[i].dc) SelectObject(Spr[i].dc, Spr[i].bitmap);
        }
        if (!Spr[i].dc && Spr[i].bitmap) {
            DeleteObject(Spr[i].bitmap);
            Spr[i] = SpriteEntry();
        }
    }
}

// ---- Loading -----------------------------------------------------------------------------

// The set to load for dpi and the 100 % set, as ChooseSet gives them.
struct Job {
    int dpi;
    const BYTE *set, *base;
    DWORD size, baseSize;
};

static Job For(int dpi) {
    Job j = {};
    j.dpi = dpi;
    j.set = ChooseSet(dpi, &j.size, &j.base, &j.baseSize);
    return j;
}

static void Pictures(const Job &j, Art *art, bool backgrounds, bool sprites) {
    Set s, b;
    if (!View(j.set, j.size, &s)) return;
    View(j.base, j.baseSize, &b);
    if (backgrounds) Backgrounds(s, j.dpi, art);
    if (sprites) Sprites(s, b, j.dpi, art);
}

// Start-up decodes on two threads, which share the work about evenly: the
// backgrounds on one, the fonts (the first time) and the sprites on the
// other. Each writes only its own fields of Loaded.
static Art Loaded;
static Job Loading;
static HANDLE Loaders[2];
static bool FontsIn;

static DWORD WINAPI LoadBackgrounds(void *) {
    Pictures(Loading, &Loaded, true, false);
    return 0;
}

static DWORD WINAPI LoadSprites(void *) {
    if (!FontsIn) RegisterFonts();
    FontsIn = true;
    Pictures(Loading, &Loaded, false, true);
    return 0;
}

void StartAssets() {
    Loaded = Art();
    Loading = For(Dpi);
    Loaders[0] = CreateThread(0, 0, LoadBackgrounds, 0, 0, 0);
    Loaders[1] = CreateThread(0, 0, LoadSprites, 0, 0, 0);
}

void FinishAssets() {
    LPTHREAD_START_ROUTINE work[2] = {LoadBackgrounds, LoadSprites};
    for (int i = 0; i < 2; i++) {
        if (!Loaders[i]) {
            work[i](0);  // no thread to be had: here, then
            continue;
        }
        WaitForSingleObject(Loaders[i], INFINITE);
        CloseHandle(Loaders[i]);
        Loaders[i] = 0;
    }
    MakeFonts();
    Install(&Loaded);
}

void LoadAssets() {
    StartAssets();
    FinishAssets();
}

int LoadArtSet(const BYTE *set, DWORD size, const BYTE *base, DWORD baseSize) {
    Job j = {Dpi, set, base, size, baseSize};
    Art art = Art();
    Pictures(j, &art, true, true);
    Install(&art);
    return art.sprites;
}

void SetIcons(HWND wnd) {
    static HICON small, big;
    HINSTANCE self = GetModuleHandleW(0);
    HICON s = (HICON)LoadImageW(self, MAKEINTRESOURCEW(IdIcon), IMAGE_ICON, Scale(16), Scale(16), 0);
    HICON b = (HICON)LoadImageW(self, MAKEINTRESOURCEW(IdIcon), IMAGE_ICON, Scale(32), Scale(32), 0);
    if (s) SendMessageW(wnd, WM_SETICON, ICON_SMALL, (LPARAM)s);
    if (b) SendMessageW(wnd, WM_SETICON, ICON_BIG, (LPARAM)b);
    if (s && small) DestroyIcon(small);
    if (b && big) DestroyIcon(big);
    if (s) small = s;
    if (b) big = b;
}
