#include "ui/proc.h"

#include "app/state.h"
#include "render/paint.h"

void Repaint() { InvalidateRect(Wnd, 0, FALSE); }

static void OnTimer(WPARAM id) {
    if (id == TimerAnim && Progress < 0) Repaint();
}

LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_DESTROY: PostQuitMessage(0); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: OnPaint(wnd); return 0;
    case WM_TIMER: OnTimer(wp); return 0;
    case WM_NETSTATE: Repaint(); return 0;
    }
    return DefWindowProcW(wnd, msg, wp, lp);
}
