// Stands in for the game, the browser or a new launcher: records how it was
// started in "<its own path>.txt" (UTF-8), then exits with 0:
//   cwd=<current folder>
//   cmd=<whole command line>
//   pid=<process id>
//   tid=<main thread id>
//   ini=<ZorunJanela.ini of the current folder, as found, when there is one>
#include <windows.h>

#include <string>

static std::string Utf8(const std::wstring &w) {
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), (int)w.size(), 0, 0, 0, 0);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), (int)w.size(), &s[0], n, 0, 0);
    return s;
}

static std::string Slurp(const wchar_t *path) {
    std::string out;
    HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_EXISTING, 0, 0);
    if (f == INVALID_HANDLE_VALUE) return out;
    char buf[4096];
    DWORD n;
    while (ReadFile(f, buf, sizeof buf, &n, 0) && n) out.append(buf, n);
    CloseHandle(f);
    return out;
}

int wmain() {
    wchar_t self[MAX_PATH], cwd[MAX_PATH];
    GetModuleFileNameW(0, self, MAX_PATH);
    GetCurrentDirectoryW(MAX_PATH, cwd);
    std::string rec = "cwd=" + Utf8(cwd) + "\ncmd=" + Utf8(GetCommandLineW()) + "\npid=" +
                      std::to_string(GetCurrentProcessId()) + "\ntid=" + std::to_string(GetCurrentThreadId()) +
                      "\n";
    if (GetFileAttributesW(L"ZorunJanela.ini") != INVALID_FILE_ATTRIBUTES)
        rec += "ini=" + Slurp(L"ZorunJanela.ini");

    // Written under a temporary name and renamed, so a reader never sees half a record.
    std::wstring out = std::wstring(self) + L".txt", tmp = out + L".part";
    HANDLE f = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
    if (f == INVALID_HANDLE_VALUE) return 1;
    DWORD n;
    WriteFile(f, rec.data(), (DWORD)rec.size(), &n, 0);
    CloseHandle(f);
    MoveFileExW(tmp.c_str(), out.c_str(), MOVEFILE_REPLACE_EXISTING);
    return 0;
}
