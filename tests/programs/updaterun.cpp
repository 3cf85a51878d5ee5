// One update run of the launcher, for the Linux-side tests of whole clients:
//   updaterun DIR SITE
// brings the game folder DIR up to date from the site at the address SITE as
// the network thread does (no feed), and prints "status=TEXT" (the run's last
// text, UTF-8) and "hashed=N" (the files of DIR it read to hash them; the
// checks of its own downloads left out). Exit 0; 2 on bad usage.
#include <windows.h>

#include <stdio.h>
#include <wchar.h>

#include "app/state.h"
#include "net/http.h"
#include "update/md5.h"
#include "update/update.h"

static volatile LONG Hashed;

static void Count(const wchar_t *path) {
    size_t n = wcslen(path);
    if (n < 5 || wcscmp(path + n - 5, L".novo")) InterlockedIncrement(&Hashed);
}

int wmain(int argc, wchar_t **argv) {
    if (argc != 3) return 2;
    InitializeCriticalSection(&Lock);
    lstrcpynW(Dir, argv[1], PathLen);
    lstrcpynW(Site, argv[2], SiteLen);
    wsprintfW(SelfExe, L"%s\\VelmoraLauncher.exe", Dir);
    Md5Hook = Count;
    OpenNet();
    UpdateFiles();
    char status[StatusLen * 3];
    WideCharToMultiByte(CP_UTF8, 0, Status, -1, status, sizeof status, 0, 0);
    printf("status=%s\nhashed=%ld\n", status, Hashed);
    return 0;
}
