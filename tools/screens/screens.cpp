// Renders the launcher's window in its key states through the real frame
// painter and saves each as a 24-bit BMP, for a person to review
// (make screens turns them into PNGs under build/screens/).
//   screens OUTDIR [NAME-PREFIX]
// The open list's picture is named after the screen it was drawn on, since
// its tags compare each resolution with the screen.
#include <windows.h>

#include <shellapi.h>
#include <stdio.h>

#include <string>

#include "app/assets.h"
#include "app/state.h"
#include "render/draw.h"
#include "render/paint.h"
#include "ui/layout.h"

static DWORD TickNow;
static DWORD WINAPI FixedTicks() { return TickNow; }

static void Fresh() {
    Online = -1;
    ServerUp = -1;
    Progress = -1;
    lstrcpyW(Status, L"Conectando ao servidor...");
    ServerName[0] = 0;
    ZeroMemory(News, sizeof News);
    NewsN = 0;
    Ready = 0;
    Toast[0] = 0;
    Page = Hover = Pressed = DdOpen = 0;
    DdHover = -1;
    Icon = Tray = Music = WinMode = 1;
    Volume = 80;
    ResIdx = 2;
    TickNow = 1200;  // the band a third of the way across
}

static void Feed() {
    ServerUp = 1;
    Online = 1287;
    lstrcpyW(ServerName, L"Velmora - Servidor Aurora");
    const wchar_t *items[4][2] = {
        {L"Evento de inverno começa no sábado! Experiência em dobro por todo o fim de semana", L"06/12"},
        {L"Manutenção concluída", L"04/12"},
        {L"Nova arena de guildas aberta para todos os reinos", L"01/12"},
        {L"Temporada 3: recompensas entregues", L"28/11"},
    };
    for (int k = 0; k < 4; k++) {
        lstrcpyW(News[k].title, items[k][0]);
        lstrcpyW(News[k].body, items[k][1]);
    }
    NewsN = 4;
}

static void Done() {
    Ready = 1;
    Progress = 1000;
    lstrcpyW(Status, L"Seu jogo está atualizado. Pronto para jogar.");
}

struct Scene {
    const char *name;
    void (*set)();
};

static const Scene Scenes[] = {
    {"01-startup", [] {}},
    {"02-home-online-news", [] { Feed(); Done(); }},
    {"03-offline-no-news", [] {
         ServerUp = 0;
         Ready = 1;
         Progress = 1000;
         lstrcpyW(Status, L"Não foi possível verificar atualizações. Você pode jogar mesmo assim.");
     }},
    {"04-download-57", [] {
         Feed();
         Progress = 575;
         lstrcpyW(Status, L"Baixando Data\\Mapas\\aurora.map (3 de 7)...");
     }},
    {"05-options-windowed", [] { Feed(); Done(); Page = 1; ResIdx = 7; Hover = ResDropdown; }},
    {"06-options-borderless", [] { Feed(); Done(); Page = 1; WinMode = 0; Music = 0; Volume = 0; Tray = 0; }},
    {"07-list-open", [] { Feed(); Done(); Page = 1; DdOpen = 1; Hover = ResList; DdHover = 6; ResIdx = 2; }},
    {"08-toast", [] { Feed(); Done(); Page = 1; lstrcpyW(Toast, L"Atalho criado na Área de Trabalho."); }},
    {"09-hover-home", [] { Feed(); Done(); Hover = BtnPlay; }},
    {"10-pressed-home", [] { Feed(); Done(); Hover = Pressed = BtnPlay; }},
    {"11-hover-options", [] { Feed(); Done(); Page = 1; Hover = BtnSave; Music = 0; }},
    {"12-pressed-options", [] { Feed(); Done(); Page = 1; Hover = Pressed = BtnShortcut; }},
    {"13-hover-strip", [] { Feed(); Done(); Hover = TabOptions; }},
    {"14-hover-close", [] { Feed(); Done(); Hover = BtnClose; }},
    {"15-hover-slider", [] { Feed(); Done(); Page = 1; Hover = VolumeSlider; Volume = 35; ResIdx = 0; }},
};

static bool SaveBmp(const std::wstring &path, HDC dc, HBITMAP bmp) {
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = WinW;
    bi.bmiHeader.biHeight = WinH;  // bottom-up, as BMP files are
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    bi.bmiHeader.biCompression = BI_RGB;
    DWORD rowBytes = WinW * 3, size = rowBytes * WinH;
    std::string px(size, '\0');
    if (!GetDIBits(dc, bmp, 0, WinH, &px[0], &bi, DIB_RGB_COLORS)) return false;
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
    if (!argv || argc < 2) {
        fprintf(stderr, "usage: screens OUTDIR [NAME-PREFIX]\n");
        return 2;
    }
    std::wstring out = argv[1], only = argc > 2 ? argv[2] : L"";
    InitializeCriticalSection(&Lock);
    LoadAssets();
    Ticks = FixedTicks;

    HDC screen = GetDC(0);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, WinW, WinH);
    SelectObject(dc, bmp);
    int failed = 0;
    for (const Scene &s : Scenes) {
        std::wstring name(s.name, s.name + strlen(s.name));
        if (name.compare(0, only.size(), only) != 0) continue;
        if (name == L"07-list-open") {
            wchar_t size[32];
            wsprintfW(size, L"-%dx%d", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
            name += size;
        }
        Fresh();
        s.set();
        PaintTo(dc);  // the window's own paint cycle, onto a stand-in for it
        if (!SaveBmp(out + L"\\" + name + L".bmp", dc, bmp)) {
            fprintf(stderr, "cannot write %ls\n", name.c_str());
            failed = 1;
        }
    }
    return failed;
}
