// Start-up helpers shared by the entry and the tests.
#pragma once
#include <windows.h>

// Fills SelfExe, Dir and Ini from the executable's full path. Returns 0, and
// leaves the three fields empty, when the folder is so long that one of the
// launcher's paths (the INI, the ".old" leftover, the game's main.exe) would
// not fit its buffer; the launcher then does not start.
int FormPaths(const wchar_t *exe);

// The window's top-left corner, centred on a screen of the given size with
// the window at Dpi; a screen smaller than the window gives a negative
// position.
POINT CentreOn(int screenW, int screenH);
