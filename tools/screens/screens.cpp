// Renders the launcher's window in its key states (scenes.cpp) at each scale
// through the real frame painter and saves each as a 24-bit BMP, for a person
// to review (make screens turns them into PNGs under build/screens/).
//   screens OUTDIR PERCENT... [--only NAME-PREFIX]
// Each picture is named after its scene and scale ("02-home-online-news-150");
// the open list's also after the screen it was drawn on, since its tags
// compare each resolution with the screen.
#include <windows.h>

#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "app/assets.h"
#include "app/scale.h"
#include "app/state.h"
#include "render/draw.h"
#include "render/paint.h"
#include "scenes.h"

static bool SaveBmp(const std::wstring &path, HDC dc, HBITMAP bmp, int w, int h) {
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;  // bottom-up, as BMP files are
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    bi.bmiHeader.biCompression = BI_RGB;
    DWORD rowBytes = (w * 3 + 3) & ~3, size = rowBytes * h;
    std::string px(size, '\0');
    if (!GetDIBits(dc, bmp, 0, h, &px[0], &bi, DIB_RGB_COLORS)) return false;
    BITMAPFILEHEADER fh = {};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
    fh.bfSize = fh.bfOffBits + size;
    FILE *f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    bool ok = fwrite(&fh, sizeof fh, 1, f) == 1 && fwrite(&bi.bmiHeader, sizeof bi.bmiHeader, 1, f) == 1 &&
              fwrite(px.data(), size, 1, f) == 1;
    return fclose(f) == 0 && ok;
}

int main() {
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 3) {
        fprintf(stderr, "usage: screens OUTDIR PERCENT... [--only NAME-PREFIX]\n");
        return 2;
    }
    std::wstring out = argv[1], only;
    InitializeCriticalSection(&Lock);
    Ticks = SceneTickSource;
    int failed = 0;
    for (int a = 2; a < argc; a++) {
        if (!lstrcmpW(argv[a], L"--only") && a + 1 < argc) {
            only = argv[++a];
            continue;
        }
        int percent = _wtoi(argv[a]);
        Dpi = percent * 96 / 100;
        LoadAssets();
        HDC screen = GetDC(0);
        HDC dc = CreateCompatibleDC(screen);
        HBITMAP bmp = CreateCompatibleBitmap(screen, Scale(WinW), Scale(WinH));
        ReleaseDC(0, screen);
        SelectObject(dc, bmp);
        for (int i = 0; i < SceneCount; i++) {
            const Scene &s = Scenes[i];
            std::wstring name(s.name, s.name + strlen(s.name));
            if (name.compare(0, only.size(), only) != 0) continue;
            if (name == L"07-list-open") {
                wchar_t size[32];
                wsprintfW(size, L"-%dx%d", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
                name += size;
            }
            name += L"-" + std::to_wstring(percent);
            FreshScene();
            s.set();
            PaintTo(dc);  // the window's own paint cycle, onto a stand-in for it
            if (!SaveBmp(out + L"\\" + name + L".bmp", dc, bmp, Scale(WinW), Scale(WinH))) {
                fprintf(stderr, "cannot write %ls\n", name.c_str());
                failed = 1;
            }
        }
        DeleteDC(dc);
        DeleteObject(bmp);
    }
    return failed;
}
