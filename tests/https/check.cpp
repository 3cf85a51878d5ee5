// The launcher's network side against local HTTPS servers. tests/https_test.py
// runs this in a Wine prefix of its own that trusts the test authority (CTest
// never runs it alone), with the servers' addresses in the environment:
//   VELMORA_HTTPS_GOOD        a certificate for 127.0.0.1 from the test authority
//   VELMORA_HTTPS_UNKNOWN     the same names from an authority nobody trusts
//   VELMORA_HTTPS_WRONG_NAME  from the test authority, for another host
//   VELMORA_HTTPS_EXPIRED     from the test authority, out of date
//   VELMORA_HTTPS_PLAIN       the same site over plain HTTP
//   VELMORA_HTTPS_SITE        the folder every one of them serves
// The good server sends "/desce/..." on to the plain one and "/fica/..." to
// itself; the plain one sends "/sobe/..." on to the good one.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/state.h"
#include "net/http.h"
#include "net/netthread.h"
#include "support/netrun.h"

namespace {

const std::wstring NoList = L"Não foi possível verificar atualizações. Você pode jogar mesmo assim.";
const std::wstring Updated = L"Jogo atualizado! Pronto para jogar.";

std::wstring Env(const wchar_t *name) {
    wchar_t v[1024];
    DWORD n = GetEnvironmentVariableW(name, v, 1024);
    return n && n < 1024 ? v : L"";
}

class Https : public NetRun {
protected:
    void SetUp() override {
        ASSERT_FALSE(Env(L"VELMORA_HTTPS_GOOD").empty()) << "run by tests/https_test.py";
        NetRun::SetUp();
    }
    // The whole network thread against site, in a fresh game folder; the
    // seconds it took.
    double RunOn(const std::wstring &site) {
        ResetState();
        UseFolder(FreshDir(L"https-game"));
        UseSite(site);
        DWORD start = GetTickCount();
        Run();
        return (GetTickCount() - start) / 1000.0;
    }
    std::string Served(const std::string &name) {
        return ReadBytes(Env(L"VELMORA_HTTPS_SITE") + L"\\update\\files\\" + Wide(name));
    }
    void ExpectFailedQuietly(double took) {
        EXPECT_EQ(ServerUp, 0) << "the feed must not be read";
        EXPECT_EQ(Status, NoList);
        EXPECT_EQ(Ready, 1);
        EXPECT_FALSE(Exists(Game("a.bin")));
        EXPECT_LT(took, 20.0) << "nothing may wait for a person";
    }
};

TEST_F(Https, TheSiteWithAValidCertificate) {
    RunOn(Env(L"VELMORA_HTTPS_GOOD"));
    EXPECT_EQ(ServerUp, 1);
    EXPECT_EQ(Online, 42);
    EXPECT_STREQ(ServerName, L"Velmora Segura");
    EXPECT_EQ(Status, Updated);
    EXPECT_EQ(In("a.bin"), Served("a.bin"));
    EXPECT_EQ(In("dados/b c.bin"), Served("dados\\b c.bin"));
}

TEST_F(Https, CertificatesThatDoNotVerifyFailQuietly) {
    for (const wchar_t *which : {L"VELMORA_HTTPS_UNKNOWN", L"VELMORA_HTTPS_WRONG_NAME", L"VELMORA_HTTPS_EXPIRED"}) {
        SCOPED_TRACE(Utf8(which));
        ExpectFailedQuietly(RunOn(Env(which)));
    }
}

// The test's own premise: each certificate is refused by WinINet for the
// reason it was made for, with the flags of every launcher request.
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
        std::wstring url = Env(c.which);
        INTERNET_PORT port = (INTERNET_PORT)_wtoi(url.c_str() + url.rfind(L':') + 1);
        HINTERNET con = InternetConnectW(Net, L"127.0.0.1", port, 0, 0, INTERNET_SERVICE_HTTP, 0, 0);
        HINTERNET req = HttpOpenRequestW(con, L"GET", L"/api/launcher", 0, 0, 0, ReqFlags | INTERNET_FLAG_SECURE, 0);
        ASSERT_TRUE(req);
        DWORD error = HttpSendRequestW(req, 0, 0, 0, 0) ? 0 : GetLastError();
        if (c.errors.empty())
            EXPECT_EQ(error, 0u);
        else
            EXPECT_NE(std::find(c.errors.begin(), c.errors.end(), error), c.errors.end()) << "error " << error;
        InternetCloseHandle(req);
        InternetCloseHandle(con);
    }
}

// A site reached over HTTPS must not be handed to plain HTTP, where anyone on
// the way could answer for it: the manifest names what the launcher installs.
TEST_F(Https, RedirectsMayNotLeaveHttps) {
    static char buf[8192];
    std::wstring good = Env(L"VELMORA_HTTPS_GOOD"), plain = Env(L"VELMORA_HTTPS_PLAIN");
    EXPECT_GT(HttpGet((good + L"/fica/api/launcher").c_str(), buf, sizeof buf), 0) << "HTTPS to HTTPS";
    EXPECT_GT(HttpGet((plain + L"/sobe/api/launcher").c_str(), buf, sizeof buf), 0) << "up to HTTPS";
    memset(buf, '#', sizeof buf);
    EXPECT_EQ(HttpGet((good + L"/desce/api/launcher").c_str(), buf, sizeof buf), -1) << "down to HTTP";
    EXPECT_EQ(buf[0], '#');
    // A whole run against a site that sends everything down to HTTP, and one
    // that sends everything up to HTTPS.
    ExpectFailedQuietly(RunOn(good + L"/desce"));
    RunOn(plain + L"/sobe");
    EXPECT_EQ(ServerUp, 1);
    EXPECT_EQ(Status, Updated);
    EXPECT_EQ(In("dados/b c.bin"), Served("dados\\b c.bin"));
}

}  // namespace
