// Stands in for the game, the browser or a new launcher: records how it was
// started in "<its own path>.txt" (UTF-8), then exits with 0:
//   cwd=<current folder>
//   cmd=<whole command line>
//   pid=<process id>
//   ini=<ZorunJanela.ini of the current folder, as found, when there is one>
#include <windows.h>

#include <string>

int wmain() {
    wchar_t self[MAX_PATH], cwd[MAX_PATH];
    GetModuleFileNameW(0, self, MAX_PATH);
    GetCurrentDirectoryW(MAX_PATH, cwd);
    std::wstring text = std::wstring(L"cwd=") + cwd + L"\ncmd=" + GetCommandLineW() + L"\npid=" +
                        std::to_wstring(GetCurrentProcessId()) + L"\n";
    char rec[65536];
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, rec, sizeof rec, 0, 0) - 1;
    HANDLE ini = CreateFileW(L"ZorunJanela.ini", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_EXISTING, 0, 0);
    DWORD got = 0;
    if (ini != INVALID_HANDLE_VALUE && n > 0) {
        memcpy(rec + n, "ini=", 4);
        ReadFile(ini, rec + n + 4, sizeof rec - n - 4, &got, 0);
        n += 4 + got;
        CloseHandle(ini);
    }
    // Written under a temporary name and renamed, so a reader never sees half a record.
    std::wstring out = std::wstring(self) + L".txt", tmp = out + L".part";
    HANDLE f = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
    if (f == INVALID_HANDLE_VALUE || n < 0) return 1;
    DWORD w;
    WriteFile(f, rec, (DWORD)n, &w, 0);
    CloseHandle(f);
    MoveFileExW(tmp.c_str(), out.c_str(), MOVEFILE_REPLACE_EXISTING);
    return 0;
}
