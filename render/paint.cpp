#include "render/paint.h"

#include "app/state.h"

void OnPaint(HWND wnd) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(wnd, &ps);
    HDC bg = CreateCompatibleDC(dc);
    if (BgHome) {
        SelectObject(bg, Page ? BgOpt : BgHome);
        BitBlt(dc, 0, 0, WinW, WinH, bg, 0, 0, SRCCOPY);
    } else {
        RECT all = {0, 0, WinW, WinH};
        FillRect(dc, &all, (HBRUSH)GetStockObject(BLACK_BRUSH));
    }
    DeleteDC(bg);
    EndPaint(wnd, &ps);
}
