#include "app/play.h"

#include "app/options.h"
#include "app/state.h"

#define GAME_EXE L"main.exe"

void DirAsFolder(wchar_t *out) {
    lstrcpynW(out, Dir, PathLen);
    int n = lstrlenW(out);
    if (n > 0 && out[n - 1] == L':') lstrcpynW(out + n, L"\\", 2);
}

int StartInDir(const wchar_t *exe) {
    wchar_t cwd[PathLen + 1];
    DirAsFolder(cwd);

    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe, 0, 0, 0, FALSE, 0, 0, cwd, &si, &pi)) return 0;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return 1;
}

void Play() {
    if (!Ready) return;
    SaveOptions();

    // A folder too long for "\main.exe" cannot hold a game we could start.
    wchar_t game[PathLen];
    int started = 0;
    if (lstrlenW(Dir) + 1 + lstrlenW(GAME_EXE) < PathLen) {
        wsprintfW(game, L"%s\\%s", Dir, GAME_EXE);
        started = StartInDir(game);
    }
    if (started) {
        DestroyWindow(Wnd);
        return;
    }
    MessageBoxW(Wnd, L"Não encontrei o main.exe. O launcher precisa ficar na pasta do jogo.", APP_TITLE,
                MB_ICONERROR);
}
