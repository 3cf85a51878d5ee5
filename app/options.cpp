#include "app/options.h"

#include "app/state.h"
#include "site.h"
#include "update/lanes.h"

const ResRow Res[ResCount] = {
    {0, 0, L"Maior possível (tamanho da tela)", 0},
    {800, 600, L"800 x 600", 0},
    {1024, 768, L"1024 x 768", 0},
    {1280, 960, L"1280 x 960", 0},
    {1280, 1024, L"1280 x 1024", 0},
    {1440, 1080, L"1440 x 1080", 0},
    {1280, 720, L"1280 x 720", 1},
    {1366, 768, L"1366 x 768", 1},
    {1600, 900, L"1600 x 900", 1},
    {1920, 1080, L"1920 x 1080", 1},
};

// The game client knows four size classes; 0 ("the screen") counts as the largest.
int ResCode(int width) {
    if (width == 0) return 4;
    if (width <= 800) return 1;
    if (width <= 1024) return 2;
    if (width <= 1280) return 3;
    return 4;
}

static int Flag(const wchar_t *key) {
    return GetPrivateProfileIntW(L"Janela", key, 1, Ini) != 0;
}

// "Downloads": how many files the update fetches at once. A number outside
// 1..LaneMax is taken as the nearest end; anything else leaves the default.
static int ReadLanes() {
    wchar_t v[16];
    GetPrivateProfileStringW(L"Launcher", L"Downloads", L"", v, 16, Ini);
    const wchar_t *c = v;
    while (*c == L' ') c++;
    int neg = *c == L'-', n = 0, digits = 0;
    if (*c == L'-' || *c == L'+') c++;
    for (; *c >= L'0' && *c <= L'9'; c++, digits++) n = n < 1000 ? n * 10 + (*c - L'0') : n;
    while (*c == L' ') c++;
    if (!digits || *c) return LanesDefault;
    return neg || n < 1 ? 1 : n > LaneMax ? LaneMax : n;
}

void LoadOptions() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, OPTIONS_KEY, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD v = 0, size = sizeof v;
        if (RegQueryValueExW(key, L"MusicOnOff", 0, 0, (BYTE *)&v, &size) == ERROR_SUCCESS)
            Music = v != 0;
        RegCloseKey(key);
    }

    WinMode = Flag(L"Janela");
    int v = (int)GetPrivateProfileIntW(L"Janela", L"Volume", 80, Ini);
    Volume = v > 100 ? 100 : v < 0 ? 0 : v;
    Tray = Flag(L"Bandeja");
    Icon = Flag(L"Icone");
    int w = (int)GetPrivateProfileIntW(L"Janela", L"Largura", 1024, Ini);
    int h = (int)GetPrivateProfileIntW(L"Janela", L"Altura", 768, Ini);
    for (int i = 0; i < ResCount; i++)
        if (Res[i].width == w && Res[i].height == h) ResIdx = i;

    GetPrivateProfileStringW(L"Launcher", L"Site", DEFAULT_SITE, Site, SiteLen, Ini);
    // Addresses copied from a browser end in "/": every request would then
    // ask for "//update/...", which many servers answer with 404.
    for (int n = lstrlenW(Site); n > 0 && Site[n - 1] == L'/'; n--) Site[n - 1] = 0;
    Lanes = ReadLanes();
}

static int SetDword(HKEY key, const wchar_t *name, DWORD v) {
    return RegSetValueExW(key, name, 0, REG_DWORD, (const BYTE *)&v, sizeof v) == ERROR_SUCCESS;
}

static int WriteInt(const wchar_t *key, int v) {
    wchar_t s[16];
    wsprintfW(s, L"%d", v);
    return WritePrivateProfileStringW(L"Janela", key, s, Ini) != 0;
}

int SaveOptions() {
    int r = ResIdx;
    HKEY key;
    int ok = 0;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, OPTIONS_KEY, 0, 0, REG_OPTION_NON_VOLATILE, KEY_WRITE, 0,
                        &key, 0) == ERROR_SUCCESS) {
        ok = SetDword(key, L"Resolution", (DWORD)ResCode(Res[r].width));
        ok &= SetDword(key, L"MusicOnOff", (DWORD)Music);
        ok &= SetDword(key, L"SoundOnOff", Volume > 0);
        RegCloseKey(key);
    }
    // Every INI key is tried even after a failure: whatever can be kept is.
    ok &= WriteInt(L"Volume", Volume);
    ok &= WriteInt(L"Janela", WinMode != 0);
    ok &= WriteInt(L"Bandeja", Tray != 0);
    ok &= WriteInt(L"Icone", Icon != 0);
    ok &= WriteInt(L"Largura", Res[r].width);
    ok &= WriteInt(L"Altura", Res[r].height);
    return ok;
}
