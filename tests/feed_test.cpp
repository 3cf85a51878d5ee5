// The status feed: its parsing line by line, and the feed as the network
// thread fetches and publishes it from a real local web server.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "app/state.h"
#include "net/feed.h"
#include "net/netthread.h"
#include "support/netutil.h"
#include "support/testutil.h"
#include "support/webserver.h"

namespace {

Feed Parse(std::string text, int online = -1, const wchar_t *name = L"") {
    static Feed f;
    f = Feed();
    f.up = 99;
    f.newsN = 3;
    f.online = online;
    lstrcpyW(f.name, name);
    ParseFeed(&text[0], &f);
    return f;
}

TEST(FeedParse, TheFourKeys) {
    Feed f = Parse("status=1\nonline=57\nservidor=Velmora Clássico\nnoticia=Evento|Sábado às 20h\n");
    EXPECT_EQ(f.up, 1);
    EXPECT_EQ(f.online, 57);
    EXPECT_STREQ(f.name, L"Velmora Clássico");
    ASSERT_EQ(f.newsN, 1);
    EXPECT_STREQ(f.news[0].title, L"Evento");
    EXPECT_STREQ(f.news[0].body, L"Sábado às 20h");
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

TEST(FeedParse, FiveNewsKeepTheFirstFour) {
    Feed f = Parse("noticia=1|a\nnoticia=2|b\nnoticia=3|c\nnoticia=4|d\nnoticia=5|e");
    ASSERT_EQ(f.newsN, 4);
    EXPECT_STREQ(f.news[0].title, L"1");
    EXPECT_STREQ(f.news[3].title, L"4");
    EXPECT_STREQ(f.news[3].body, L"d");
}

TEST(FeedParse, NewsSplitAtTheFirstBar) {
    Feed f = Parse("noticia=Tudo título\nnoticia=|só corpo\nnoticia=T|b|c||\nnoticia=|\nnoticia=");
    ASSERT_EQ(f.newsN, 4);
    EXPECT_STREQ(f.news[0].title, L"Tudo título");
    EXPECT_STREQ(f.news[0].body, L"");
    EXPECT_STREQ(f.news[1].title, L"");
    EXPECT_STREQ(f.news[1].body, L"só corpo");
    EXPECT_STREQ(f.news[2].title, L"T");
    EXPECT_STREQ(f.news[2].body, L"b|c||");
    EXPECT_STREQ(f.news[3].title, L"");
    EXPECT_STREQ(f.news[3].body, L"");
}

// Fields hold N - 1 UTF-16 units; a value one unit longer is stored empty.
TEST(FeedParse, TextsThatJustFitAndJustDoNot) {
    struct Case {
        std::string unit;  // one UTF-16 unit, or a pair for the emoji
        int units;         // UTF-16 units per repetition
    } cases[] = {{"a", 1}, {"ç", 1}, {"\xE2\x82\xAC", 1}, {"\xF0\x9F\x8E\xAE", 2}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.unit);
        auto text = [&](int units) {
            std::string s;
            for (int i = 0; i < units / c.units; i++) s += c.unit;
            for (int i = 0; i < units % c.units; i++) s += "x";
            return s;
        };
        Feed fit = Parse("servidor=" + text(63) + "\nnoticia=" + text(127) + "|" + text(127));
        EXPECT_EQ(lstrlenW(fit.name), 63);
        EXPECT_EQ(lstrlenW(fit.news[0].title), 127);
        EXPECT_EQ(lstrlenW(fit.news[0].body), 127);
        Feed over = Parse("servidor=" + text(64) + "\nnoticia=" + text(128) + "|" + text(128) +
                          "\nnoticia=ok|" + text(128) + "\nnoticia=" + text(128) + "|ok");
        EXPECT_STREQ(over.name, L"");
        ASSERT_EQ(over.newsN, 3);
        EXPECT_STREQ(over.news[0].title, L"");
        EXPECT_STREQ(over.news[0].body, L"");
        EXPECT_STREQ(over.news[1].title, L"ok");
        EXPECT_STREQ(over.news[1].body, L"");
        EXPECT_STREQ(over.news[2].title, L"");
        EXPECT_STREQ(over.news[2].body, L"ok");
    }
}

TEST(FeedParse, KeysMatchOnlyAtTheStartAndInTheirCase) {
    Feed f = Parse(" status=1\nStatus=1\nSTATUS=1\n online=5\nOnline=5\n servidor=X\nServidor=X\n"
                   " noticia=a|b\nNoticia=a|b\nstatus =1\n",
                   -1, L"antes");
    EXPECT_EQ(f.up, 0);
    EXPECT_EQ(f.online, -1);
    EXPECT_STREQ(f.name, L"antes");
    EXPECT_EQ(f.newsN, 0);
}

TEST(FeedParse, NumbersReadLikeAtoiAndSaturate) {
    struct Case {
        const char *value;
        int want;
    } cases[] = {
        {"42", 42},
        {"  42xyz", 42},
        {"\t\v\f7", 7},
        {"+5", 5},
        {"-7", -7},
        {"", 0},
        {"abc", 0},
        {"- 3", 0},
        {"2147483647", INT_MAX},
        {"2147483648", INT_MAX},
        {"99999999999999999999999999", INT_MAX},
        {"-2147483648", INT_MIN},
        {"-2147483649", INT_MIN},
        {"-99999999999999999999999999", INT_MIN},
        {"0000000000000000000000000012", 12},
        {"12\r", 12},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        Feed f = Parse(std::string("status=") + c.value + "\nonline=" + c.value + "\n");
        EXPECT_EQ(f.up, c.want);
        EXPECT_EQ(f.online, c.want);
    }
}

TEST(FeedParse, LastValueWinsAndMissingKeysKeepTheirs) {
    Feed f = Parse("status=1\nstatus=0\nservidor=A\nservidor=B", 33, L"antes");
    EXPECT_EQ(f.up, 0);
    EXPECT_EQ(f.online, 33);
    EXPECT_STREQ(f.name, L"B");

    Feed empty = Parse("", 33, L"antes");
    EXPECT_EQ(empty.up, 0);
    EXPECT_EQ(empty.newsN, 0);
    EXPECT_EQ(empty.online, 33);
    EXPECT_STREQ(empty.name, L"antes");
}

TEST(FeedParse, BlankLinesCommentsAndOtherKeysDoNoHarm) {
    Feed f = Parse("\n\n# comentário\nversao=2\nstatus=3\n\nonline=4\nnoticia=x|y\n\n\n");
    EXPECT_EQ(f.up, 3);
    EXPECT_EQ(f.online, 4);
    EXPECT_EQ(f.newsN, 1);
    Feed last = Parse("status=8");  // the last line needs no line feed
    EXPECT_EQ(last.up, 8);
}

TEST(FeedParse, MalformedUtf8BecomesReplacementCharacters) {
    Feed f = Parse("servidor=A\xFF\xFE" "B\nnoticia=\xC3|\xE2\x82");
    EXPECT_EQ(f.name[0], L'A');
    EXPECT_EQ(f.name[lstrlenW(f.name) - 1], L'B');
    EXPECT_NE(std::wstring(f.name).find(L'\xFFFD'), std::wstring::npos);
    EXPECT_EQ(f.newsN, 1);
}

// A UTF-8 byte-order mark in front of the first line would hide its key.
TEST(FeedParse, AByteOrderMarkAtTheStartIsPassedOver) {
    const std::string bom = "\xEF\xBB\xBF";
    Feed f = Parse(bom + "status=1\r\nonline=9\r\n");
    EXPECT_EQ(f.up, 1);
    EXPECT_EQ(f.online, 9);
    Feed name = Parse(bom + "servidor=Velmora");
    EXPECT_STREQ(name.name, L"Velmora");
    Feed only = Parse(bom, 5, L"antes");
    EXPECT_EQ(only.up, 0);
    EXPECT_EQ(only.newsN, 0);
    EXPECT_EQ(only.online, 5);
    EXPECT_STREQ(only.name, L"antes");
    // Anywhere else, or twice, it is an ordinary byte: that line is no key.
    Feed later = Parse("online=3\n" + bom + "status=1\n");
    EXPECT_EQ(later.up, 0);
    EXPECT_EQ(later.online, 3);
    Feed twice = Parse(bom + bom + "status=1");
    EXPECT_EQ(twice.up, 0);
    // In a value it stays: the server's name keeps what the operator wrote.
    Feed inValue = Parse("servidor=" + bom + "X");
    EXPECT_STREQ(inValue.name, L"\xFEFFX");
}

// ---- The feed through the network thread ------------------------------------

class FeedFetch : public ::testing::Test {
protected:
    std::wstring dir, site;
    WebServer server;

    void SetUp() override {
        FreshNetState();
        dir = FreshDir(L"feed-game");
        site = FreshDir(L"feed-site");
        ASSERT_TRUE(server.Start(site));
        lstrcpyW(Site, server.Base().c_str());
        lstrcpyW(Dir, dir.c_str());
        lstrcpyW(SelfExe, (dir + L"\\VelmoraLauncher.exe").c_str());
        Wnd = NetWindow();
        TakeNetMessages(Wnd);
        // No manifest: every run ends with the same text.
        server.On("/update/lista.txt", Answer::WithStatus(404));
    }
    std::vector<WPARAM> Run() {
        NetThread(0);
        return TakeNetMessages(Wnd);
    }
    bool UpdateRan() {
        for (const std::string &p : server.Paths())
            if (p == "/update/lista.txt") return true;
        return false;
    }
};

TEST_F(FeedFetch, AFeedIsPublishedAndTheUpdateFollows) {
    server.On("/api/launcher", Answer::Body("status=1\nonline=57\nservidor=Velmora\nnoticia=Oi|Tchau\n"));
    std::vector<WPARAM> msgs = Run();
    EXPECT_EQ(ServerUp, 1);
    EXPECT_EQ(Online, 57);
    EXPECT_STREQ(ServerName, L"Velmora");
    ASSERT_EQ(NewsN, 1);
    EXPECT_STREQ(News[0].title, L"Oi");
    EXPECT_STREQ(News[0].body, L"Tchau");
    EXPECT_TRUE(UpdateRan());
    EXPECT_EQ(Ready, 1);
    // The feed's message, the run's two texts, then the last one.
    EXPECT_EQ(msgs, (std::vector<WPARAM>{0, 0, 0, 1}));
    std::vector<std::string> paths = server.Paths();
    ASSERT_GE(paths.size(), 1u);
    EXPECT_EQ(paths[0], "/api/launcher");
}

TEST_F(FeedFetch, A404LeavesTheServerDownAndTheRestUnknown) {
    server.On("/api/launcher", Answer::WithStatus(404, "status=1\nonline=5\n"));
    Run();
    EXPECT_EQ(ServerUp, 0);
    EXPECT_EQ(Online, -1);
    EXPECT_STREQ(ServerName, L"");
    EXPECT_EQ(NewsN, 0);
    EXPECT_TRUE(UpdateRan());
    EXPECT_EQ(Ready, 1);
    EXPECT_EQ(Progress, 1000);
    // Not the no-connection text: the Internet handle exists.
    EXPECT_STREQ(Status, L"Não foi possível verificar atualizações. Você pode jogar mesmo assim.");
}

TEST_F(FeedFetch, AnEmptyBodyReadsAsServerDown) {
    server.On("/api/launcher", Answer::Empty());
    Run();
    EXPECT_EQ(ServerUp, 0);
    EXPECT_EQ(NewsN, 0);
    EXPECT_EQ(Online, -1);
    EXPECT_TRUE(UpdateRan());
    EXPECT_EQ(Ready, 1);
}

TEST_F(FeedFetch, AFeedOver8191BytesIsReadUpToThere) {
    std::string feed = "status=1\n";
    while (feed.size() < 8170) feed += "# preenchimento para passar do limite\n";
    feed.resize(8170, '#');
    feed += "\nnoticia=Cortada|";
    // The body crosses byte 8191; only its start arrives.
    size_t bodyStart = feed.size();
    feed += std::string(100, 'b') + "\nonline=77\n";
    ASSERT_GT(feed.size(), 8191u);
    server.On("/api/launcher", Answer::Body(feed));
    Run();
    EXPECT_EQ(ServerUp, 1);
    EXPECT_EQ(Online, -1);  // its line lies past the cut
    ASSERT_EQ(NewsN, 1);
    EXPECT_STREQ(News[0].title, L"Cortada");
    EXPECT_EQ(lstrlenW(News[0].body), (int)(8191 - bodyStart));
}

TEST_F(FeedFetch, AFeedThatRedirectsIsFollowed) {
    server.On("/api/launcher", Answer::RedirectTo("/outro/feed"));
    server.On("/outro/feed", Answer::Body("status=2\n"));
    Run();
    EXPECT_EQ(ServerUp, 2);
}

TEST_F(FeedFetch, NoServerAtAllStillEndsReady) {
    server.Stop();
    Run();
    EXPECT_EQ(ServerUp, 0);
    EXPECT_EQ(Ready, 1);
    EXPECT_EQ(Progress, 1000);
    EXPECT_STREQ(Status, L"Não foi possível verificar atualizações. Você pode jogar mesmo assim.");
}

}  // namespace
