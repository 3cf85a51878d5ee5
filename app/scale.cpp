#include "app/scale.h"

#include "app/state.h"

// ---- Arithmetic --------------------------------------------------------------------

// Half up, in 64 bits: a coordinate from a captured mouse can be anything.
int ScaleAt(int v, int dpi) {
    long long n = (long long)v * dpi + 48;
    return (int)(n >= 0 ? n / 96 : -((-n + 95) / 96));  // floor division
}

int Scale(int v) { return ScaleAt(v, Dpi); }

int Unscale(int px) {
    int v = (int)((long long)px * 96 / Dpi);  // within one or two of the answer
    while (Scale(v) > px) v--;
    while (Scale(v + 1) <= px) v++;
    return v;
}

RECT ScaleRect(int l, int t, int r, int b) {
    RECT s = {Scale(l), Scale(t), Scale(r), Scale(b)};
    return s;
}

int Line() { return Dpi / 96 > 1 ? Dpi / 96 : 1; }

int ValidDpi(unsigned dpi) { return dpi >= 48 && dpi <= 480 ? (int)dpi : 0; }

// ---- What the system says ------------------------------------------------------------

// The functions that tell a DPI other than the system's come with Windows 8.1
// (shcore) and 10 (user32); on older systems the launcher still starts, system
// aware, and looks them up by name.
typedef UINT(WINAPI *SystemDpiFn)(void);
typedef UINT(WINAPI *WindowDpiFn)(HWND);
typedef HRESULT(WINAPI *MonitorDpiFn)(HMONITOR, int, UINT *, UINT *);

// GetProcAddress's result as the function it is (through void *, which any
// function pointer type may be made from).
template <typename Fn> static Fn Function(HMODULE module, const char *name) {
    return module ? (Fn)(void *)GetProcAddress(module, name) : 0;
}

// Looked up once, on the first call: plain statics, as C++'s guarded ones
// would bring in the runtime's thread machinery for nothing (these run on the
// window thread only).
static SystemDpiFn OfSystem;
static WindowDpiFn OfWindow;
static MonitorDpiFn OfMonitor;
static bool LookedUp, LookedUpShcore;

static void LookUp() {
    if (LookedUp) return;
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    OfSystem = Function<SystemDpiFn>(user32, "GetDpiForSystem");
    OfWindow = Function<WindowDpiFn>(user32, "GetDpiForWindow");
    LookedUp = true;
}

int SystemDpi() {
    // Windows 10 tells it without a device context, which would cost the
    // first connection to the display this early in start-up.
    LookUp();
    if (int dpi = OfSystem ? ValidDpi(OfSystem()) : 0) return dpi;
    HDC screen = GetDC(0);
    int dpi = screen ? ValidDpi(GetDeviceCaps(screen, LOGPIXELSX)) : 0;
    if (screen) ReleaseDC(0, screen);
    return dpi ? dpi : 96;
}

int WindowDpi(HWND wnd) {
    LookUp();
    if (OfWindow) {
        int dpi = ValidDpi(OfWindow(wnd));
        return dpi ? dpi : SystemDpi();
    }
    // Windows 8.1 tells a monitor's DPI through shcore, which costs a library
    // load: asked only there (Windows 10 answered above).
    if (!LookedUpShcore) {
        OfMonitor = Function<MonitorDpiFn>(LoadLibraryW(L"shcore.dll"), "GetDpiForMonitor");
        LookedUpShcore = true;
    }
    UINT x = 0, y = 0;
    HMONITOR monitor = MonitorFromWindow(wnd, MONITOR_DEFAULTTONEAREST);
    if (OfMonitor && OfMonitor(monitor, 0 /* MDT_EFFECTIVE_DPI */, &x, &y) == S_OK && ValidDpi(x)) return (int)x;
    return SystemDpi();
}
