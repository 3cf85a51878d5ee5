#include "support/netutil.h"

#include <wincrypt.h>

#include "app/state.h"
#include "net/http.h"
#include "net/netthread.h"
#include "net/retry.h"
#include "support/testutil.h"

static Publications Seen;
static std::vector<DWORD> Waited;

static void WINAPI RecordWait(DWORD ms) { Waited.push_back(ms); }
std::vector<DWORD> Waits() { return Waited; }

static void Record(const wchar_t *status, int progress) { Seen.emplace_back(status, progress); }

void FreshNetState() {
    static bool once;
    InitLock();
    if (!once) {
        OpenNet();
        once = true;
    }
    StartupState();
    Pause = RecordWait;
    Waited.clear();
}

void RecordPublished() { PublishHook = Record; }
void ClearPublished() { Seen.clear(); }
Publications Published() { return Seen; }

HWND NetWindow() {
    static HWND w;
    if (!w || !IsWindow(w)) w = CreateWindowW(L"STATIC", L"net", 0, 0, 0, 10, 10, 0, 0, 0, 0);
    return w;
}

std::vector<WPARAM> TakeNetMessages(HWND w, int *others) {
    std::vector<WPARAM> got;
    int other = 0;
    MSG m;
    while (PeekMessageW(&m, w, 0, 0, PM_REMOVE)) {
        if (m.message == WM_NETSTATE)
            got.push_back(m.wParam);
        else
            other++;
    }
    if (others) *others = other;
    return got;
}

std::string Md5Of(const std::string &data) {
    HCRYPTPROV prov;
    HCRYPTHASH hash;
    BYTE d[16];
    DWORD len = 16;
    CryptAcquireContextW(&prov, 0, 0, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT);
    CryptCreateHash(prov, CALG_MD5, 0, 0, &hash);
    CryptHashData(hash, (const BYTE *)data.data(), (DWORD)data.size(), 0);
    CryptGetHashParam(hash, HP_HASHVAL, d, &len, 0);
    CryptDestroyHash(hash);
    CryptReleaseContext(prov, 0);
    std::string hex;
    char two[3];
    for (BYTE b : d) {
        wsprintfA(two, "%02x", b);
        hex += two;
    }
    return hex;
}

HANDLE StartWith(const std::wstring &exe, const std::wstring &args) {
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::wstring cmd = L"\"" + exe + L"\" " + args;
    std::vector<wchar_t> buf(cmd.begin(), cmd.end());
    buf.push_back(0);
    if (!CreateProcessW(exe.c_str(), buf.data(), 0, 0, FALSE, 0, 0, 0, &si, &pi)) return 0;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

HANDLE HoldFile(const std::wstring &file, DWORD share, bool write) {
    static int n;
    std::wstring name = L"velmora-hold-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(++n);
    HANDLE held = CreateEventW(0, TRUE, FALSE, name.c_str());
    std::wstring args = L"\"" + file + L"\" --share " + std::to_wstring(share) +
                        (write ? L" --write" : L"") + L" --event " + name;
    HANDLE p = StartWith(TEST_PROGRAMS L"\\holder.exe", args);
    HANDLE both[2] = {held, p};
    // Either it holds the file, or it ended because it could not open it.
    DWORD w = p ? WaitForMultipleObjects(2, both, FALSE, 10000) : WAIT_FAILED;
    CloseHandle(held);
    if (w != WAIT_OBJECT_0) {
        if (p) Kill(p);
        return 0;
    }
    return p;
}

void Kill(HANDLE proc) {
    if (!proc) return;
    TerminateProcess(proc, 1);
    WaitForSingleObject(proc, 10000);
    CloseHandle(proc);
}

void MakeParents(const std::wstring &path) {
    for (size_t i = 3; i < path.size(); i++)
        if (path[i] == L'\\') CreateDirectoryW(path.substr(0, i).c_str(), 0);
}
