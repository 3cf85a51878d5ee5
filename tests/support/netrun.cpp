#include "support/netrun.h"

#include <algorithm>

#include "app/state.h"
#include "net/http.h"
#include "net/netthread.h"
#include "net/retry.h"
#include "update/lanes.h"

static Publications Seen;
static std::vector<DWORD> Waited;
static CRITICAL_SECTION Waits;

// Lanes wait between their tries each on their own.
static void WINAPI RecordWait(DWORD ms) {
    EnterCriticalSection(&Waits);
    Waited.push_back(ms);
    LeaveCriticalSection(&Waits);
}

void NetRun::SetUp() {
    ResetState();
    static bool made;
    if (!made) InitializeCriticalSection(&Waits);
    made = true;
    // One file at a time, every change told: the order of what the player
    // reads is the run's. Tests of parallel runs set their own.
    Lanes = 1;
    PublishMs = 0;
    HashLanes = 1;
    if (!Net) OpenNet();
    PublishHook = [](const wchar_t *status, int progress) { Seen.emplace_back(status, progress); };
    Pause = RecordWait;
    std::wstring test = Wide(::testing::UnitTest::GetInstance()->current_test_info()->name());
    site = FreshDir(L"site-" + test);
    ASSERT_TRUE(server.Start(site));
    UseSite(server.Base());
    UseFolder(FreshDir(L"game-" + test));
    // A window of this thread for the messages to land on.
    static HWND w;
    if (!IsWindow(w)) w = CreateWindowW(L"STATIC", L"net", 0, 0, 0, 10, 10, 0, 0, 0, 0);
    Wnd = w;
}

void NetRun::UseFolder(const std::wstring &dir) {
    game = dir;
    lstrcpynW(Dir, dir.c_str(), PathLen);
    lstrcpynW(SelfExe, (dir + L"\\VelmoraLauncher.exe").c_str(), PathLen);
}

void NetRun::UseSite(const std::wstring &base) { lstrcpynW(Site, base.c_str(), SiteLen); }

void NetRun::List(const std::string &name, const std::string &content, long long size) {
    std::wstring path = site + L"\\update\\files\\" + Wide(name);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    ASSERT_TRUE(WriteBytes(path, content));
    manifest += name + "|" + Md5Of(content) + "|" + std::to_string(size < 0 ? (long long)content.size() : size) + "\n";
}

void NetRun::Have(const std::string &name, const std::string &content) { ASSERT_TRUE(WriteBytes(Game(name), content)); }

std::wstring NetRun::Game(const std::string &name) {
    std::wstring w = game + L"\\" + Wide(name);
    std::replace(w.begin(), w.end(), L'/', L'\\');
    return w;
}

std::string NetRun::In(const std::string &name) { return ReadBytes(Game(name)); }

Publications NetRun::Run() {
    if (!manifest.empty()) WriteBytes(site + L"\\update\\lista.txt", manifest);
    Seen.clear();
    Waited.clear();
    NetThread(0);
    waits = Waited;
    msgs.clear();
    for (MSG m; PeekMessageW(&m, Wnd, WM_NETSTATE, WM_NETSTATE, PM_REMOVE);) msgs.push_back(m.wParam);
    return Seen;
}

std::vector<std::string> NetRun::FileRequests() {
    std::vector<std::string> out;
    for (const std::string &p : server.Paths())
        if (!p.compare(0, 14, "/update/files/")) out.push_back(p.substr(14));
    return out;
}

Publications Texts(const Publications &pubs) {
    Publications out;
    for (const auto &p : pubs)
        if (out.empty() || out.back().first != p.first) out.push_back(p);
    return out;
}
