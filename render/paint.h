// Painting of the launcher's window.
#pragma once
#include <windows.h>

// WM_PAINT: draws the whole frame and copies it to the window.
void OnPaint(HWND wnd);
