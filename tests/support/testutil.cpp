#include "support/testutil.h"

#include <shellapi.h>
#include <wincrypt.h>

#include <algorithm>
#include <vector>

#include "app/options.h"
#include "app/state.h"

std::wstring FreshDir(const std::wstring &name) {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    // The x86 and x64 builds of a test may run side by side.
    std::wstring dir = std::wstring(tmp) + (sizeof(void *) == 4 ? L"velmora32-" : L"velmora-") + name;
    RemoveTree(dir);
    CreateDirectoryW(dir.c_str(), 0);
    return dir;
}

void RemoveTree(const std::wstring &path) {
    std::wstring from = path + L'\0';  // the list ends with a second NUL
    SHFILEOPSTRUCTW op = {0, FO_DELETE, from.c_str(), 0, FOF_NO_UI, 0, 0, 0};
    SHFileOperationW(&op);
}

bool Exists(const std::wstring &path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool WriteBytes(const std::wstring &path, const std::string &data) {
    for (size_t i = 3; i < path.size(); i++)
        if (path[i] == L'\\') CreateDirectoryW(path.substr(0, i).c_str(), 0);
    // Shared: the test web server may still hold a site file open while it
    // ends the connection of the answer before.
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0,
                           CREATE_ALWAYS, 0, 0);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD n = 0;
    BOOL ok = data.empty() || WriteFile(f, data.data(), (DWORD)data.size(), &n, 0);
    CloseHandle(f);
    return ok && n == data.size();
}

std::string ReadBytes(const std::wstring &path) {
    std::string out;
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_EXISTING, 0, 0);
    if (f == INVALID_HANDLE_VALUE) return out;
    char buf[65536];
    DWORD n;
    while (ReadFile(f, buf, sizeof buf, &n, 0) && n) out.append(buf, n);
    CloseHandle(f);
    return out;
}

std::string Utf8(const std::wstring &w) {
    std::string s(w.size() * 3 + 1, '\0');
    s.resize(WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), &s[0], (int)s.size(), 0, 0));
    return s;
}

std::wstring Wide(const std::string &s) {
    std::wstring w(s.size() + 1, L'\0');
    w.resize(MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), &w[0], (int)w.size()));
    return w;
}

static std::string HashOf(const std::string &data, DWORD provider, ALG_ID alg) {
    HCRYPTPROV prov;
    HCRYPTHASH hash;
    BYTE d[32];
    DWORD len = sizeof d;
    CryptAcquireContextW(&prov, 0, 0, provider, CRYPT_VERIFYCONTEXT);
    CryptCreateHash(prov, alg, 0, 0, &hash);
    CryptHashData(hash, (const BYTE *)data.data(), (DWORD)data.size(), 0);
    CryptGetHashParam(hash, HP_HASHVAL, d, &len, 0);
    CryptDestroyHash(hash);
    CryptReleaseContext(prov, 0);
    std::string hex;
    for (DWORD i = 0; i < len; i++) hex += {"0123456789abcdef"[d[i] >> 4], "0123456789abcdef"[d[i] & 15]};
    return hex;
}

std::string Gzipped(const std::string &data) {
    unsigned crc = 0xFFFFFFFFu;
    for (unsigned char b : data) {
        crc ^= b;
        for (int k = 0; k < 8; k++) crc = crc & 1 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    crc ^= 0xFFFFFFFFu;
    auto le32 = [](unsigned v) { return std::string{(char)v, (char)(v >> 8), (char)(v >> 16), (char)(v >> 24)}; };
    std::string out("\x1f\x8b\x08\0\0\0\0\0\0\xff", 10);
    size_t at = 0;
    do {
        size_t n = std::min<size_t>(65535, data.size() - at);
        out += (char)(at + n == data.size());
        out += {(char)n, (char)(n >> 8), (char)~n, (char)(~n >> 8)};
        out.append(data, at, n);
        at += n;
    } while (at < data.size());
    return out + le32(crc) + le32((unsigned)data.size());
}

std::string Sha256Of(const std::string &data) { return HashOf(data, PROV_RSA_AES, CALG_SHA_256); }

std::string Md5Of(const std::string &data) { return HashOf(data, PROV_RSA_FULL, CALG_MD5); }

std::string Noise(size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++) {
        seed = seed * 1103515245u + 12345u;
        s[i] = (char)(seed >> 16);
    }
    return s;
}

HANDLE Start(const std::wstring &exe, const std::wstring &args, const std::wstring &cwd, int show) {
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = (WORD)show;
    PROCESS_INFORMATION pi = {};
    std::wstring cmd = L"\"" + exe + L"\"" + (args.empty() ? L"" : L" " + args);
    std::vector<wchar_t> buf(cmd.begin(), cmd.end());
    buf.push_back(0);
    if (!CreateProcessW(exe.c_str(), buf.data(), 0, 0, FALSE, 0, 0, cwd.empty() ? 0 : cwd.c_str(), &si, &pi))
        return 0;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

long WaitExit(HANDLE proc, DWORD ms) {
    DWORD code = (DWORD)-1;
    if (WaitForSingleObject(proc, ms) == WAIT_OBJECT_0) return GetExitCodeProcess(proc, &code) ? (long)code : -1;
    TerminateProcess(proc, 99);
    WaitForSingleObject(proc, 5000);
    return -1;
}

void Kill(HANDLE proc) {
    if (!proc) return;
    TerminateProcess(proc, 1);
    WaitForSingleObject(proc, 10000);
    CloseHandle(proc);
}

HANDLE HoldFile(const std::wstring &file, DWORD share, bool write) {
    static int n;
    std::wstring name = L"velmora-hold-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++n);
    HANDLE held = CreateEventW(0, TRUE, FALSE, name.c_str());
    HANDLE p = Start(TEST_PROGRAMS L"\\holder.exe", L"\"" + file + L"\" --share " + std::to_wstring(share) +
                                                        (write ? L" --write" : L"") + L" --event " + name);
    HANDLE both[2] = {held, p};
    // Either it holds the file, or it ended because it could not open it.
    DWORD w = p ? WaitForMultipleObjects(2, both, FALSE, 10000) : WAIT_FAILED;
    CloseHandle(held);
    if (w == WAIT_OBJECT_0) return p;
    Kill(p);
    return 0;
}

// The state as this process started: taken before any test runs, since the
// launcher's globals are constants until then.
namespace {
struct Field {
    void *at;
    size_t size;
};
#define FIELD(x) {(void *)&x, sizeof x}
const Field Fields[] = {FIELD(Online), FIELD(ServerUp), FIELD(Progress), FIELD(Status), FIELD(ServerName),
                        FIELD(News),   FIELD(NewsN),    FIELD(Ready),    FIELD(Restart), FIELD(Icon),
                        FIELD(Tray),   FIELD(Volume),   FIELD(Music),    FIELD(WinMode), FIELD(ResIdx),
                        FIELD(Page),   FIELD(Hover),    FIELD(Pressed),  FIELD(DdOpen),  FIELD(DdHover),
                        FIELD(Toast),  FIELD(SwapGate)};
const std::vector<std::string> AtStart = [] {
    std::vector<std::string> v;
    for (const Field &f : Fields) v.emplace_back((const char *)f.at, f.size);
    return v;
}();
}  // namespace

void ResetState() {
    static bool lock;
    if (!lock) InitializeCriticalSection(&Lock);
    lock = true;
    for (size_t i = 0; i < sizeof Fields / sizeof *Fields; i++) memcpy(Fields[i].at, AtStart[i].data(), Fields[i].size);
}

void ClearOptionsKey() { RegDeleteTreeW(HKEY_CURRENT_USER, OPTIONS_KEY); }

long long OptionDword(const wchar_t *name) {
    DWORD type = 0, v = 0, size = sizeof v;
    LONG r = RegGetValueW(HKEY_CURRENT_USER, OPTIONS_KEY, name, RRF_RT_ANY, &type, &v, &size);
    return r == ERROR_SUCCESS && type == REG_DWORD && size == 4 ? (long long)v : -1;
}
