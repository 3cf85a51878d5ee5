// The painter's cost per frame, timed in one run side by side with the floor
// of any frame: two full-window copies, the page background into the back
// buffer and the back buffer onto the window. paint_bench.py prints the ratios.
//   paint_bench            per-frame times, key=value lines in microseconds
//                          (at 100 %, and the two main frames at 200 %)
//   paint_bench window     the busy animation in a real window for a few
//                          seconds: frames painted and the process's CPU time
//   paint_bench decode     the art of each scale decoded and made ready, as
//                          start-up does it: milliseconds, best of a few
#include <windows.h>

#include <stdio.h>

#include "app/assets.h"
#include "app/scale.h"
#include "bench/benchutil.h"
#include "app/state.h"
#include "render/paint.h"
#include "ui/layout.h"
#include "ui/proc.h"


static void Feed() {
    ServerUp = 1;
    Online = 1287;
    lstrcpyW(ServerName, L"Velmora - Servidor Aurora");
    const wchar_t *titles[4] = {L"Evento de inverno começa no sábado! Experiência em dobro no fim de semana",
                                L"Manutenção concluída", L"Nova arena de guildas aberta para todos os reinos",
                                L"Temporada 3: recompensas entregues"};
    for (int k = 0; k < 4; k++) {
        lstrcpyW(News[k].title, titles[k]);
        wsprintfW(News[k].body, L"0%d/12", k + 1);
    }
    NewsN = 4;
}

// The frame repainted every 30 ms while the update is checked: home page, the
// feed read, the band moving, Play still greyed.
static void BusyHome() {
    Feed();
    Page = 0;
    DdOpen = 0;
    Hover = Pressed = 0;
    DdHover = -1;
    Progress = -1;
    Ready = 0;
    Toast[0] = 0;
    lstrcpyW(Status, L"Verificando atualizações...");
}

// The most drawn: options page, the list open with the pointer on a row, a
// download under way with its percentage, and a toast.
static void Busiest() {
    Feed();
    Page = 1;
    DdOpen = 1;
    Hover = ResList;
    DdHover = 7;
    ResIdx = 7;
    Progress = 575;
    Ready = 1;
    lstrcpyW(Status, L"Baixando Data\\Mapas\\aurora.map (3 de 7)...");
    lstrcpyW(Toast, L"Opções salvas.");
}

static HDC MemoryDc(HDC screen, HBITMAP bmp) {
    HDC dc = CreateCompatibleDC(screen);
    SelectObject(dc, bmp);
    return dc;
}

static HBITMAP Dib32(HDC screen) {
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof bi.bmiHeader, Scale(WinW), -Scale(WinH), 1, 32, BI_RGB};
    void *bits;
    return CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, 0, 0);
}

// The items' best times at the current scale, each named with suffix.
static void Timings(const char *suffix, bool all) {
    HDC screen = GetDC(0);
    HDC window = MemoryDc(screen, CreateCompatibleBitmap(screen, Scale(WinW), Scale(WinH)));  // stands in for the window
    HDC buffer = MemoryDc(screen, Dib32(screen));  // a back buffer like the paint's
    HDC device = MemoryDc(screen, CreateCompatibleBitmap(screen, Scale(WinW), Scale(WinH)));  // a device bitmap: GDI only
    HDC bg = MemoryDc(screen, BgHome);

    struct Item {
        const char *name;
        void (*state)();
        void (*draw)(HDC window, HDC buffer, HDC device, HDC bg);
        double best;
    } items[] = {
        {"floor", BusyHome, [](HDC w, HDC b, HDC, HDC g) {
             BitBlt(b, 0, 0, Scale(WinW), Scale(WinH), g, 0, 0, SRCCOPY);
             BitBlt(w, 0, 0, Scale(WinW), Scale(WinH), b, 0, 0, SRCCOPY);
         }, 1e9},
        {"busy_home", BusyHome, [](HDC w, HDC, HDC, HDC) { PaintTo(w); }, 1e9},
        {"busiest", Busiest, [](HDC w, HDC, HDC, HDC) { PaintTo(w); }, 1e9},
        {"busy_home_frame_only", BusyHome, [](HDC, HDC b, HDC, HDC) { PaintFrame(b); }, 1e9},
        {"busiest_frame_only", Busiest, [](HDC, HDC b, HDC, HDC) { PaintFrame(b); }, 1e9},
        {"busy_home_gdi_only", BusyHome, [](HDC, HDC, HDC d, HDC) { PaintFrame(d); }, 1e9},
        {"busiest_gdi_only", Busiest, [](HDC, HDC, HDC d, HDC) { PaintFrame(d); }, 1e9},
    };
    // Rounds taken alternately, so that every item sees the same machine; the
    // best round of each counts.
    const int rounds = 9, frames = all ? 300 : 100, count = all ? (int)(sizeof items / sizeof *items) : 3;
    for (int r = 0; r < rounds; r++)
        for (int k = 0; k < count; k++) {
            Item &it = items[k];
            it.state();
            it.draw(window, buffer, device, bg);  // warm
            double t = Now();
            for (int i = 0; i < frames; i++) it.draw(window, buffer, device, bg);
            double us = (Now() - t) / frames * 1e6;
            if (us < it.best) it.best = us;
        }
    for (int k = 0; k < count; k++) printf("%s%s=%.1f\n", items[k].name, suffix, items[k].best);
    ReleaseDC(0, screen);
}

// The art of each scale loaded as start-up loads it (decoded on two threads,
// resampled where the scale has no set of its own, made into bitmaps), best
// of five; the fonts are registered before, once.
static int Decoding() {
    static const int scales[] = {96, 120, 144, 168, 192, 132};
    for (int dpi : scales) {
        double best = 1e9;
        for (int r = 0; r < 5; r++) {
            Dpi = dpi;
            double t = Now();
            LoadAssets();
            double ms = (Now() - t) * 1e3;
            if (ms < best) best = ms;
        }
        printf("decode_%d=%.1f\n", dpi, best);
    }
    return 0;
}

// ---- The busy animation in a real window ---------------------------------------------------

static volatile LONG Paints;

static LRESULT CALLBACK Counting(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_PAINT) Paints++;
    return Proc(wnd, msg, wp, lp);
}

static double CpuSeconds() {
    FILETIME c, e, k, u;
    GetProcessTimes(GetCurrentProcess(), &c, &e, &k, &u);
    ULARGE_INTEGER kk = {{k.dwLowDateTime, k.dwHighDateTime}}, uu = {{u.dwLowDateTime, u.dwHighDateTime}};
    return (double)(kk.QuadPart + uu.QuadPart) / 1e7;
}

static int Window(double seconds) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Counting;
    wc.hInstance = GetModuleHandleW(0);
    wc.hCursor = LoadCursorW(0, IDC_ARROW);
    wc.lpszClassName = L"VelmoraPaintBench";
    RegisterClassW(&wc);
    Wnd = CreateWindowExW(0, wc.lpszClassName, L"Velmora", WS_POPUP, 0, 0, WinW, WinH, 0, 0, wc.hInstance, 0);
    BusyHome();
    ShowWindow(Wnd, SW_SHOWNOACTIVATE);
    UpdateWindow(Wnd);
    SetTimer(Wnd, TimerAnim, AnimMs, 0);

    double wall = Now(), cpu = CpuSeconds();
    Paints = 0;
    while (Now() - wall < seconds) {
        MSG m;
        if (MsgWaitForMultipleObjects(0, 0, FALSE, 50, QS_ALLINPUT) == WAIT_OBJECT_0)
            while (PeekMessageW(&m, 0, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    }
    wall = Now() - wall;
    cpu = CpuSeconds() - cpu;
    printf("seconds=%.3f\nframes=%ld\ncpu_seconds=%.4f\n", wall, (long)Paints, cpu);
    DestroyWindow(Wnd);
    return 0;
}

int main(int argc, char **argv) {
    InitializeCriticalSection(&Lock);
    LoadAssets();
    if (!BgHome || !Spr[0].dc) {
        fprintf(stderr, "the art is missing\n");
        return 1;
    }
    if (argc > 1 && !lstrcmpA(argv[1], "window")) return Window(argc > 2 ? atof(argv[2]) : 5.0);
    if (argc > 1 && !lstrcmpA(argv[1], "decode")) return Decoding();
    Timings("", true);
    Dpi = 192;
    LoadAssets();
    Timings("_200", false);
    return 0;
}
