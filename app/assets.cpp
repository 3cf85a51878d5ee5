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
// makes them half as large. GDI copies the font it is given.
enum { FontBytesMax = 1 << 20 };

static void RegisterFonts() {
    static const int ids[] = {IdFontTitle, IdFontBody, IdFontSemi};
    for (int id : ids) {
        DWORD size = 0, added = 0;
        const BYTE *res = Resource(id, &size);
        if (!res || size < 4) continue;
        DWORD length = Le32(res);
        BYTE *font = length <= FontBytesMax ? (BYTE *)VirtualAlloc(0, FontBytesMax, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE) : 0;
        if (font && DecodeGrey(res + 4, size - 4, font, FontBytesMax) >= length) AddFontMemResourceEx(font, length, 0, &added);
        if (font) VirtualFree(font, 0, MEM_RELEASE);
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
enum { Home, Patch, TopSheet, BottomSheet, Parts };
struct Set {
    int dpi, count, patchX, patchY;
    const BYTE *places;    // count x (x, y, w, h), 16 bits each
    const BYTE *png[Parts];
    DWORD length[Parts];
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
    for (; s->pictures < Parts && size - at >= 4 && Le32(d + at) <= size - at - 4; s->pictures++) {
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

// Art made off the window thread, installed by it.
struct Art {
    HBITMAP home, opt;
    HBITMAP homeAtSet;  // the home picture at the set's size, which the options page starts from (may be home)
    SpriteEntry spr[SpriteMax];
    int sprites;
};

// A picture of sw x sh (rows of stride bytes) as a new DIB section of dw x
// dh: copied when the sizes agree, else resampled (in a workspace of its own:
// two threads load at once).
static HBITMAP Sized(const BYTE *src, int sw, int sh, int stride, int dw, int dh) {
    BYTE *bits;
    HBITMAP bmp = NewDib(dw, dh, &bits);
    if (!bmp) return 0;
    if (sw == dw && sh == dh) {
        for (int y = 0; y < sh; y++) CopyMemory(bits + (size_t)y * dw * 4, src + (size_t)y * stride, (size_t)dw * 4);
        return bmp;
    }
    void *space = VirtualAlloc(0, sizeof(ResampleSpace), MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    bool ok = space && Resample((ResampleSpace *)space, src, sw, sh, stride, bits, dw, dh);
    if (space) VirtualFree(space, 0, MEM_RELEASE);
    if (ok) return bmp;
    DeleteObject(bmp);
    return 0;
}

static BYTE *BitsOf(HBITMAP bmp, int *w, int *h) {
    DIBSECTION ds;
    if (!bmp || GetObjectW(bmp, sizeof ds, &ds) != sizeof ds) return 0;
    *w = ds.dsBm.bmWidth;
    *h = ds.dsBm.bmHeight;
    return (BYTE *)ds.dsBm.bmBits;
}

// The home page's background at dpi.
static void HomeBackground(const Set &s, int dpi, Art *art) {
    int w, h;
    BYTE *home;
    HBITMAP hb = s.pictures > Home ? DecodePng(s.png[Home], s.length[Home], &w, &h, &home) : 0;
    if (!hb) return;
    AddGreen(home, (size_t)w * h);
    int dw = ScaleAt(WinW, dpi), dh = ScaleAt(WinH, dpi);
    art->home = w == dw && h == dh ? hb : Sized(home, w, h, w * 4, dw, dh);
    art->homeAtSet = hb;
}

// The options page's background at dpi: a copy of the home picture at the
// set's size with the patch added inside it, scaled as the home one.
static void OptionsBackground(const Set &s, int dpi, HBITMAP homeAtSet, Art *art) {
    int w = 0, h = 0, pw, ph;
    BYTE *home = BitsOf(homeAtSet, &w, &h), *patch, *opt;
    HBITMAP pb = home && s.pictures > Patch ? DecodePng(s.png[Patch], s.length[Patch], &pw, &ph, &patch) : 0;
    HBITMAP ob = pb && s.patchX + pw <= w && s.patchY + ph <= h ? NewDib(w, h, &opt) : 0;
    if (ob) {
        AddGreen(patch, (size_t)pw * ph);
        CopyMemory(opt, home, (size_t)w * h * 4);
        for (int y = 0; y < ph; y++) {
            BYTE *o = opt + ((size_t)(s.patchY + y) * w + s.patchX) * 4;
            const BYTE *d = patch + (size_t)y * pw * 4;
            for (int i = 0; i < pw * 4; i++)
                if ((i & 3) != 3) o[i] = (BYTE)(o[i] + d[i]);
        }
        int dw = ScaleAt(WinW, dpi), dh = ScaleAt(WinH, dpi);
        art->opt = w == dw && h == dh ? ob : Sized(opt, w, h, w * 4, dw, dh);
        if (art->opt != ob) DeleteObject(ob);
    }
    if (pb) DeleteObject(pb);
}

// The sprites at dpi that lie in one part of the set's atlas (TopSheet or
// BottomSheet, whose rows follow the top's); sizes other than the set's own
// come from base, the 100 % set, scaled.
static void Sprites(const Set &s, const Set &base, int dpi, int part, Art *art) {
    int aw, ah, top = 0, topW;
    BYTE *atlas;
    if (part == BottomSheet && (s.pictures <= TopSheet || !PngSize(s.png[TopSheet], s.length[TopSheet], &topW, &top)))
        return;
    HBITMAP ab = s.pictures > part ? DecodePng(s.png[part], s.length[part], &aw, &ah, &atlas) : 0;
    if (!ab) return;
    AddGreen(atlas, (size_t)aw * ah);
    for (int i = 0; i < s.count && i < SpriteMax; i++) {
        int x, y, w, h, dw, dh;
        Place(s, i, &x, &y, &w, &h);
        // A sprite is whole or absent: the painter skips an empty entry, but
        // would draw a wrong one.
        if (w == 0 || h == 0 || x + w > aw || y < top || y - top + h > ah) continue;
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
        HBITMAP bmp = Sized(atlas + ((size_t)(y - top) * aw + x) * 4, w, h, aw * 4, dw, dh);
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

static void Free(SpriteEntry &e) {
    if (e.dc) DeleteDC(e.dc);
    if (e.bitmap) DeleteObject(e.bitmap);
    e = SpriteEntry();
}

// Installs art on the window thread, giving each sprite the memory DC it is
// drawn from. all: in place of all the art held; else only what art has (the
// options page's art, after the home page's).
static void Install(Art *art, bool all) {
    if (all || art->opt) {
        if (BgOpt) DeleteObject(BgOpt);
        BgOpt = art->opt;
    }
    if (all) {
        if (BgHome) DeleteObject(BgHome);
        BgHome = art->home;
    }
    for (int i = 0; i < SpriteMax; i++) {
        if (!all && !art->spr[i].bitmap) continue;
        Free(Spr[i]);
        Spr[i] = art->spr[i];
        if (Spr[i].bitmap && (Spr[i].dc = CreateCompatibleDC(0))) SelectObject(Spr[i].dc, Spr[i].bitmap);
        if (!Spr[i].dc) Free(Spr[i]);
    }
}

// ---- Loading -----------------------------------------------------------------------------
// The first frame is always the home page's: start-up decodes its art on two
// threads, which share the work about evenly (the home background on one, the
// fonts the first time and the top of the atlas on the other), and the
// options page's after that frame, on a third, installed before that page is
// drawn (FinishOptionsArt). Each thread writes only its own fields.

// The set to load for dpi and the 100 % set, as ChooseSet gives them.
struct Job {
    int dpi;
    Set set, base;
};

static Job Loading;
static Art Loaded, Later;  // the home page's art; the options page's
static HANDLE Loaders[2], Finisher;
static bool FontsIn, Pending;  // Pending: the options page's art is yet to be installed

static DWORD WINAPI LoadHome(void *) {
    HomeBackground(Loading.set, Loading.dpi, &Loaded);
    return 0;
}

static DWORD WINAPI LoadSprites(void *) {
    if (!FontsIn) RegisterFonts();
    FontsIn = true;
    Sprites(Loading.set, Loading.base, Loading.dpi, TopSheet, &Loaded);
    return 0;
}

static DWORD WINAPI LoadOptionsPage(void *home) {
    OptionsBackground(Loading.set, Loading.dpi, (HBITMAP)home, &Later);
    Sprites(Loading.set, Loading.base, Loading.dpi, BottomSheet, &Later);
    return 0;
}

// Waits for the thread in *t and closes it; with none, runs work here.
static void Join(HANDLE *t, LPTHREAD_START_ROUTINE work, void *arg) {
    if (!*t) {
        work(arg);
        return;
    }
    WaitForSingleObject(*t, INFINITE);
    CloseHandle(*t);
    *t = 0;
}

void StartAssets() {
    FinishOptionsArt();  // a load before this one ends first
    DWORD size = 0, baseSize = 0;
    const BYTE *base, *set = ChooseSet(Dpi, &size, &base, &baseSize);
    Loading.dpi = Dpi;
    View(set, size, &Loading.set);
    View(base, baseSize, &Loading.base);
    Loaded = Art();
    Loaders[0] = CreateThread(0, 0, LoadHome, 0, 0, 0);
    Loaders[1] = CreateThread(0, 0, LoadSprites, 0, 0, 0);
}

void FinishAssets() {
    Join(&Loaders[0], LoadHome, 0);
    Join(&Loaders[1], LoadSprites, 0);
    MakeFonts();
    Install(&Loaded, true);
    Later = Art();
    Pending = true;
    Finisher = CreateThread(0, 0, LoadOptionsPage, Loaded.homeAtSet, 0, 0);
}

void FinishOptionsArt() {
    if (!Pending) return;
    Join(&Finisher, LoadOptionsPage, Loaded.homeAtSet);
    Install(&Later, false);
    if (Loaded.homeAtSet != Loaded.home) DeleteObject(Loaded.homeAtSet);
    Loaded.homeAtSet = 0;
    Pending = false;
}

void LoadAssets() {
    StartAssets();
    FinishAssets();
    FinishOptionsArt();
}

int LoadArtSet(const BYTE *set, DWORD size, const BYTE *base, DWORD baseSize) {
    FinishOptionsArt();
    Set s, b;
    Art art = Art();
    View(base, baseSize, &b);
    if (View(set, size, &s)) {
        HomeBackground(s, Dpi, &art);
        OptionsBackground(s, Dpi, art.homeAtSet, &art);
        Sprites(s, b, Dpi, TopSheet, &art);
        Sprites(s, b, Dpi, BottomSheet, &art);
        if (art.homeAtSet != art.home) DeleteObject(art.homeAtSet);
    }
    Install(&art, true);
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
