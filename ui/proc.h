// The window procedure of the launcher's one window.
#pragma once
#include <windows.h>

LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);

// Invalidates the whole client area without erasing: the next paint redraws all.
void Repaint();
