#include "support/testutil.h"

#include <shellapi.h>

#include <vector>

#include "app/options.h"
#include "app/state.h"

std::wstring FreshDir(const std::wstring &name) {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    std::wstring dir = std::wstring(tmp) + L"velmora-" + name;
    RemoveTree(dir);
    CreateDirectoryW(dir.c_str(), 0);
    return dir;
}

void RemoveTree(const std::wstring &path) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring n = fd.cFileName;
            if (n == L"." || n == L"..") continue;
            std::wstring full = path + L"\\" + n;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(full);
            else {
                SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(full.c_str());
            }
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(path.c_str());
}

bool Exists(const std::wstring &path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool WriteBytes(const std::wstring &path, const std::string &data) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD n = 0;
    BOOL ok = data.empty() || WriteFile(f, data.data(), (DWORD)data.size(), &n, 0);
    CloseHandle(f);
    return ok && n == data.size();
}

std::string ReadBytes(const std::wstring &path) {
    std::string out;
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0,
                           OPEN_EXISTING, 0, 0);
    if (f == INVALID_HANDLE_VALUE) return out;
    char buf[65536];
    DWORD n;
    while (ReadFile(f, buf, sizeof buf, &n, 0) && n) out.append(buf, n);
    CloseHandle(f);
    return out;
}

std::string Utf8(const std::wstring &w) {
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), (int)w.size(), 0, 0, 0, 0);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), (int)w.size(), &s[0], n, 0, 0);
    return s;
}

std::wstring Wide(const std::string &s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), (int)s.size(), 0, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.c_str(), (int)s.size(), &w[0], n);
    return w;
}

HANDLE Start(const std::wstring &exe, const std::wstring &cwd, int show) {
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = (WORD)show;
    PROCESS_INFORMATION pi = {};
    std::vector<wchar_t> cmd(exe.begin(), exe.end());
    cmd.insert(cmd.begin(), L'"');
    cmd.push_back(L'"');
    cmd.push_back(0);
    if (!CreateProcessW(exe.c_str(), cmd.data(), 0, 0, FALSE, 0, 0, cwd.empty() ? 0 : cwd.c_str(),
                        &si, &pi))
        return 0;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

long WaitExit(HANDLE proc, DWORD ms) {
    if (WaitForSingleObject(proc, ms) != WAIT_OBJECT_0) {
        TerminateProcess(proc, 99);
        WaitForSingleObject(proc, 5000);
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(proc, &code);
    return (long)code;
}

struct FindArgs {
    DWORD pid;
    const wchar_t *cls;
    HWND found;
};

static BOOL CALLBACK FindOne(HWND w, LPARAM lp) {
    FindArgs *a = (FindArgs *)lp;
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    wchar_t cls[128];
    GetClassNameW(w, cls, 128);
    if (pid == a->pid && lstrcmpW(cls, a->cls) == 0) {
        a->found = w;
        return FALSE;
    }
    return TRUE;
}

HWND WaitWindow(DWORD pid, const wchar_t *cls, DWORD ms) {
    FindArgs a = {pid, cls, 0};
    WaitFor([&] {
        EnumWindows(FindOne, (LPARAM)&a);
        return a.found != 0;
    }, ms);
    return a.found;
}

void InitLock() {
    static bool done;
    if (!done) InitializeCriticalSection(&Lock);
    done = true;
}

void ClearOptionsKey() { RegDeleteTreeW(HKEY_CURRENT_USER, OPTIONS_KEY); }

long long OptionDword(const wchar_t *name) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, OPTIONS_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS) return -1;
    DWORD type = 0, v = 0, size = sizeof v;
    LONG r = RegQueryValueExW(key, name, 0, &type, (BYTE *)&v, &size);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS || type != REG_DWORD || size != 4) return -1;
    return v;
}

void StartupState() {
    Online = -1;
    ServerUp = -1;
    Progress = -1;
    lstrcpyW(Status, L"Conectando ao servidor...");
    ServerName[0] = 0;
    ZeroMemory(News, sizeof News);
    NewsN = 0;
    Ready = Restart = 0;
    SwapGate = 0;
    Toast[0] = 0;
    Page = Hover = Pressed = DdOpen = 0;
    DdHover = -1;
    Icon = Tray = Music = WinMode = 1;
    Volume = 80;
    ResIdx = 2;
}
