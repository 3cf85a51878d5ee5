// Update runs on a bad network: tries made again, partial downloads resumed
// in the same run and in the next one, and the feed's and the manifest's one
// retry, against the test web server (which serves ranges as web servers do
// and makes the faults nginx cannot). What is checked is what the server was
// asked, what lands in the game folder and what the player reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/state.h"
#include "net/http.h"
#include "net/netthread.h"
#include "support/netrun.h"
#include "update/hashrec.h"

namespace {

const std::string Old = "a versão que o jogador tem";
const size_t Size = 300000;  // over two of the launcher's transfer pieces

// The value of a header in a request head, "" when absent.
std::string Field(const std::string &head, const std::string &name) {
    size_t at = head.find("\r\n" + name + ": ");
    if (at == std::string::npos) return "";
    at += name.size() + 4;
    return head.substr(at, head.find("\r\n", at) - at);
}

std::string Ranges(const std::vector<std::string> &v) {
    std::string out;
    for (const std::string &r : v) out += "[" + r + "] ";
    return out;
}

class Net : public NetRun {
public:  // the cases' lambdas reach in
    using NetRun::Game;
    using NetRun::manifest;
    using NetRun::server;
    using NetRun::site;
    std::string data = Noise(Size, 7);
    DWORD receive = ReceiveMs;
    size_t mark = 0;  // requests before the last run

    void TearDown() override { ReceiveMs = receive; }

    // The site lists a.bin with content, at its size unless listed says
    // another; the player has Old.
    void Publish(const std::string &content, long long listed = -1) {
        ASSERT_TRUE(WriteBytes(site + L"\\update\\files\\a.bin", content));
        manifest = "a.bin|" + Md5Of(content) + "|" + std::to_string(listed < 0 ? content.size() : listed) + "\n";
        WriteBytes(site + L"\\update\\lista.txt", manifest);
    }
    // One run of the network thread from the launcher's first state; the
    // server's answers stay as they are.
    Publications Run() {
        mark = server.Heads().size();
        ResetState();
        return NetRun::Run();
    }
    // The Range asked by each request for the file (a.bin) in the last run,
    // in order ("" = the whole file).
    std::vector<std::string> Asked(const std::string &file = "a.bin") {
        std::vector<std::string> out, heads = server.Heads();
        for (size_t i = mark; i < heads.size(); i++)
            if (heads[i].rfind("GET /update/files/" + file + " ", 0) == 0) out.push_back(Field(heads[i], "Range"));
        return out;
    }
    int Requests(const std::string &path) {
        std::vector<std::string> p = server.Paths();
        return (int)std::count(p.begin() + mark, p.end(), path);
    }
    // The game file is the player's old one or the new one, never anything
    // else; a new one is never read-only (the game's own tools may write it).
    void ExpectWhole(const std::string &want) {
        std::string in = ReadBytes(Game("a.bin"));
        EXPECT_TRUE(in == Old || in == data) << "a.bin holds " << in.size() << " other bytes";
        EXPECT_TRUE(in == want) << (in == Old ? "a.bin is still the old one" : "a.bin is the new one");
        if (in == data) EXPECT_FALSE(GetFileAttributesW(Game("a.bin").c_str()) & FILE_ATTRIBUTE_READONLY);
    }
    // Marks the partial and its record read-only, as a copy from read-only
    // media would leave them.
    void ReadOnlyPartial() {
        for (const char *f : {"a.bin.novo", "a.bin.retomar"})
            ASSERT_TRUE(SetFileAttributesW(Game(f).c_str(), FILE_ATTRIBUTE_READONLY));
    }
    // Changes the first from in a.bin's record to to.
    void Spoil(const std::string &from, const std::string &to) {
        std::string r = ReadBytes(Game("a.bin.retomar"));
        size_t at = r.find(from);
        ASSERT_NE(at, std::string::npos) << r;
        ASSERT_TRUE(WriteBytes(Game("a.bin.retomar"), r.replace(at, from.size(), to)));
    }
    void ExpectNoPartial() {
        EXPECT_FALSE(Exists(Game("a.bin.novo")));
        EXPECT_FALSE(Exists(Game("a.bin.retomar")));
    }
    // A run in which every try of the file (a.bin) is cut after cut bytes: the
    // partial it leaves is 4 x cut bytes, for a later run to resume.
    void LeavePartial(long long cut, const std::string &file = "a.bin") {
        server.On("/update/files/" + file, Rule::CutAt(cut));
        Run();
        server.Forget();
        ASSERT_TRUE(ReadBytes(Game(file + ".novo")) == data.substr(0, 4 * cut)) << "no partial of " << 4 * cut;
    }
};

// ---- Retries within a run --------------------------------------------------------

struct RetryCase {
    const char *what;
    Rule answer;                    // how a.bin is answered, Times(n) for the first n tries
    std::vector<std::string> ranges;  // the Range of each request ("?" = any)
    std::wstring text;                // the run's last text; Updated = with the new file
    size_t waits;                     // waits between tries
    long long kept;                   // bytes of the partial left for the next run
    long long listed = -1;            // the size the manifest gives, when not the file's
};

TEST_F(Net, RetriesOfAFile) {
    std::string garbage = Noise(Size, 99);
    std::string down = Utf8(RefusedBase()) + "/a.bin";
    const std::vector<std::string> one = {""}, two = {"", ""}, four = {"", "", "", ""};
    RetryCase cases[] = {
        {"dropped at a chosen byte, then served", Rule::CutAt(70000).Times(1), {"", "bytes=70000-"},
         Updated, 1, 0},
        {"reset before the first byte, then served", Rule::CutAt(-1, true).Times(1), two, Updated, 1, 0},
        {"reset after the head, then served", Rule::CutAt(0, true).Times(1), two, Updated, 1, 0},
        {"503, then served", Rule::Status(503, "ocupado").Times(1), two, Updated, 1, 0},
        {"silent, then served", Rule::Silent().Times(1), two, Updated, 1, 0},
        {"stalled half way, then served", Rule::StallAt(150000).Times(1), {"", "?"}, Updated, 1, 0},
        // A file that could not be fetched was not damaged: only bytes that
        // are not the file are corruption.
        {"404", Rule::Status(404, "<html>não achei</html>"), one, NoFile, 0, 0},
        {"403", Rule::Status(403, "proibido"), one, NoFile, 0, 0},
        {"four drops in a row", Rule::CutAt(30000), {"", "bytes=30000-", "bytes=60000-", "bytes=90000-"},
         NoFile, 3, 120000},
        {"a drop after every 140000 bytes", Rule::CutAt(140000), {"", "bytes=140000-", "bytes=280000-"},
         Updated, 2, 0},
        // As for every file of 4 GiB or more, whose listed size saturates: no
        // 206 continues the partial, and each try from zero brings the same
        // bytes. (After 12 cuts the file is served whole: a launcher that
        // never gives up fails here rather than hang.)
        {"a wrong listed size, a drop after every 140000 bytes", Rule::CutAt(140000).Times(12),
         {"", "bytes=140000-", "", "bytes=140000-"}, NoFile, 3, 0, (long long)Size + 1000},
        {"four 503s in a row", Rule::Status(503, "ocupado"), four, NoFile, 3, 0},
        {"no connection four times", Rule::RedirectTo(down), four, NoFile, 3, 0},
        {"a whole file with the wrong MD5, then the right one", Rule::Body(garbage).Times(1), two, Updated, 0, 0},
        {"the wrong MD5 twice", Rule::Body(garbage), two, Corrupt, 0, 0},
    };
    ReceiveMs = 1500;  // the silent and stalled answers end this soon
    for (const RetryCase &c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileW(Game("a.bin.novo").c_str());
        DeleteFileW(Game("a.bin.retomar").c_str());
        ASSERT_TRUE(WriteBytes(Game("a.bin"), Old));
        Publish(data, c.listed);
        server.Forget();
        server.On("/update/files/a.bin", c.answer);
        Publications pubs = Run();

        std::vector<std::string> asked = Asked();
        ASSERT_EQ(asked.size(), c.ranges.size()) << Ranges(server.Paths()) << Utf8(pubs.back().first);
        for (size_t i = 0; i < asked.size(); i++)
            if (c.ranges[i] != "?") EXPECT_EQ(asked[i], c.ranges[i]) << "request " << i + 1;
        // A range goes with the version it continues.
        for (const std::string &h : server.Heads())
            if (!Field(h, "Range").empty()) EXPECT_FALSE(Field(h, "If-Range").empty()) << h;
        EXPECT_EQ(pubs.back(), std::make_pair(c.text, 1000));
        ExpectWhole(c.text == Updated ? data : Old);
        EXPECT_EQ(waits.size(), c.waits);
        if (c.kept) {
            EXPECT_TRUE(ReadBytes(Game("a.bin.novo")) == data.substr(0, c.kept)) << "no partial of " << c.kept;
        } else {
            ExpectNoPartial();
        }
    }
}

// About 1, 2 and 4 s between the four tries, and the try shown as it is made.
TEST_F(Net, TheWaitsAndTheStatusLineOfRetries) {
    ASSERT_TRUE(WriteBytes(Game("a.bin"), Old));
    Publish(data);
    server.On("/update/files/a.bin", Rule::Status(503));
    Publications pubs = Run();
    ASSERT_EQ(waits.size(), 3u);
    DWORD about[] = {1000, 2000, 4000};
    for (int i = 0; i < 3; i++) {
        EXPECT_GE(waits[i], about[i] / 2) << i;
        EXPECT_LE(waits[i], about[i] * 3 / 2) << i;
    }
    std::vector<std::wstring> shown;
    for (const auto &p : pubs)
        if (shown.empty() || shown.back() != p.first) shown.push_back(p.first);
    EXPECT_EQ(shown, (std::vector<std::wstring>{L"Verificando atualizações...", L"Baixando a.bin (1 de 1)...",
                                                 L"Baixando a.bin (1 de 1)... nova tentativa 1 de 3",
                                                 L"Baixando a.bin (1 de 1)... nova tentativa 2 de 3",
                                                 L"Baixando a.bin (1 de 1)... nova tentativa 3 de 3", NoFile}));
}

// A name as long as a manifest allows still shows the try and the counts.
TEST_F(Net, ALongNameKeepsTheCountsOnTheStatusLine) {
    std::string name = std::string(100, 'p') + "/" + std::string(40, 'q') + ".bin";
    std::wstring path = site + L"\\update\\files\\" + std::wstring(100, L'p');
    CreateDirectoryW(path.c_str(), 0);
    ASSERT_TRUE(WriteBytes(path + L"\\" + std::wstring(40, L'q') + L".bin", "x"));
    WriteBytes(site + L"\\update\\lista.txt", name + "|" + Md5Of("x") + "|1\n");
    server.On("/update/files/" + name, Rule::Status(503).Times(1));
    Publications pubs = Run();
    bool seen = false;
    for (const auto &p : pubs) {
        EXPECT_LT(p.first.size(), (size_t)StatusLen);
        if (p.first.find(L"... nova tentativa 1 de 3") != std::wstring::npos) {
            seen = true;
            EXPECT_EQ(p.first.find(L"Baixando ..."), 0u) << Utf8(p.first);
            EXPECT_NE(p.first.find(std::wstring(40, L'q') + L".bin (1 de 1)..."), std::wstring::npos);
        }
    }
    EXPECT_TRUE(seen);
    EXPECT_EQ(pubs.back().first, Updated);
}

// ---- Resume in a later run -----------------------------------------------------------

struct ResumeCase {
    const char *what;
    void (*change)(Net *t);           // what happens between the two runs
    std::vector<std::string> ranges;  // the second run's requests
};

TEST_F(Net, ResumeInTheNextRun) {
    // The answers below stand for the first request of the second run only.
    ResumeCase cases[] = {
        {"206 with the right range", [](Net *) {}, {"bytes=200000-"}},
        {"206 starting elsewhere", [](Net *t) {
             t->server.On("/update/files/a.bin", Rule::Status(206, t->data.substr(150000))
                                                     .Header("Content-Range: bytes 150000-299999/300000")
                                                     .Times(1));
         }, {"bytes=200000-", ""}},
        {"206 with another total", [](Net *t) {
             t->server.On("/update/files/a.bin", Rule::Status(206, t->data.substr(200000))
                                                     .Header("Content-Range: bytes 200000-299999/400000")
                                                     .Times(1));
         }, {"bytes=200000-", ""}},
        {"206 of another version of the file", [](Net *t) {
             t->server.On("/update/files/a.bin", Rule::Status(206, t->data.substr(200000))
                                                     .Header("Content-Range: bytes 200000-299999/300000")
                                                     .Header("ETag: \"outra\"")
                                                     .Times(1));
         }, {"bytes=200000-", ""}},
        {"200 instead of 206", [](Net *t) { t->server.On("/update/files/a.bin", Rule::Body(t->data).Times(1)); },
         {"bytes=200000-"}},
        {"416", [](Net *t) { t->server.On("/update/files/a.bin", Rule::Status(416).Times(1)); },
         {"bytes=200000-", ""}},
        {"If-Range with a changed file", [](Net *t) {
             Sleep(20);  // a later time: another version of the file, with the same bytes
             WriteBytes(t->site + L"\\update\\files\\a.bin", t->data);
         }, {"bytes=200000-"}},
        {"a partial larger than the manifest size", [](Net *t) {
             WriteBytes(t->Game("a.bin.novo"), t->data + "x");
         }, {""}},
        {"a partial whose record went", [](Net *t) { DeleteFileW(t->Game("a.bin.retomar").c_str()); }, {""}},
        {"a record that is no record", [](Net *t) { WriteBytes(t->Game("a.bin.retomar"), "retomar=2\n"); }, {""}},
        // A record's validator goes back to the site in If-Range: a damaged
        // one must not add a line to the request nor garble it.
        {"an ETag changed in the record", [](Net *t) { t->Spoil("etag=\"", "etag=\"x"); }, {"bytes=200000-"}},
        {"an ETag holding a CR in the record", [](Net *t) { t->Spoil("etag=\"", "etag=\"\rX: 1"); }, {""}},
        {"an ETag holding a byte above ASCII in the record", [](Net *t) { t->Spoil("etag=\"", "etag=\"\xE9"); },
         {""}},
        {"a read-only partial and record", [](Net *t) { t->ReadOnlyPartial(); }, {"bytes=200000-"}},
    };
    for (const ResumeCase &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WriteBytes(Game("a.bin"), Old));
        Publish(data);
        LeavePartial(50000);  // 200000 of the 300000 bytes
        c.change(this);
        Publications pubs = Run();
        EXPECT_EQ(Ranges(Asked()), Ranges(c.ranges));
        // Nothing that does not continue the partial is appended to it.
        for (const auto &p : pubs) EXPECT_LE(p.second, 1000) << Utf8(p.first);
        EXPECT_EQ(pubs.back(), std::make_pair(Updated, 1000));
        ExpectWhole(data);
        ExpectNoPartial();
    }
}

// The bar starts where the partial stopped, and goes back only when the
// partial is dropped.
TEST_F(Net, TheProgressCountsWhatIsAlreadyThere) {
    ASSERT_TRUE(WriteBytes(Game("a.bin"), Old));
    Publish(data);
    LeavePartial(50000);  // 200000 of 300000
    Publications pubs = Run();
    ASSERT_GE(pubs.size(), 3u);
    EXPECT_EQ(pubs[1], std::make_pair(std::wstring(L"Baixando a.bin (1 de 1)..."), 666));
    for (size_t i = 2; i + 1 < pubs.size(); i++) EXPECT_GE(pubs[i].second, 666);
    EXPECT_EQ(pubs.back(), std::make_pair(Updated, 1000));
}

// The manifest changed: the partial of the old version is not resumed, also
// when the new version is the same size; a file now current drops it unasked.
TEST_F(Net, APartialOfAnotherVersionGoes) {
    ASSERT_TRUE(WriteBytes(Game("a.bin"), Old));
    Publish(data);
    LeavePartial(50000);
    data = Noise(Size, 8);
    Publish(data);
    Publications pubs = Run();
    EXPECT_EQ(Ranges(Asked()), Ranges({""}));
    ExpectWhole(data);
    ExpectNoPartial();

    std::string have = data;  // what the player now has
    data = Noise(Size, 9);
    Publish(data);
    LeavePartial(50000);
    Publish(have);  // the site goes back to it
    pubs = Run();
    EXPECT_TRUE(Asked().empty());
    EXPECT_EQ(pubs.back(), std::make_pair(Current, 1000));
    ExpectNoPartial();
}

// A launcher stopped after the last byte but before the move left the whole
// file with its record (the format the operator guide gives): the next run
// moves it in without asking, once its MD5 says it is the file.
TEST_F(Net, AWholePartialIsPlacedWithoutAsking) {
    struct Case {
        const char *what;
        std::string partial;
        size_t requests;
        bool readOnly = false;
    } cases[] = {{"the file", data, 0}, {"other bytes of its size", Noise(Size, 5), 1},
                 {"the file, read-only", data, 0, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WriteBytes(Game("a.bin"), Old));
        Publish(data);
        ASSERT_TRUE(WriteBytes(Game("a.bin.novo"), c.partial));
        ASSERT_TRUE(WriteBytes(Game("a.bin.retomar"), "retomar=1\nmd5=" + Md5Of(data) + "\nsize=" +
                                                          std::to_string(Size) + "\netag=\"v1\"\n"));
        if (c.readOnly) ReadOnlyPartial();
        Publications pubs = Run();
        EXPECT_EQ(Ranges(Asked()), Ranges(std::vector<std::string>(c.requests, "")));
        EXPECT_EQ(pubs.back(), std::make_pair(Updated, 1000));
        ExpectWhole(data);
        ExpectNoPartial();
    }
}

// ---- Partials of files a release no longer lists ------------------------------------

// The record of verified files as it was on disk when the run began its
// first download: what a launcher closed or killed in that download leaves.
std::wstring RecordFile;
std::string Snapshot;
bool Snapped;
void (*Shown)(const wchar_t *, int);
void SnapAtFetch(const wchar_t *text, int progress) {
    Shown(text, progress);
    if (!Snapped && !wcsncmp(text, L"Baixando ", 9)) {
        Snapped = true;
        Snapshot = ReadBytes(RecordFile);
    }
}

struct StrayCase {
    const char *what;
    std::string first;            // the file's name in the release a run leaves it partial in
    bool closed;                  // that run is closed in its download
    std::string next;             // its name in the next release, "" for none (b.bin only)
    void (*before)(Net *t);       // before the next start
    std::vector<std::string> ranges;  // the next start's requests for it, or for b.bin
    bool novo, retomar;           // what is left of the partial after the next start
};

TEST_F(Net, ThePartialOfAFileNoLongerListedGoes) {
    std::string b = Noise(1000, 4);
    ASSERT_TRUE(WriteBytes(site + L"\\update\\files\\b.bin", b));
    StrayCase cases[] = {
        {"the release drops it", "a.bin", false, "", 0, {""}, false, false},
        {"a run closed in its download, then the release drops it", "a.bin", true, "", 0, {""}, false, false},
        {"the release lists it in other letters", "dados/a.bin", false, "Dados/A.bin", 0, {"bytes=200000-"},
         false, false},
        {"a release that lists nothing", "a.bin", false, "", [](Net *t) { t->manifest = "<html>Portal</html>\n"; },
         {}, true, true},
        {"its record is gone: the partial is not the launcher's", "a.bin", false, "",
         [](Net *t) { DeleteFileW(t->Game("a.bin.retomar").c_str()); }, {""}, true, false},
        // Fetched whole at the next start and current at the one after, a.bin
        // is no longer to fetch: a partial with a record found beside it
        // later (a folder restored from a copy taken in mid-download) was not
        // left by any download of this launcher's, and is not its to delete.
        {"fetched whole and found current since, then the release drops it", "a.bin", false, "",
         [](Net *t) {
             std::string dropping = t->manifest, partial = ReadBytes(t->Game("a.bin.novo")),
                         record = ReadBytes(t->Game("a.bin.retomar"));
             t->manifest = "a.bin|" + Md5Of(t->data) + "|" + std::to_string(Size) + "\n";
             t->Run();
             t->Run();
             ASSERT_TRUE(ReadBytes(t->Game("a.bin")) == t->data);
             ASSERT_TRUE(WriteBytes(t->Game("a.bin.novo"), partial));
             ASSERT_TRUE(WriteBytes(t->Game("a.bin.retomar"), record));
             t->manifest = dropping;
         },
         {""}, true, true},
    };
    int row = 0;
    for (const StrayCase &c : cases) {
        SCOPED_TRACE(c.what);
        UseFolder(FreshDir(L"stray-" + std::to_wstring(++row)));
        wchar_t rec[PathLen];
        ASSERT_TRUE(RecordPath(game.c_str(), rec, PathLen));
        RecordFile = rec;
        DeleteFileW(rec);
        std::wstring file = site + L"\\update\\files\\" + Wide(c.first);
        std::replace(file.begin(), file.end(), L'/', L'\\');
        ASSERT_TRUE(WriteBytes(file, data));
        manifest = c.first + "|" + Md5Of(data) + "|" + std::to_string(Size) + "\n";
        Shown = PublishHook;
        Snapped = false;
        if (c.closed) PublishHook = SnapAtFetch;
        LeavePartial(50000, c.first);
        PublishHook = Shown;
        if (c.closed) {
            ASSERT_TRUE(Snapped);
            if (Snapshot.empty()) DeleteFileW(rec);
            else ASSERT_TRUE(WriteBytes(rec, Snapshot));
        }

        manifest = c.next.empty() ? "b.bin|" + Md5Of(b) + "|1000\n"
                                  : c.next + "|" + Md5Of(data) + "|" + std::to_string(Size) + "\n";
        if (c.before) c.before(this);
        Run();
        EXPECT_EQ(Ranges(Asked(c.next.empty() ? "b.bin" : c.next)), Ranges(c.ranges));
        EXPECT_EQ(Exists(Game(c.first + ".novo")), c.novo);
        EXPECT_EQ(Exists(Game(c.first + ".retomar")), c.retomar);
    }
}

// ---- The feed and the manifest ---------------------------------------------------------

struct DocCase {
    const char *what;
    const char *path;
    Rule answer;
    int requests;
    bool got;  // the document arrived in the end
};

TEST_F(Net, TheFeedAndTheManifestGetOneRetry) {
    std::string feed = "status=1\nonline=42\n";
    CreateDirectoryW((site + L"\\api").c_str(), 0);
    ASSERT_TRUE(WriteBytes(site + L"\\api\\launcher", feed));
    std::string b = Noise(1000, 3);
    ASSERT_TRUE(WriteBytes(site + L"\\update\\files\\b.bin", b));
    std::string list = "a.bin|" + Md5Of(data) + "|300000\n" + std::string(3000, '#') + "\nb.bin|" + Md5Of(b) + "|1000\n";
    DocCase cases[] = {
        {"manifest: 503, then served", "/update/lista.txt", Rule::Status(503).Times(1), 2, true},
        {"manifest: dropped before its end, then served", "/update/lista.txt", Rule::CutAt(2000).Times(1), 2, true},
        {"manifest: reset before the head, then served", "/update/lista.txt", Rule::CutAt(-1, true).Times(1), 2, true},
        {"manifest: reset after the head, then served", "/update/lista.txt", Rule::CutAt(0, true).Times(1), 2, true},
        {"manifest: 503 twice", "/update/lista.txt", Rule::Status(503), 2, false},
        {"manifest: dropped before its end twice", "/update/lista.txt", Rule::CutAt(2000), 2, false},
        {"manifest: 404", "/update/lista.txt", Rule::Status(404), 1, false},
        {"manifest: silent", "/update/lista.txt", Rule::Silent(), 1, false},
        {"feed: 502, then served", "/api/launcher", Rule::Status(502).Times(1), 2, true},
        {"feed: 404", "/api/launcher", Rule::Status(404), 1, false},
        {"feed: dropped before its end twice", "/api/launcher", Rule::CutAt(10), 2, false},
    };
    ReceiveMs = 1500;
    for (const DocCase &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WriteBytes(Game("a.bin"), data));
        DeleteFileW(Game("b.bin").c_str());
        WriteBytes(site + L"\\update\\files\\a.bin", data);
        WriteBytes(site + L"\\update\\lista.txt", list);
        server.Forget();
        server.On(c.path, c.answer);
        Run();
        EXPECT_EQ(Requests(c.path), c.requests);
        bool manifest = std::string(c.path) == "/update/lista.txt";
        if (manifest) {
            EXPECT_EQ(Status, c.got ? Updated : NoList);
            // The whole manifest, not the part before the drop: b.bin is its last line.
            EXPECT_EQ(ReadBytes(Game("b.bin")), c.got ? b : "");
        } else {
            EXPECT_EQ(ServerUp, c.got ? 1 : 0);
            EXPECT_EQ(Online, c.got ? 42 : -1);
        }
    }
}

// A site that is down keeps the player from Play no longer than before: no
// second try, no wait.
TEST_F(Net, ASiteThatIsDownIsNotAskedTwice) {
    UseSite(RefusedBase());
    Publications pubs = Run();
    EXPECT_TRUE(waits.empty());
    EXPECT_EQ(pubs.back(), std::make_pair(NoList, 1000));
    EXPECT_EQ(ServerUp, 0);
}

}  // namespace
