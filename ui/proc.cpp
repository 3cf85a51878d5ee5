#include "ui/proc.h"

#include "app/assets.h"
#include "app/options.h"
#include "app/play.h"
#include "app/scale.h"
#include "app/state.h"
#include "render/paint.h"
#include "ui/commands.h"
#include "ui/layout.h"
#include "update/selfswap.h"

#ifndef WM_GETDPISCALEDSIZE
#define WM_GETDPISCALEDSIZE 0x02E4  // Windows 10 1703 on; the headers give it only for that target
#endif

void Repaint() { InvalidateRect(Wnd, 0, FALSE); }

// Mouse positions are two signed 16-bit halves: outside the window while the
// mouse is captured they go negative.
static int X(LPARAM lp) { return (short)LOWORD(lp); }
static int Y(LPARAM lp) { return (short)HIWORD(lp); }

static void SetHand(int hand) { SetCursor(LoadCursorW(0, hand ? IDC_HAND : IDC_ARROW)); }

static void DragVolume(int x) {
    int v = VolumeAt(x);
    if (v != Volume) {
        Volume = v;
        Repaint();
    }
}

// A volume drag is saved once, when it ends, and ends an open list too.
static void EndVolumeDrag() {
    if (DdOpen) {
        DdOpen = 0;
        Repaint();
    }
    SaveChange();
    Repaint();
}

// ---- Handlers ----------------------------------------------------------------

// Every empty spot moves the borderless window, except while the list is open:
// then a click anywhere must reach the window to close it.
static LRESULT OnNcHitTest(HWND wnd, LPARAM lp) {
    POINT p = {X(lp), Y(lp)};
    ScreenToClient(wnd, &p);
    return HitTest(p.x, p.y) == 0 && !DdOpen ? HTCAPTION : HTCLIENT;
}

// Over an element the hand set by the last move stays; elsewhere the class arrow.
static LRESULT OnSetCursor(HWND wnd, WPARAM wp, LPARAM lp) {
    if (LOWORD(lp) == HTCLIENT && Hover) return 1;
    return DefWindowProcW(wnd, WM_SETCURSOR, wp, lp);
}

static void OnMouseMove(HWND wnd, int x, int y) {
    if (Pressed == VolumeSlider) {
        DragVolume(x);
        return;
    }
    int id = HitTest(x, y);
    TRACKMOUSEEVENT t = {sizeof t, TME_LEAVE, wnd, 0};
    TrackMouseEvent(&t);
    if (id == ResList) {
        int row = ListRow(y);
        if (Hover != ResList || row != DdHover) {
            Hover = ResList;
            DdHover = row;
            Repaint();
        }
        SetHand(1);
        return;
    }
    if (id != Hover || DdHover != -1) {
        Hover = id;
        DdHover = -1;
        Repaint();
    }
    SetHand(id != 0);
}

static void OnMouseLeave() {
    Hover = 0;
    DdHover = -1;
    Repaint();
}

// Nothing runs on the press: the command waits for a release on the same element.
static void OnLButtonDown(HWND wnd, int x, int y) {
    Pressed = HitTest(x, y);
    if (Pressed == VolumeSlider) DragVolume(x);
    SetCapture(wnd);
    Repaint();
}

static void OnLButtonUp(int x, int y) {
    int id = HitTest(x, y);
    int prev = Pressed;
    Pressed = 0;  // before the release, so the capture change it causes ends nothing twice
    ReleaseCapture();
    if (prev == VolumeSlider) {
        EndVolumeDrag();
        return;
    }
    if (id != prev) {
        Repaint();
        return;
    }
    // With the list open, a click beside it closes it first, then still counts.
    if (DdOpen && prev != ResList && prev != ResDropdown) {
        DdOpen = 0;
        Repaint();
        if (prev == 0) return;
    }
    RunCommand(prev, y);
}

// The capture can go elsewhere without a release (another window takes it, a
// dialog opens): the press ends there, and a volume drag is saved as on a release.
static void OnCaptureChanged(HWND wnd, LPARAM lp) {
    if ((HWND)lp == wnd || Pressed == 0) return;
    int prev = Pressed;
    Pressed = 0;
    if (prev == VolumeSlider)
        EndVolumeDrag();
    else
        Repaint();
}

static void OnKeyDown(HWND wnd, WPARAM key) {
    if (key == VK_RETURN) {
        Play();
    } else if (key == VK_ESCAPE) {
        if (DdOpen) {
            DdOpen = 0;
            Repaint();
        } else {
            DestroyWindow(wnd);
        }
    }
}

static void OnTimer(WPARAM id) {
    if (id == TimerAnim) {
        if (Progress < 0) Repaint();
    } else if (id == TimerToast) {
        KillTimer(Wnd, TimerToast);
        Toast[0] = 0;
        Repaint();
    }
}

// wParam 1 is the network thread's last word; Restart means the launcher's own
// executable was replaced and the new one must take over.
static void OnNetState(WPARAM wp) {
    if (wp == 1 && Restart)
        RestartLauncher();
    else
        Repaint();
}

// Before the window moves to a monitor of another scale, Windows asks the size
// it will have there: exactly the window at that scale, not the present size
// stretched by the ratio of the two (which rounds differently).
static LRESULT OnGetDpiScaledSize(WPARAM wp, LPARAM lp) {
    int dpi = ValidDpi(LOWORD(wp));
    if (!dpi) return FALSE;
    SIZE *size = (SIZE *)lp;
    size->cx = ScaleAt(WinW, dpi);
    size->cy = ScaleAt(WinH, dpi);
    return TRUE;
}

// The window is on a monitor of another scale now (it moved, or the player
// changed the scale): fonts and art for the new scale, the size and place
// Windows suggests, and a frame drawn anew.
static void OnDpiChanged(HWND wnd, WPARAM wp, LPARAM lp) {
    int dpi = ValidDpi(LOWORD(wp));
    if (dpi && dpi != Dpi) {
        Dpi = dpi;
        LoadAssets();
        SetIcons(wnd);
    }
    const RECT *r = (const RECT *)lp;
    SetWindowPos(wnd, 0, r->left, r->top, r->right - r->left, r->bottom - r->top, SWP_NOZORDER | SWP_NOACTIVATE);
    Repaint();
}

// After this message returns, logging off may end the process at any moment;
// a swap of the launcher's executable under way finishes first.
static void OnEndSession(WPARAM ending) {
    if (ending) EndSwaps(SwapWaitMs);
}

LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_DESTROY: PostQuitMessage(0); return 0;
    case WM_PAINT: OnPaint(wnd); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_SETCURSOR: return OnSetCursor(wnd, wp, lp);
    case WM_NCHITTEST: return OnNcHitTest(wnd, lp);
    case WM_KEYDOWN: OnKeyDown(wnd, wp); return 0;
    case WM_TIMER: OnTimer(wp); return 0;
    case WM_MOUSEMOVE: OnMouseMove(wnd, X(lp), Y(lp)); return 0;
    case WM_LBUTTONDOWN: OnLButtonDown(wnd, X(lp), Y(lp)); return 0;
    case WM_LBUTTONUP: OnLButtonUp(X(lp), Y(lp)); return 0;
    case WM_MOUSELEAVE: OnMouseLeave(); return 0;
    case WM_CAPTURECHANGED: OnCaptureChanged(wnd, lp); return 0;
    case WM_NETSTATE: OnNetState(wp); return 0;
    case WM_ENDSESSION: OnEndSession(wp); return 0;
    case WM_GETDPISCALEDSIZE: return OnGetDpiScaledSize(wp, lp);
    case WM_DPICHANGED: OnDpiChanged(wnd, wp, lp); return 0;
    }
    return DefWindowProcW(wnd, msg, wp, lp);
}
