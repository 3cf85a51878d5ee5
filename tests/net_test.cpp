// The site's documents on their way in: the status feed line by line, HttpGet
// against the tests' web server answering well and badly, the feed through the
// network thread, sites that keep the launcher waiting (with a receive
// time-out the test shortens), and HTTPS.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include "app/state.h"
#include "net/feed.h"
#include "net/http.h"
#include "net/netthread.h"
#include "support/netrun.h"

namespace {

const std::string Bom = "\xEF\xBB\xBF";

// ---- The feed's lines ------------------------------------------------------------

Feed Parse(std::string text, int online = 33, const wchar_t *name = L"antes") {
    static Feed f;
    f = Feed();
    f.up = 99;
    f.newsN = 3;
    f.online = online;
    lstrcpyW(f.name, name);
    ParseFeed(&text[0], &f);
    return f;
}

TEST(FeedParse, TheFourKeysAndNewsSplitAtTheFirstBar) {
    Feed f = Parse("status=1\nonline=57\nservidor=Velmora Clássico\nnoticia=Evento|Sábado às 20h\n"
                   "noticia=Tudo título\nnoticia=|só corpo\nnoticia=T|b|c||\nnoticia=5|e");
    EXPECT_EQ(f.up, 1);
    EXPECT_EQ(f.online, 57);
    EXPECT_STREQ(f.name, L"Velmora Clássico");
    ASSERT_EQ(f.newsN, 4) << "the first four";
    const wchar_t *want[4][2] = {{L"Evento", L"Sábado às 20h"}, {L"Tudo título", L""}, {L"", L"só corpo"},
                                 {L"T", L"b|c||"}};
    for (int k = 0; k < 4; k++) {
        EXPECT_STREQ(f.news[k].title, want[k][0]);
        EXPECT_STREQ(f.news[k].body, want[k][1]);
    }
}

// A feed saved on Windows: the CR before each line feed ends the line; it must
// not cost a unit of the value's field (63 and 127 units still fit).
TEST(FeedParse, CrLfLinesReadLikeLfLines) {
    Feed f = Parse("status=1\r\nonline=12\r\nservidor=" + std::string(63, 'n') + "\r\nnoticia=" +
                   std::string(127, 't') + "|B\r\nnoticia=Sem barra\r\nnoticia=Dois\r\r\nnoticia=Fim\r");
    EXPECT_EQ(f.up, 1);
    EXPECT_EQ(f.online, 12);
    EXPECT_EQ(std::wstring(f.name), std::wstring(63, L'n'));
    ASSERT_EQ(f.newsN, 4);
    EXPECT_EQ(std::wstring(f.news[0].title), std::wstring(127, L't'));
    EXPECT_STREQ(f.news[0].body, L"B");
    EXPECT_STREQ(f.news[1].title, L"Sem barra");
    EXPECT_STREQ(f.news[2].title, L"Dois\r");  // only the one right before the line feed
    EXPECT_STREQ(f.news[3].title, L"Fim\r");   // no line feed, no line end
}

// Which lines are keys: only at the line's start, in lower case; the last
// value wins; a key missing keeps its value; a byte-order mark counts only at
// the very start of the document.
TEST(FeedParse, WhatCountsAsAKeyLine) {
    struct Case {
        std::string text;
        int up, online;
        const wchar_t *name;
        int newsN;
    } cases[] = {
        {"", 0, 33, L"antes", 0},
        {"status=1\nstatus=0\nservidor=A\nservidor=B", 0, 33, L"B", 0},
        {" status=1\nStatus=1\nSTATUS=1\n online=5\nOnline=5\n servidor=X\nServidor=X\n noticia=a|b\nNoticia=a|b\n"
         "status =1\n", 0, 33, L"antes", 0},
        {"\n\n# comentário\nversao=2\nstatus=3\n\nonline=4\nnoticia=x|y\n\n\n", 3, 4, L"antes", 1},
        {"status=8", 8, 33, L"antes", 0},
        {Bom + "status=1\r\nonline=9\r\n", 1, 9, L"antes", 0},
        {Bom + "servidor=Velmora", 0, 33, L"Velmora", 0},
        {Bom, 0, 33, L"antes", 0},
        {"online=3\n" + Bom + "status=1\n", 0, 3, L"antes", 0},
        {Bom + Bom + "status=1", 0, 33, L"antes", 0},
        {"servidor=" + Bom + "X", 0, 33, L"\xFEFFX", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        Feed f = Parse(c.text);
        EXPECT_EQ(f.up, c.up);
        EXPECT_EQ(f.online, c.online);
        EXPECT_STREQ(f.name, c.name);
        EXPECT_EQ(f.newsN, c.newsN);
    }
}

TEST(FeedParse, NumbersReadLikeAtoiAndSaturate) {
    struct Case {
        const char *value;
        int want;
    } cases[] = {{"42", 42}, {"  42xyz", 42}, {"\t\v\f7", 7}, {"+5", 5}, {"-7", -7}, {"", 0}, {"abc", 0},
                 {"- 3", 0}, {"2147483647", INT_MAX}, {"2147483648", INT_MAX},
                 {"99999999999999999999999999", INT_MAX}, {"-2147483648", INT_MIN}, {"-2147483649", INT_MIN},
                 {"-99999999999999999999999999", INT_MIN}, {"0000000000000000000000000012", 12}, {"12\r", 12}};
    for (const Case &c : cases) {
        Feed f = Parse(std::string("status=") + c.value + "\nonline=" + c.value + "\n");
        EXPECT_EQ(f.up, c.want) << c.value;
        EXPECT_EQ(f.online, c.want) << c.value;
    }
}

// Fields hold N - 1 UTF-16 units; a value one unit longer is stored empty.
TEST(FeedParse, TextsThatJustFitAndJustDoNot) {
    for (std::string unit : {"a", "ç", "\xE2\x82\xAC", "\xF0\x9F\x8E\xAE"}) {
        SCOPED_TRACE(unit);
        int per = unit.size() == 4 ? 2 : 1;  // UTF-16 units of one repetition
        auto text = [&](int units) {
            std::string s;
            for (int i = 0; i < units / per; i++) s += unit;
            return s + std::string(units % per, 'x');
        };
        Feed fit = Parse("servidor=" + text(63) + "\nnoticia=" + text(127) + "|" + text(127));
        EXPECT_EQ(lstrlenW(fit.name), 63);
        EXPECT_EQ(lstrlenW(fit.news[0].title), 127);
        EXPECT_EQ(lstrlenW(fit.news[0].body), 127);
        Feed over = Parse("servidor=" + text(64) + "\nnoticia=" + text(128) + "|" + text(128) + "\nnoticia=ok|" +
                          text(128) + "\nnoticia=" + text(128) + "|ok");
        EXPECT_STREQ(over.name, L"");
        ASSERT_EQ(over.newsN, 3);
        const wchar_t *want[3][2] = {{L"", L""}, {L"ok", L""}, {L"", L"ok"}};
        for (int k = 0; k < 3; k++) {
            EXPECT_STREQ(over.news[k].title, want[k][0]);
            EXPECT_STREQ(over.news[k].body, want[k][1]);
        }
    }
}

// ---- HttpGet -----------------------------------------------------------------------

class Get : public NetRun {
protected:
    char buf[8192];
    void SetUp() override {
        NetRun::SetUp();
        memset(buf, '#', sizeof buf);
    }
    int Fetch(const std::string &path, int cap = 8192) {
        return HttpGet((server.Base() + Wide(path)).c_str(), buf, cap);
    }
    bool Untouched() { return std::string(buf, sizeof buf) == std::string(sizeof buf, '#'); }
};

TEST_F(Get, TheBodyOfA200UpToTheBufferWithANulBehindIt) {
    for (size_t size : {0, 8190, 8191, 8192, 100000}) {
        std::string body(size, 'x');
        for (size_t i = 0; i < size; i++) body[i] = (char)('a' + i % 26);
        server.On("/b", Rule::Body(body));
        int want = size < 8191 ? (int)size : 8191;
        ASSERT_EQ(Fetch("/b"), want) << size;
        EXPECT_EQ(std::string(buf, want + 1), body.substr(0, want) + '\0') << size;
    }
    // A buffer of one byte holds only the terminator.
    EXPECT_EQ(Fetch("/b", 1), 0);
    EXPECT_EQ(buf[0], 0);
}

TEST_F(Get, AnyOtherStatusOrNoAnswerFailsAndLeavesTheBufferAlone) {
    for (int code : {201, 203, 204, 206, 304, 400, 403, 404, 500, 503}) {
        server.On("/s", Rule::Status(code, code == 204 || code == 304 ? "" : "corpo"));
        EXPECT_EQ(Fetch("/s"), -1) << code;
    }
    EXPECT_EQ(Fetch("/nao-existe.txt"), -1);
    server.Forget();
    server.On("/a", Rule::RedirectTo("/b"));
    server.On("/b", Rule::RedirectTo("/a"));
    EXPECT_EQ(Fetch("/a"), -1) << "a redirect loop";
    EXPECT_EQ(server.Paths().size(), RedirectMax + 1u) << "the loop is followed RedirectMax times";
    for (const wchar_t *bad : {L"", L"nada", L"ftp://127.0.0.1/x", L"http://", L"file:///C:/x"})
        EXPECT_EQ(HttpGet(bad, buf, 8192), -1) << Utf8(bad);
    EXPECT_EQ(HttpGet((RefusedBase() + L"/x").c_str(), buf, 8192), -1) << "no server";
    EXPECT_TRUE(Untouched());
}

TEST_F(Get, RedirectsAreFollowedToTheFinalStatus) {
    server.On("/velho", Rule::RedirectTo("/meio"));
    server.On("/meio", Rule::RedirectTo(Utf8(server.Base()) + "/novo", 301));
    server.On("/novo", Rule::Body("chegou"));
    EXPECT_EQ(Fetch("/velho"), 6);
    EXPECT_STREQ(buf, "chegou");
    server.On("/para-404", Rule::RedirectTo("/sumiu"));
    EXPECT_EQ(Fetch("/para-404"), -1);
    EXPECT_EQ(server.Paths(), (std::vector<std::string>{"/velho", "/meio", "/novo", "/para-404", "/sumiu"}));
}

// A body that ends before its announced length, on both tries, is no
// document: its first lines would pass for the whole of it. (A body longer
// than the buffer is only read up to there: above.)
TEST_F(Get, ABodyCutTwiceFailsAndATrickleArrivesWhole) {
    std::string body(5000, 'z');
    for (bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "closed");
        server.Forget();
        server.On("/cut", Rule::CutAt(1234, reset).With(body));
        EXPECT_EQ(Fetch("/cut"), -1);
        EXPECT_EQ(server.Paths().size(), 2u);
    }
    body = "status=1\nonline=42\nservidor=Devagar\n";
    server.On("/lento", Rule::Trickle(3, 20).With(body));
    ASSERT_EQ(Fetch("/lento"), (int)body.size());
    EXPECT_EQ(std::string(buf), body);
}

// The site gets nothing of the player's: no cookie (neither one it set nor one
// of the user's shared store) and no answer to a login challenge.
TEST_F(Get, TheRequestIsAPlainGetWithTheLaunchersAgent) {
    InternetSetCookieW((server.Base() + L"/").c_str(), L"loja", L"do-navegador; expires=Sat, 01-Jan-2050 00:00:00 GMT");
    server.On("/x?y=1", Rule::Body("x").Header("Set-Cookie: sessao=1; Path=/"));
    server.On("/login", Rule::Status(401, "entre").Header("WWW-Authenticate: Basic realm=\"jogo\"").Header(
                            "WWW-Authenticate: NTLM"));
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

// ---- The feed through the network thread --------------------------------------------

class FeedFetch : public NetRun {
protected:
    void SetUp() override {
        NetRun::SetUp();
        server.On("/update/lista.txt", Rule::Status(404));  // every run ends with the same text
    }
    void ExpectUpdateRan() {
        EXPECT_EQ(server.Paths().back(), "/update/lista.txt");
        EXPECT_EQ(Ready, 1);
        EXPECT_EQ(Progress, 1000);
        EXPECT_EQ(Status, NoList) << "the Internet handle exists";
    }
};

TEST_F(FeedFetch, AFeedIsPublishedThenTheUpdateRuns) {
    server.On("/api/launcher", Rule::RedirectTo("/outro/feed"));
    server.On("/outro/feed", Rule::Body("status=1\nonline=57\nservidor=Velmora\nnoticia=Oi|Tchau\n"));
    Run();
    EXPECT_EQ(ServerUp, 1);
    EXPECT_EQ(Online, 57);
    EXPECT_STREQ(ServerName, L"Velmora");
    ASSERT_EQ(NewsN, 1);
    EXPECT_STREQ(News[0].title, L"Oi");
    EXPECT_STREQ(News[0].body, L"Tchau");
    EXPECT_EQ(server.Paths()[0], "/api/launcher");
    ExpectUpdateRan();
    // The feed's message, the run's two texts, then the last one.
    EXPECT_EQ(msgs, (std::vector<WPARAM>{0, 0, 0, 1}));
}

TEST_F(FeedFetch, AFeedThatCannotBeReadLeavesTheServerDownAndTheRestUnknown) {
    DWORD keep = ReceiveMs;
    ReceiveMs = 1000;
    struct {
        const char *what;
        Rule rule;
    } cases[] = {{"404", Rule::Status(404, "status=1\nonline=5\n")}, {"empty", Rule::Body("")},
                 {"redirect loop", Rule::RedirectTo("/api/launcher")}, {"silent", Rule::Silent()}};
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        ResetState();
        server.On("/api/launcher", c.rule);
        Run();
        EXPECT_EQ(ServerUp, 0);
        EXPECT_EQ(Online, -1);
        EXPECT_STREQ(ServerName, L"");
        EXPECT_EQ(NewsN, 0);
        ExpectUpdateRan();
    }
    ReceiveMs = keep;
    ResetState();
    UseSite(RefusedBase());
    Run();
    EXPECT_EQ(ServerUp, 0);
    EXPECT_EQ(Status, NoList) << "no server at all";
    EXPECT_EQ(Ready, 1);
}

TEST_F(FeedFetch, AFeedOver8191BytesIsReadUpToThere) {
    std::string feed = "status=1\n";
    while (feed.size() < 8170) feed += "# preenchimento para passar do limite\n";
    feed.resize(8170, '#');
    feed += "\nnoticia=Cortada|";
    size_t bodyStart = feed.size();  // the body crosses byte 8191: only its start arrives
    feed += std::string(100, 'b') + "\nonline=77\n";
    server.On("/api/launcher", Rule::Body(feed));
    Run();
    EXPECT_EQ(ServerUp, 1);
    EXPECT_EQ(Online, -1) << "its line lies past the cut";
    ASSERT_EQ(NewsN, 1);
    EXPECT_STREQ(News[0].title, L"Cortada");
    EXPECT_EQ(lstrlenW(News[0].body), (int)(8191 - bodyStart));
}

// ---- Sites that keep the launcher waiting -------------------------------------------

class SlowSite : public NetRun {
protected:
    DWORD keep = ReceiveMs, took = 0;
    void SetUp() override {
        NetRun::SetUp();
        ReceiveMs = 1000;
        server.On("/api/launcher", Rule::Body("status=1\n"));
    }
    void TearDown() override { ReceiveMs = keep; }
    void Timed() {
        DWORD start = GetTickCount();
        Run();
        took = GetTickCount() - start;
    }
};

TEST_F(SlowSite, ASilentManifestOrFileEndsTheRunAfterTheTimeOut) {
    server.On("/update/lista.txt", Rule::Silent());
    Timed();
    EXPECT_GE(took, ReceiveMs - 100) << "the site was not silent";
    EXPECT_LT(took, ReceiveMs + 9000);
    EXPECT_EQ(Status, NoList);
    EXPECT_EQ(Ready, 1);

    server.Forget();
    List("a.bin", "novo a");
    List("b.bin", "novo b");
    List("c.bin", "novo c");
    Have("b.bin", "velho b");
    server.On("/update/files/b.bin", Rule::Silent());
    Timed();
    // A file gets four tries, each waited out.
    EXPECT_GE(took, 4 * ReceiveMs - 100) << "the site was not silent";
    EXPECT_LT(took, 4 * ReceiveMs + 9000);
    EXPECT_EQ(waits.size(), 3u);
    EXPECT_EQ(Status, NoFile);
    EXPECT_EQ(In("a.bin"), "novo a");
    EXPECT_EQ(In("b.bin"), "velho b");
    EXPECT_FALSE(Exists(Game("b.bin.novo")));
    EXPECT_EQ(FileRequests(), (std::vector<std::string>{"a.bin", "b.bin", "b.bin", "b.bin", "b.bin"}));
}

// Each try stalls after 300000 bytes: the second one, resumed where the
// first stopped, brings the rest.
TEST_F(SlowSite, AFileThatStallsHalfWayIsResumed) {
    std::string b(400000, 'b');
    for (size_t i = 0; i < b.size(); i++) b[i] = (char)(i * 13);
    List("b.bin", b);
    Have("b.bin", "velho b");
    server.On("/update/files/b.bin", Rule::StallAt(300000));
    Timed();
    EXPECT_LT(took, 2 * ReceiveMs + 9000);
    EXPECT_EQ(Status, Updated);
    EXPECT_TRUE(In("b.bin") == b);
    EXPECT_FALSE(Exists(Game("b.bin.novo")));
    EXPECT_FALSE(Exists(Game("b.bin.retomar")));
}

// Longer in all than the receive time-out, but never silent that long.
TEST_F(SlowSite, ASlowButMovingFileIsNotCut) {
    List("lento.bin", "12345678");
    server.On("/update/files/lento.bin", Rule::Trickle(1, ReceiveMs * 2 / 5));
    Timed();
    EXPECT_GT(took, ReceiveMs * 2);
    EXPECT_EQ(Status, Updated);
    EXPECT_EQ(In("lento.bin"), "12345678");
}

// ---- HTTPS ------------------------------------------------------------------------
// Against local HTTPS servers: tests/https_test.py runs the Https tests in a
// Wine prefix of its own that trusts the test authority (CTest never runs
// them alone), with the servers' addresses in the environment:
//   VELMORA_HTTPS_GOOD        a certificate for 127.0.0.1 from the test authority
//   VELMORA_HTTPS_UNKNOWN     the same names from an authority nobody trusts
//   VELMORA_HTTPS_WRONG_NAME  from the test authority, for another host
//   VELMORA_HTTPS_EXPIRED     from the test authority, out of date
//   VELMORA_HTTPS_PLAIN       the same site over plain HTTP
//   VELMORA_HTTPS_SITE        the folder every one of them serves
// The good server sends "/desce/..." on to the plain one and "/fica/..." to
// itself; the plain one sends "/sobe/..." on to the good one.

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
