#include "app/startup.h"

#include "app/scale.h"
#include "app/state.h"

// The longest name the launcher appends to Dir is "\ZorunJanela.ini" (16); to
// SelfExe it is ".old" (4). Both must leave room for the terminator.
int FormPaths(const wchar_t *exe) {
    SelfExe[0] = Dir[0] = Ini[0] = 0;
    int n = lstrlenW(exe);
    int cut = n;
    while (cut > 0 && exe[cut - 1] != L'\\') cut--;
    int dirLen = cut > 0 ? cut - 1 : n;  // a path without a backslash is left whole
    if (n + 4 >= PathLen || dirLen + 1 + lstrlenW(INI_NAME) >= PathLen) return 0;
    lstrcpynW(SelfExe, exe, PathLen);
    lstrcpynW(Dir, exe, dirLen + 1);
    wsprintfW(Ini, L"%s\\%s", Dir, INI_NAME);
    return 1;
}

POINT CentreOn(int screenW, int screenH) {
    POINT p = {(screenW - Scale(WinW)) / 2, (screenH - Scale(WinH)) / 2};
    return p;
}
