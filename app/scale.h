// The display scale. The layout is written in the pixels of the 900 x 560
// window at 100 % (96 DPI); the window, its art, its fonts and every place in
// it are the layout scaled to Dpi, the scale of the monitor the window is on.
// Everything converts through Scale, so that the edges the painter draws are
// the edges the hit test finds.
#pragma once
#include <windows.h>

// v pixels at 100 % in pixels at Dpi, rounded half up (half away from zero
// for negative v). Never decreasing in v: an edge left of another stays so.
int Scale(int v);

// The same at dpi rather than Dpi.
int ScaleAt(int v, int dpi);

// The 100 % coordinate of pixel px at Dpi: the largest v with Scale(v) <= px.
// So px lies in [Scale(a), Scale(b)) exactly when Unscale(px) lies in [a, b).
int Unscale(int px);

// The layout rectangle (l, t, r, b) at Dpi, each edge scaled.
RECT ScaleRect(int l, int t, int r, int b);

// The thickness of a one-pixel line at Dpi: 1 up to 199 %, 2 from 200 %.
int Line();

// dpi when it is a scale the launcher draws at (50 % to 500 %), else 0.
int ValidDpi(unsigned dpi);

// The system's DPI: the primary monitor's when the user logged on, and on
// Vista to 8 (where the launcher is system aware) the one scale there is. It
// costs nothing to ask, so start-up begins with it; 96 when nothing answers.
int SystemDpi();

// The DPI of the monitor a window is on (Windows 8.1 on); SystemDpi before.
int WindowDpi(HWND wnd);
