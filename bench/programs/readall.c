/* readall DIR: opens and reads every file below DIR once, through a 64 KiB
   buffer, and prints "seconds=S", "files=N" and "bytes=B": the least a first
   start over a game folder must do (clients_bench.py).
   readall DIR list: reads no file, only the listing of every folder below DIR
   with each file's size, last-write time and identity: the least a start
   that trusts what it remembers must learn. */
#include <windows.h>

#include <stdio.h>

static char Buf[65536];
static unsigned long long Files, Bytes;

/* Each folder's listing in a buffer of its own on the stack: a game's folders
   nest a few levels deep. */
static void List(const wchar_t *dir) {
    unsigned long long listing[8192];
    wchar_t path[MAX_PATH];
    HANDLE h = CreateFileW(dir, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, 0);
    FILE_INFO_BY_HANDLE_CLASS c = FileIdBothDirectoryRestartInfo;
    if (h == INVALID_HANDLE_VALUE) return;
    while (GetFileInformationByHandleEx(h, c, listing, sizeof listing)) {
        FILE_ID_BOTH_DIR_INFO *r = (FILE_ID_BOTH_DIR_INFO *)listing;
        c = FileIdBothDirectoryInfo;
        for (;; r = (FILE_ID_BOTH_DIR_INFO *)((BYTE *)r + r->NextEntryOffset)) {
            int dot = r->FileName[0] == L'.' && (r->FileNameLength == 2 || (r->FileNameLength == 4 && r->FileName[1] == L'.'));
            if (!(r->FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                Files++;
                Bytes += (unsigned long long)r->EndOfFile.QuadPart;
            } else if (!dot && r->FileNameLength / 2 + lstrlenW(dir) + 2 < MAX_PATH) {
                int n = lstrlenW(dir);
                lstrcpyW(path, dir);
                path[n] = L'\\';
                lstrcpynW(path + n + 1, r->FileName, (int)(r->FileNameLength / 2) + 1);
                List(path);
            }
            if (!r->NextEntryOffset) break;
        }
    }
    CloseHandle(h);
}

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
    if (argc != 2 && (argc != 3 || lstrcmpW(argv[2], L"list"))) return 2;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    if (argc == 3) List(argv[1]);
    else Walk(argv[1]);
    QueryPerformanceCounter(&b);
    printf("seconds=%.6f\nfiles=%llu\nbytes=%llu\n", (double)(b.QuadPart - a.QuadPart) / f.QuadPart, Files, Bytes);
    return 0;
}
