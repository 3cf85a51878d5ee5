// The launcher's network side against local HTTPS servers. tests/https_test.py
// runs this inside a Wine prefix of its own (CTest never runs it alone), once
// before and once after the test authority is trusted there, with the
// servers' addresses in the environment:
//   VELMORA_HTTPS_GOOD        a certificate for 127.0.0.1 from the test authority
//   VELMORA_HTTPS_UNKNOWN     the same names from an authority nobody trusts
//   VELMORA_HTTPS_WRONG_NAME  from the test authority, for another host
//   VELMORA_HTTPS_EXPIRED     from the test authority, out of date
//   VELMORA_HTTPS_PLAIN       the same site over plain HTTP
//   VELMORA_HTTPS_TRUSTED     1 once the test authority is trusted
//   VELMORA_HTTPS_SITE        the folder every one of them serves
// The good server sends "/desce/..." on to the plain one and "/fica/..." to
// itself; the plain one sends "/sobe/..." on to the good one.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/state.h"
#include "net/http.h"
#include "net/netthread.h"
#include "support/netutil.h"
#include "support/testutil.h"

namespace {

const std::wstring NoList = L"Não foi possível verificar atualizações. Você pode jogar mesmo assim.";
const std::wstring Updated = L"Jogo atualizado! Pronto para jogar.";

std::wstring Env(const wchar_t *name) {
    wchar_t v[1024];
    DWORD n = GetEnvironmentVariableW(name, v, 1024);
    return n && n < 1024 ? v : L"";
}

bool Trusted() { return Env(L"VELMORA_HTTPS_TRUSTED") == L"1"; }

// Visible top-level windows of this process other than w: a certificate
// dialog would be one.
int OtherWindows(HWND w) {
    struct Seen {
        HWND mine;
        int n;
    } seen = {w, 0};
    EnumWindows(
        [](HWND h, LPARAM p) -> BOOL {
            Seen *s = (Seen *)p;
            DWORD pid;
            GetWindowThreadProcessId(h, &pid);
            if (pid == GetCurrentProcessId() && h != s->mine && IsWindowVisible(h)) s->n++;
            return TRUE;
        },
        (LPARAM)&seen);
    return seen.n;
}

class Https : public ::testing::Test {
protected:
    std::wstring game;
    int dialogs = 0;

    void SetUp() override {
        ASSERT_FALSE(Env(L"VELMORA_HTTPS_GOOD").empty()) << "run by tests/https_test.py";
        FreshNetState();
        RecordPublished();
        ClearPublished();
        Wnd = NetWindow();
        TakeNetMessages(Wnd);
    }
    // The whole network thread against site, in a fresh game folder, watching
    // for any window it might open; returns the seconds it took.
    double Run(const std::wstring &site) {
        FreshNetState();
        game = FreshDir(L"https-game");
        lstrcpynW(Site, site.c_str(), SiteLen);
        lstrcpyW(Dir, game.c_str());
        lstrcpyW(SelfExe, (game + L"\\VelmoraLauncher.exe").c_str());
        std::atomic<bool> done{false};
        DWORD start = GetTickCount();
        std::thread net([&] {
            NetThread(0);
            done = true;
        });
        while (!done) {
            if (OtherWindows(Wnd)) dialogs++;
            Sleep(20);
        }
        net.join();
        TakeNetMessages(Wnd);
        return (GetTickCount() - start) / 1000.0;
    }
    std::string Served(const std::string &name) {
        return ReadBytes(Env(L"VELMORA_HTTPS_SITE") + L"\\update\\files\\" + Wide(name));
    }
    void ExpectFailedQuietly(double took) {
        EXPECT_EQ(ServerUp, 0) << "the feed must not be read";
        EXPECT_EQ(Online, -1);
        EXPECT_EQ(NewsN, 0);
        EXPECT_STREQ(Status, NoList.c_str());
        EXPECT_EQ(Progress, 1000);
        EXPECT_EQ(Ready, 1);
        EXPECT_FALSE(Exists(game + L"\\a.bin"));
        EXPECT_EQ(dialogs, 0) << "a window was shown";
        EXPECT_LT(took, 20.0) << "nothing may wait for a person";
    }
};

TEST_F(Https, TheSiteWithAValidCertificate) {
    double took = Run(Env(L"VELMORA_HTTPS_GOOD"));
    if (!Trusted()) {
        // Not yet trusted, its authority is as unknown as any other.
        ExpectFailedQuietly(took);
        return;
    }
    EXPECT_EQ(ServerUp, 1);
    EXPECT_EQ(Online, 42);
    EXPECT_STREQ(ServerName, L"Velmora Segura");
    EXPECT_STREQ(Status, Updated.c_str());
    EXPECT_EQ(Md5Of(ReadBytes(game + L"\\a.bin")), Md5Of(Served("a.bin")));
    EXPECT_EQ(ReadBytes(game + L"\\dados\\b c.bin"), Served("dados\\b c.bin"));
    EXPECT_GT(Served("a.bin").size(), 0u);
    EXPECT_EQ(dialogs, 0);
}

TEST_F(Https, CertificatesThatDoNotVerifyFailQuietly) {
    for (const wchar_t *which : {L"VELMORA_HTTPS_UNKNOWN", L"VELMORA_HTTPS_WRONG_NAME", L"VELMORA_HTTPS_EXPIRED"}) {
        SCOPED_TRACE(Utf8(which));
        dialogs = 0;
        ExpectFailedQuietly(Run(Env(which)));
    }
}

// The test's own premise: each certificate is refused by WinINet for the
// reason it was made for, with the flags of every launcher request. Before the
// test authority is trusted, any refusal will do.
TEST_F(Https, EachCertificateIsRefusedForItsOwnReason) {
    // Wine reports an unknown authority as a failed revocation check.
    const std::vector<DWORD> unknown = {ERROR_INTERNET_INVALID_CA, ERROR_INTERNET_SEC_CERT_REV_FAILED};
    struct Case {
        const wchar_t *which;
        std::vector<DWORD> errors;  // empty: the request goes through
    } cases[] = {{L"VELMORA_HTTPS_GOOD", {}},
                 {L"VELMORA_HTTPS_UNKNOWN", unknown},
                 {L"VELMORA_HTTPS_WRONG_NAME", {ERROR_INTERNET_SEC_CERT_CN_INVALID}},
                 {L"VELMORA_HTTPS_EXPIRED", {ERROR_INTERNET_SEC_CERT_DATE_INVALID}}};
    for (const Case &c : cases) {
        SCOPED_TRACE(Utf8(c.which));
        std::wstring host = Env(c.which).substr(8);  // "127.0.0.1:PORT"
        INTERNET_PORT port = (INTERNET_PORT)_wtoi(host.c_str() + host.find(L':') + 1);
        HINTERNET con = InternetConnectW(Net, L"127.0.0.1", port, 0, 0, INTERNET_SERVICE_HTTP, 0, 0);
        ASSERT_TRUE(con);
        HINTERNET req = HttpOpenRequestW(con, L"GET", L"/api/launcher", 0, 0, 0, ReqFlags | INTERNET_FLAG_SECURE, 0);
        ASSERT_TRUE(req);
        BOOL sent = HttpSendRequestW(req, 0, 0, 0, 0);
        DWORD error = sent ? 0 : GetLastError();
        if (!Trusted())
            EXPECT_NE(error, 0u);
        else if (c.errors.empty())
            EXPECT_EQ(error, 0u);
        else
            EXPECT_NE(std::find(c.errors.begin(), c.errors.end(), error), c.errors.end()) << "error " << error;
        InternetCloseHandle(req);
        InternetCloseHandle(con);
    }
}

TEST_F(Https, HttpGetReadsOnlyFromAVerifiedSite) {
    static char buf[8192];
    struct Case {
        const wchar_t *which;
        bool ok;
    } cases[] = {{L"VELMORA_HTTPS_GOOD", Trusted()},
                 {L"VELMORA_HTTPS_UNKNOWN", false},
                 {L"VELMORA_HTTPS_WRONG_NAME", false},
                 {L"VELMORA_HTTPS_EXPIRED", false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(Utf8(c.which));
        memset(buf, '#', sizeof buf);
        int got = HttpGet((Env(c.which) + L"/api/launcher").c_str(), buf, sizeof buf);
        if (c.ok) {
            ASSERT_GT(got, 0);
            EXPECT_EQ(std::string(buf, 9), "status=1\n");
        } else {
            EXPECT_EQ(got, -1);
            EXPECT_EQ(buf[0], '#') << "the buffer must stay untouched";
        }
    }
}

// A site reached over HTTPS must not be handed to plain HTTP, where anyone on
// the way could answer for it: the manifest names what the launcher installs.
TEST_F(Https, RedirectsMayNotLeaveHttps) {
    if (!Trusted()) GTEST_SKIP() << "needs the test authority trusted";
    static char buf[8192];
    std::wstring good = Env(L"VELMORA_HTTPS_GOOD"), plain = Env(L"VELMORA_HTTPS_PLAIN");
    EXPECT_GT(HttpGet((good + L"/fica/api/launcher").c_str(), buf, sizeof buf), 0) << "HTTPS to HTTPS";
    EXPECT_GT(HttpGet((plain + L"/sobe/api/launcher").c_str(), buf, sizeof buf), 0) << "up to HTTPS";
    memset(buf, '#', sizeof buf);
    EXPECT_EQ(HttpGet((good + L"/desce/api/launcher").c_str(), buf, sizeof buf), -1) << "down to HTTP";
    EXPECT_EQ(buf[0], '#');

    // A whole run against a site that sends everything down to HTTP.
    ExpectFailedQuietly(Run(good + L"/desce"));
    // One that sends everything up to HTTPS updates the game.
    Run(plain + L"/sobe");
    EXPECT_EQ(ServerUp, 1);
    EXPECT_STREQ(Status, Updated.c_str());
    EXPECT_EQ(ReadBytes(game + L"\\dados\\b c.bin"), Served("dados\\b c.bin"));
}

}  // namespace
