// HttpGet against a real local web server that answers well and badly, and
// the standalone web server program the other tests and benchmarks start.
#include <gtest/gtest.h>

#include <string>

#include "net/http.h"
#include "support/netutil.h"
#include "support/testutil.h"
#include "support/webserver.h"

namespace {

class Get : public ::testing::Test {
protected:
    std::wstring site;
    WebServer server;
    char buf[8192];

    void SetUp() override {
        FreshNetState();
        site = FreshDir(L"http-site");
        ASSERT_TRUE(server.Start(site));
        memset(buf, '#', sizeof buf);
    }
    std::wstring Url(const std::string &path) { return server.Base() + Wide(path); }
    int Fetch(const std::string &path, int cap = 8192) { return HttpGet(Url(path).c_str(), buf, cap); }
    bool Untouched() {
        for (char c : buf)
            if (c != '#') return false;
        return true;
    }
};

TEST_F(Get, TheBodyOfA200WithANulBehindIt) {
    ASSERT_TRUE(WriteBytes(site + L"\\doc.txt", "status=1\r\nonline=3"));
    ASSERT_EQ(Fetch("/doc.txt"), 18);
    EXPECT_EQ(std::string(buf, 18), "status=1\r\nonline=3");
    EXPECT_EQ(buf[18], 0);
}

TEST_F(Get, AnEmptyBodyGivesZero) {
    server.On("/vazio", Answer::Empty());
    EXPECT_EQ(Fetch("/vazio"), 0);
    EXPECT_EQ(buf[0], 0);
}

TEST_F(Get, BodiesAroundTheBufferSize) {
    struct Case {
        size_t size;
        int want;
    } cases[] = {{8190, 8190}, {8191, 8191}, {8192, 8191}, {100000, 8191}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.size);
        std::string body(c.size, 'x');
        for (size_t i = 0; i < body.size(); i++) body[i] = (char)('a' + i % 26);
        server.On("/b", Answer::Body(body));
        memset(buf, '#', sizeof buf);
        ASSERT_EQ(Fetch("/b"), c.want);
        EXPECT_EQ(std::string(buf, c.want), body.substr(0, c.want));
        EXPECT_EQ(buf[c.want], 0);
    }
    // A buffer of one byte holds only the terminator.
    server.On("/b", Answer::Body("abc"));
    EXPECT_EQ(Fetch("/b", 1), 0);
    EXPECT_EQ(buf[0], 0);
}

TEST_F(Get, AnyStatusButA200FailsAndLeavesTheBufferAlone) {
    for (int code : {201, 203, 204, 206, 304, 400, 403, 404, 500, 503}) {
        SCOPED_TRACE(code);
        server.On("/s", Answer::WithStatus(code, code == 204 || code == 304 ? "" : "corpo"));
        EXPECT_EQ(Fetch("/s"), -1);
        EXPECT_TRUE(Untouched());
    }
    EXPECT_EQ(Fetch("/nao-existe.txt"), -1);
    EXPECT_TRUE(Untouched());
}

TEST_F(Get, RedirectsAreFollowedToTheFinalStatus) {
    server.On("/velho", Answer::RedirectTo("/novo"));
    server.On("/novo", Answer::Body("chegou"));
    EXPECT_EQ(Fetch("/velho"), 6);
    EXPECT_STREQ(buf, "chegou");
    server.On("/perm", Answer::RedirectTo(Utf8(server.Base()) + "/novo", 301));
    EXPECT_EQ(Fetch("/perm"), 6);
    server.On("/para-404", Answer::RedirectTo("/sumiu"));
    EXPECT_EQ(Fetch("/para-404"), -1);
    std::vector<std::string> paths = server.Paths();
    EXPECT_NE(std::find(paths.begin(), paths.end(), "/sumiu"), paths.end());
}

TEST_F(Get, ARedirectLoopEnds) {
    server.On("/a", Answer::RedirectTo("/b"));
    server.On("/b", Answer::RedirectTo("/a"));
    EXPECT_EQ(Fetch("/a"), -1);
    EXPECT_TRUE(Untouched());
}

TEST_F(Get, ADroppedConnectionKeepsWhatArrived) {
    std::string body(5000, 'z');
    server.On("/cut", Answer::CutAt(1234).With(body));
    EXPECT_EQ(Fetch("/cut"), 1234);
    EXPECT_EQ(buf[1234], 0);
    // A reset may lose bytes in flight, but never makes up any.
    server.On("/reset", Answer::CutAt(1234, true).With(body));
    int got = Fetch("/reset");
    EXPECT_GE(got, 0);
    EXPECT_LE(got, 1234);
    EXPECT_EQ(std::string(buf, got), body.substr(0, got));
}

TEST_F(Get, ATrickleArrivesWhole) {
    std::string body = "status=1\nonline=42\nservidor=Devagar\n";
    server.On("/lento", Answer::Trickle(3, 20).With(body));
    ASSERT_EQ(Fetch("/lento"), (int)body.size());
    EXPECT_EQ(std::string(buf), body);
}

// The site gets nothing of the player's: no cookie (neither one it set nor one
// of the user's shared store) and no answer to a login challenge.
TEST_F(Get, TheRequestIsAPlainGetWithTheLaunchersAgent) {
    InternetSetCookieW(Url("/").c_str(), L"loja", L"do-navegador; expires=Sat, 01-Jan-2050 00:00:00 GMT");
    server.On("/x?y=1", Answer::Body("x").WithHeaders("Set-Cookie: sessao=1; Path=/\r\n"));
    server.On("/login", Answer::WithStatus(401, "entre").WithHeaders(
                            "WWW-Authenticate: Basic realm=\"jogo\"\r\nWWW-Authenticate: NTLM\r\n"));
    ASSERT_EQ(Fetch("/x?y=1"), 1);
    ASSERT_EQ(Fetch("/x?y=1"), 1);
    EXPECT_EQ(Fetch("/login"), -1);
    std::vector<std::string> heads = server.Heads();
    ASSERT_EQ(heads.size(), 3u) << "a login challenge was answered";
    EXPECT_EQ(heads[0].substr(0, 13), "GET /x?y=1 HT");
    for (const std::string &h : heads) {
        EXPECT_NE(h.find("User-Agent: Zorun Classic Launcher\r\n"), std::string::npos) << h;
        EXPECT_EQ(h.find("Cookie:"), std::string::npos) << h;
        EXPECT_EQ(h.find("Authorization:"), std::string::npos) << h;
    }
}

TEST_F(Get, NoServerOrNoUrlFails) {
    int port = server.Port();
    server.Stop();
    std::wstring url = L"http://127.0.0.1:" + std::to_wstring(port) + L"/x";
    EXPECT_EQ(HttpGet(url.c_str(), buf, 8192), -1);
    for (const wchar_t *bad : {L"", L"nada", L"ftp://127.0.0.1/x", L"http://", L"file:///C:/x"}) {
        SCOPED_TRACE(Utf8(bad));
        EXPECT_EQ(HttpGet(bad, buf, 8192), -1);
    }
    EXPECT_TRUE(Untouched());
}

// ---- The standalone server ---------------------------------------------------

TEST(WebServerProgram, ServesAFolderLogsAndMisbehavesOnRequest) {
    FreshNetState();
    std::wstring root = FreshDir(L"webserver-program");
    ASSERT_TRUE(WriteBytes(root + L"\\a b.txt", "conteúdo"));
    std::wstring portFile = root + L"\\port.txt", log = root + L"\\log.txt";
    HANDLE p = StartWith(TEST_PROGRAMS L"\\webserver.exe",
                         L"\"" + root + L"\" --port-file \"" + portFile + L"\" --log \"" + log +
                             L"\" --seconds 60 --answer /falha=status:503 --answer /mudou=redirect:/a%20b.txt");
    ASSERT_TRUE(p);
    // Wine may still hold the file for a moment after the program renamed it
    // into place: read until the number is there.
    int port = 0;
    ASSERT_TRUE(WaitFor([&] { return (port = atoi(ReadBytes(portFile).c_str())) > 0; }, 10000));
    std::wstring base = L"http://127.0.0.1:" + std::to_wstring(port);
    char buf[256];
    EXPECT_EQ(HttpGet((base + L"/a%20b.txt").c_str(), buf, sizeof buf), 9);
    EXPECT_STREQ(buf, "conteúdo");
    EXPECT_EQ(HttpGet((base + L"/mudou").c_str(), buf, sizeof buf), 9);
    EXPECT_EQ(HttpGet((base + L"/falha").c_str(), buf, sizeof buf), -1);
    EXPECT_EQ(HttpGet((base + L"/../port.txt").c_str(), buf, sizeof buf), -1);
    EXPECT_TRUE(WaitFor([&] { return ReadBytes(log).find("/falha\n") != std::string::npos; }, 5000));
    EXPECT_EQ(ReadBytes(log).substr(0, 11), "/a%20b.txt\n");
    Kill(p);
}

}  // namespace
