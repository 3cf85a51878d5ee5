// Stands in for a program that keeps a file busy, or for a running launcher:
//   holder                       runs, doing nothing, until killed (at most 5 min)
//   holder FILE [--share N] [--write] [--event NAME]
//       opens FILE for reading (or reading and writing) with the sharing flags N
//       (decimal, default 1 = others may only read), sets the named event NAME
//       once it holds the file, and keeps it open until killed (at most 5 min)
// Exit code 0, or 1 when FILE cannot be opened, 2 for bad arguments.
#include <windows.h>

int wmain(int argc, wchar_t **argv) {
    HANDLE f = INVALID_HANDLE_VALUE;
    if (argc > 1) {
        DWORD share = FILE_SHARE_READ, access = GENERIC_READ;
        const wchar_t *event = 0;
        for (int i = 2; i < argc; i++) {
            if (!lstrcmpW(argv[i], L"--write")) access |= GENERIC_WRITE;
            else if (!lstrcmpW(argv[i], L"--share") && i + 1 < argc) share = (DWORD)_wtoi(argv[++i]);
            else if (!lstrcmpW(argv[i], L"--event") && i + 1 < argc) event = argv[++i];
            else return 2;
        }
        f = CreateFileW(argv[1], access, share, 0, OPEN_EXISTING, 0, 0);
        if (f == INVALID_HANDLE_VALUE) return 1;
        if (event) {
            HANDLE e = OpenEventW(EVENT_MODIFY_STATE, FALSE, event);
            if (e) SetEvent(e);
        }
    }
    Sleep(300000);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    return 0;
}
