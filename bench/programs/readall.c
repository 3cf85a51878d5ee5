/* readall DIR: opens and reads every file below DIR once, through a 64 KiB
   buffer, and prints "seconds=S", "files=N" and "bytes=B": the least a first
   start over a game folder must do (clients_bench.py). */
#include <windows.h>

#include <stdio.h>

static char Buf[65536];
static unsigned long long Files, Bytes;

static void Walk(const wchar_t *dir) {
    wchar_t pattern[MAX_PATH], path[MAX_PATH];
    WIN32_FIND_DATAW d;
    wsprintfW(pattern, L"%s\\*", dir);
    HANDLE h = FindFirstFileW(pattern, &d);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        if (!lstrcmpW(d.cFileName, L".") || !lstrcmpW(d.cFileName, L"..")) continue;
        wsprintfW(path, L"%s\\%s", dir, d.cFileName);
        if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            Walk(path);
            continue;
        }
        HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, 0);
        if (f == INVALID_HANDLE_VALUE) continue;
        DWORD n;
        while (ReadFile(f, Buf, sizeof Buf, &n, 0) && n) Bytes += n;
        CloseHandle(f);
        Files++;
    } while (FindNextFileW(h, &d));
    FindClose(h);
}

int wmain(int argc, wchar_t **argv) {
    LARGE_INTEGER f, a, b;
    if (argc != 2) return 2;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    Walk(argv[1]);
    QueryPerformanceCounter(&b);
    printf("seconds=%.6f\nfiles=%llu\nbytes=%llu\n", (double)(b.QuadPart - a.QuadPart) / f.QuadPart, Files, Bytes);
    return 0;
}
