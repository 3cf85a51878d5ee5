// Painting of the launcher's window: every pixel of the client area (900 x 560
// at 100 %, scaled to Dpi), drawn anew on each paint from the launcher state.
#pragma once
#include <windows.h>

// WM_PAINT: one paint cycle on the window's paint DC.
void OnPaint(HWND wnd);

// The paint cycle onto any target of the window's size: the frame is drawn into the back
// buffer and copied to target in one blit, so the window never shows a
// half-drawn frame. Without a back buffer (out of GDI objects) the frame is
// drawn straight onto target.
void PaintTo(HDC target);

// The whole frame for the current state, from the page background up, into dc
// at (0, 0). Holds Lock while it draws what the network thread publishes.
void PaintFrame(HDC dc);
