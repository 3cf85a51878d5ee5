// The update: the manifest's lines, an entry's local path, FileMd5 on real
// files (other processes holding some), and update runs through the network
// thread against the tests' web server, the launcher's own executable
// included, with every (Status, Progress) pair the window is told of.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

#include "app/options.h"
#include "app/state.h"
#include "net/http.h"
#include "net/netthread.h"
#include "support/netrun.h"
#include "update/manifest.h"
#include "update/md5.h"
#include "update/hashrec.h"
#include "update/lanes.h"
#include "update/selfswap.h"

namespace {

const std::wstring Checking = L"Verificando atualizações...";
const std::string Md5A = "0123456789abcdef0123456789abcdef", Bom = "\xEF\xBB\xBF";

std::wstring Fetching(const std::wstring &name, int index, int need) {
    return L"Baixando " + name + L" (" + std::to_wstring(index) + L" de " + std::to_wstring(need) + L")...";
}

// ---- The manifest's lines -----------------------------------------------------------

// The entries point into the text: it lives until the next Parse.
std::vector<ManifestEntry> Parse(const std::string &doc, int cap = EntryMax, int *got = nullptr) {
    static std::string text;
    static std::vector<ManifestEntry> e(EntryMax + 1);
    text = doc;
    int n = ParseManifest(&text[0], e.data(), cap);
    if (got) *got = n;
    return std::vector<ManifestEntry>(e.begin(), e.begin() + (n < 0 ? cap : n));
}

std::vector<std::string> Names(const std::string &text) {
    std::vector<std::string> out;
    for (const ManifestEntry &e : Parse(text)) out.push_back(e.name);
    return out;
}

std::string Line(const std::string &name) { return name + "|" + Md5A + "|1\n"; }

TEST(ManifestParse, EntryLinesAndLinesOfAnotherShape) {
    auto es = Parse("data/mapa.bin|" + Md5A + "|1234\nb|0123456789ABCDEF0123456789ABCDEF|2\r\n"
                    "c|zzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzz|3");
    ASSERT_EQ(es.size(), 3u);
    EXPECT_STREQ(es[0].name, "data/mapa.bin");
    EXPECT_STREQ(es[0].md5, Md5A.c_str());
    EXPECT_EQ(es[0].size, 1234u);
    EXPECT_STREQ(es[1].md5, "0123456789ABCDEF0123456789ABCDEF") << "kept as written";
    EXPECT_EQ(es[1].size, 2u) << "CR LF reads like LF";
    EXPECT_STREQ(es[2].md5, "zzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzz") << "digits are not checked";
    EXPECT_EQ(Names("curto|" + Md5A.substr(0, 31) + "|1\nlongo|" + Md5A + "0|1\numa barra|" + Md5A +
                    "\nsem barra\n\n# comentário\n|" + Md5A + "|1\nbarra|na|md5" + Md5A.substr(5) + "|1\nok|" + Md5A +
                    "|7\n"),
              (std::vector<std::string>{"ok"}));
    EXPECT_TRUE(Parse("").empty());
    EXPECT_TRUE(Parse("\n\n\n").empty());
}

TEST(ManifestParse, NamesUpTo199Bytes) {
    std::string n199(199, 'n'), wide199;  // multi-byte characters count in bytes
    while (wide199.size() < 198) wide199 += "ç";
    wide199 += "x";
    EXPECT_EQ(Names(Line(n199 + "n") + Line(n199) + Line(wide199) + Line(wide199 + "x")),
              (std::vector<std::string>{n199, wide199}));
}

// Names that could leave the game folder, and names Windows opens as devices
// (whatever the extension, letter case or trailing spaces, as file or folder).
TEST(ManifestParse, UnsafeAndDeviceNamesAreSkipped) {
    std::vector<std::string> skipped = {"../fora.txt", "a/../../b", "a..b", "..", "pasta/..", "/raiz.txt",
                                        "\\raiz.txt", "C:x.txt", "C:\\Windows\\x.dll", "a:b", "dados/a:fluxo"};
    for (const char *d : {"CON", "con", "Con.txt", "PRN", "prn.log", "AUX", "aux.tar.gz", "NUL", "nul.bin", "NuL",
                          "COM1", "com9.dat", "COM0", "LPT1", "lpt9.txt", "LPT0.x", "CON .txt", "nul.", "aux ",
                          "COM\xC2\xB9", "lpt\xC2\xB3.txt", "CONIN$", "conout$.log"})
        for (const char *w : {"%s", "dados/%s", "%s/arq.bin", "a/b/%s/c.bin", "a\\%s", "%s\\arq.bin"}) {
            char name[64];
            snprintf(name, sizeof name, w, d);
            skipped.push_back(name);
        }
    for (const std::string &name : skipped) EXPECT_TRUE(Parse(Line(name)).empty()) << name;
    for (const char *name : {"a.b.c", ".oculto", "pasta/sub/arq.bin", "pasta\\sub\\arq.bin", "a./b",
                             "com espaço.txt", "main.exe", "CONSOLE", "con1", "icon", "aux1.txt", "NULL", "COM10",
                             "COM", "LPT", "lpt1a", "com1x.txt", "xcon.txt", "dados/conx/a.bin", "com\xC2\xB4",
                             "COM\xC2\xB9x", " con", "a.con", "pasta.aux/x.bin", "CONIN", "conout"})
        EXPECT_EQ(Names(Line(name)), (std::vector<std::string>{name})) << name;
}

// A mark before the first line would make it part of the first name.
TEST(ManifestParse, AByteOrderMarkAtTheStartIsPassedOver) {
    EXPECT_EQ(Names(Bom + "primeiro.bin|" + Md5A + "|3\r\n" + Line("segundo.bin")),
              (std::vector<std::string>{"primeiro.bin", "segundo.bin"}));
    EXPECT_TRUE(Parse(Bom).empty());
    EXPECT_TRUE(Parse(Bom + "\n").empty());
    EXPECT_EQ(Names(Line("a.bin") + Bom + Line("b.bin")), (std::vector<std::string>{"a.bin", Bom + "b.bin"}));
    EXPECT_EQ(Names(Bom + Bom + Line("c")), (std::vector<std::string>{Bom + "c"}));
}

TEST(ManifestParse, SizesReadLikeStrtoulAndSaturate) {
    struct Case {
        const char *field;
        unsigned want;
    } cases[] = {{"", 0}, {"abc", 0}, {"12", 12}, {"  12", 12}, {"\t12", 12}, {"12\r", 12}, {"12 bytes", 12},
                 {"+12", 12}, {"-5", 0}, {"4294967295", 4294967295u}, {"4294967296", 4294967295u},
                 {"99999999999999999999999999999", 4294967295u}, {"000000000000000000000000000042", 42}};
    for (const Case &c : cases) {
        auto es = Parse("f|" + Md5A + "|" + c.field);
        ASSERT_EQ(es.size(), 1u) << c.field;
        EXPECT_EQ(es[0].size, c.want) << c.field;
    }
}

// One acceptable line more than the table holds makes the whole manifest no
// release: a manifest cut there would pass its first files for all of it.
TEST(ManifestParse, MoreAcceptableLinesThanTheTableHoldsAreNoManifest) {
    std::string text;
    for (int i = 0; i < 300; i++) text += (i % 10 == 3 ? Line("../mau" + std::to_string(i)) : "") + Line("f" + std::to_string(i));
    int n = 0;
    EXPECT_EQ(Parse(text, 300, &n).size(), 300u);
    EXPECT_EQ(n, 300) << "skipped lines do not count";
    auto es = Parse(text, 299, &n);
    EXPECT_EQ(n, -1);
    EXPECT_STREQ(es[298].name, "f298") << "the table is filled up to its capacity, never past it";
    Parse(text + "# depois do fim\n\n", 300, &n);
    EXPECT_EQ(n, 300);
}

TEST(LocalPathOf, FoldersBecomeBackslashesAndAPathThatDoesNotFitIsRefused) {
    wchar_t out[261];
    char name[EntryNameLen] = "dados/mapas/ação.bin";
    EXPECT_GT(LocalPath(L"C:\\Jogo", name, out, 260), 0);
    EXPECT_STREQ(out, L"C:\\Jogo\\dados\\mapas\\ação.bin");
    EXPECT_STREQ(name, "dados\\mapas\\ação.bin") << "changed in place, as the URL is made from it";
    std::wstring dir = L"C:\\" + std::wstring(240, L'd');
    for (int len = 1; len < 30; len++) {
        lstrcpyA(name, std::string(len, 'n').c_str());
        out[260] = L'#';  // one unit past the field
        int total = (int)dir.size() + 1 + len;
        EXPECT_EQ(LocalPath(dir.c_str(), name, out, 260), total <= 259 ? total : 0) << len;
        EXPECT_EQ(lstrlenW(out), total <= 259 ? total : 0) << len;
        EXPECT_EQ(out[260], L'#');
    }
}

// ---- FileMd5 ------------------------------------------------------------------------

TEST(Md5, DigestsOfFilesAndOfNoFile) {
    std::wstring dir = FreshDir(L"md5"), f = dir + L"\\f.bin";
    struct Case {
        std::string data;
        const char *md5;
    } cases[] = {{"", "d41d8cd98f00b204e9800998ecf8427e"},
                 {"abc", "900150983cd24fb0d6963f7d28e17f72"},
                 {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},  // 16 chunks and a bit
                 {std::string(65536, 'x'), nullptr},
                 {std::string(65537, 'x'), nullptr}};
    char out[33];
    for (const Case &c : cases) {
        ASSERT_TRUE(WriteBytes(f, c.data));
        ASSERT_EQ(FileMd5(f.c_str(), out), 1);
        EXPECT_EQ(std::string(out), c.md5 ? c.md5 : Md5Of(c.data)) << c.data.size();
    }
    ASSERT_TRUE(WriteBytes(f, "abc"));
    EXPECT_TRUE(Md5Matches(f.c_str(), "900150983CD24FB0D6963F7D28E17F72"));
    EXPECT_FALSE(Md5Matches(f.c_str(), "900150983cd24fb0d6963f7d28e17f73"));
    char none[33] = "untouched";
    for (std::wstring missing : {dir + L"\\não existe.bin", dir}) {
        EXPECT_EQ(FileMd5(missing.c_str(), none), 0);
        EXPECT_FALSE(Md5Matches(missing.c_str(), "900150983cd24fb0d6963f7d28e17f72"));
    }
    EXPECT_STREQ(none, "untouched");
}

TEST(Md5, AFileAnotherProcessHoldsIsHashedIfItSharesReading) {
    std::wstring f = FreshDir(L"md5-held") + L"\\aberto.bin";
    ASSERT_TRUE(WriteBytes(f, "abc"));
    HANDLE p = HoldFile(f, FILE_SHARE_READ | FILE_SHARE_WRITE, true);
    ASSERT_TRUE(p) << "holder could not open the file";
    char out[33] = "untouched";
    EXPECT_EQ(FileMd5(f.c_str(), out), 1);
    EXPECT_STREQ(out, "900150983cd24fb0d6963f7d28e17f72");
    Kill(p);
    p = HoldFile(f, 0, true);
    ASSERT_TRUE(p);
    lstrcpyA(out, "untouched");
    EXPECT_EQ(FileMd5(f.c_str(), out), 0) << "held for writing without letting others read";
    EXPECT_STREQ(out, "untouched");
    Kill(p);
}

// ---- Update runs ---------------------------------------------------------------------

// The largest size the file Watched had at any publication of a run: each
// piece of a download is published right after it is written.
std::wstring Watched;
unsigned long long Largest;
void (*Recorded)(const wchar_t *, int);
void Watch(const wchar_t *text, int progress) {
    Recorded(text, progress);
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (GetFileAttributesExW(Watched.c_str(), GetFileExInfoStandard, &d))
        Largest = std::max(Largest, (unsigned long long)d.nFileSizeHigh << 32 | d.nFileSizeLow);
}

class Update : public NetRun {
public:  // the cases' lambdas reach in
    using NetRun::Game;
    using NetRun::game;
    using NetRun::List;
    using NetRun::manifest;
    using NetRun::server;
    using NetRun::site;

protected:
    // Every "*.novo" below dir.
    void Temps(const std::wstring &dir, std::vector<std::wstring> &out) {
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
        for (bool more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileW(h, &fd)) {
            std::wstring n = fd.cFileName;
            if (n == L"." || n == L"..") continue;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) Temps(dir + L"\\" + n, out);
            else if (n.size() > 5 && n.substr(n.size() - 5) == L".novo") out.push_back(dir + L"\\" + n);
        }
        if (h != INVALID_HANDLE_VALUE) FindClose(h);
    }
    // What every run leaves, whatever its outcome: its last text is last.
    void ExpectSettled(const Publications &pubs, const std::wstring &last) {
        std::vector<std::wstring> temps;
        Temps(game, temps);
        EXPECT_TRUE(temps.empty()) << "left behind: " << Utf8(temps[0]);
        EXPECT_EQ(Ready, 1);
        EXPECT_EQ(Progress, 1000);
        ASSERT_FALSE(pubs.empty());
        EXPECT_EQ(pubs.front(), std::make_pair(Checking, -1));
        EXPECT_EQ(pubs.back(), std::make_pair(last, 1000));
        // One message for the feed, one per publication, then the last one.
        ASSERT_EQ(msgs.size(), pubs.size() + 2);
        EXPECT_EQ(std::count(msgs.begin(), msgs.end(), 1), 1);
        EXPECT_EQ(msgs.back(), 1u);
    }
};

TEST_F(Update, EverythingCurrentGoesFromBusyStraightToDone) {
    Have("a.bin", "conteúdo de a");
    Have("dados/b.bin", "conteúdo de b");
    List("a.bin", "conteúdo de a");
    List("dados/b.bin", "conteúdo de b");
    Publications pubs = Run();
    EXPECT_EQ(pubs, (Publications{{Checking, -1}, {Current, 1000}}));
    EXPECT_TRUE(FileRequests().empty());
    ExpectSettled(pubs, Current);
}

TEST_F(Update, OnlyDifferingFilesAreFetchedCountedAndShown) {
    Have("igual.bin", "mesmo");
    Have("velho.bin", "versão antiga");
    List("igual.bin", "mesmo");
    List("velho.bin", std::string(100, 'v'));
    List("novo.bin", std::string(300, 'n'));
    Publications pubs = Run();
    EXPECT_EQ(Texts(pubs), (Publications{{Checking, -1}, {Fetching(L"velho.bin", 1, 2), 0},
                                         {Fetching(L"novo.bin", 2, 2), 250}, {Updated, 1000}}));
    int last = -1;
    for (const auto &p : pubs) {
        EXPECT_GE(p.second, last) << "the progress never goes back";
        last = p.second;
    }
    EXPECT_EQ(pubs[pubs.size() - 2], std::make_pair(Fetching(L"novo.bin", 2, 2), 1000));
    EXPECT_EQ(In("velho.bin"), std::string(100, 'v'));
    EXPECT_EQ(In("novo.bin"), std::string(300, 'n'));
    EXPECT_EQ(FileRequests(), (std::vector<std::string>{"velho.bin", "novo.bin"}));
    ExpectSettled(pubs, Updated);
}

// The per mille of the listed sizes: sizes of 0 (an empty file, or a size
// a manifest written by hand left out: that file is still fetched whole, not
// refused as longer than listed), and sizes whose sum passes
// 32 bits (4294967295 + 101 wraps to 100, which would show 50 bytes as 500).
TEST_F(Update, TheProgressFollowsTheListedSizes) {
    struct Case {
        std::vector<std::pair<std::string, long long>> files;  // content, listed size
        int beforeLast;  // the progress shown with the last piece
    } cases[] = {{{{"", 0}, {std::string(70, 'z'), 0}}, 0},
                 {{{std::string(50, 'a'), 4294967295LL}, {std::string(101, 'b'), 101}}, 0}};
    for (const Case &c : cases) {
        manifest.clear();
        for (size_t i = 0; i < c.files.size(); i++) List("f" + std::to_string(i), c.files[i].first, c.files[i].second);
        Publications pubs = Run();
        for (size_t i = 1; i + 2 < pubs.size(); i++)
            EXPECT_LE(pubs[i].second, c.beforeLast) << Utf8(pubs[i].first);
        EXPECT_EQ(pubs[pubs.size() - 2].second, c.beforeLast);
        ExpectSettled(pubs, Updated);
        UseFolder(FreshDir(L"game-progress"));
    }
}

TEST_F(Update, ABodyLargerThanTheTransferBufferIsPublishedPieceByPiece) {
    std::string big(300000, 'x');  // over two transfer buffers
    for (size_t i = 0; i < big.size(); i++) big[i] = (char)(i * 7);
    List("grande.bin", big);
    Publications pubs = Run();
    size_t pieces = std::count_if(pubs.begin(), pubs.end(), [](const std::pair<std::wstring, int> &p) {
        return p.first == Fetching(L"grande.bin", 1, 1);
    });
    EXPECT_GE(pieces, 3u) << "the start, then at least one per full buffer";
    EXPECT_EQ(In("grande.bin"), big);
    ExpectSettled(pubs, Updated);
}

// No manifest, or one that lists nothing (empty, a web page, only lines it
// cannot take), checked nothing: no news that the game is current.
TEST_F(Update, NoManifestOrOneThatListsNothingChangesNothing) {
    Have("a.bin", "fica");
    Publications pubs = Run();  // the site has no lista.txt: 404
    EXPECT_EQ(pubs, (Publications{{Checking, -1}, {NoList, 1000}}));
    ExpectSettled(pubs, NoList);
    server.On("/update/lista.txt", Rule::RedirectTo("/update/lista.txt"));
    ExpectSettled(Run(), NoList);
    for (const std::string &doc : {std::string(), std::string("<!DOCTYPE html><html><body>Bem-vindo!</body></html>\n"),
                                   "# só comentários\n\n" + Line("../fora.bin") + Line("")}) {
        server.Forget();
        ASSERT_TRUE(WriteBytes(site + L"\\update\\lista.txt", doc));
        pubs = Run();
        EXPECT_EQ(pubs, (Publications{{Checking, -1}, {NoList, 1000}})) << doc;
        EXPECT_EQ(In("a.bin"), "fica");
        EXPECT_TRUE(FileRequests().empty());
    }
}

// Names the parser skips are never asked for, nor is anything written for them.
TEST_F(Update, UnsafeAndDeviceNamesAreNeverFetched) {
    std::wstring outside = game.substr(0, game.rfind(L'\\')) + L"\\fora.bin";
    DeleteFileW(outside.c_str());
    for (const char *name : {"../fora.bin", "/raiz.bin", "C:x.bin", "", "aux.txt", "dados/CON", "NUL/x.bin", "Com1.dat"})
        manifest += Line(name);
    List("ok.bin", "ok");
    Publications pubs = Run();
    EXPECT_EQ(FileRequests(), (std::vector<std::string>{"ok.bin"}));
    EXPECT_EQ(Texts(pubs)[1].first, Fetching(L"ok.bin", 1, 1));
    EXPECT_FALSE(Exists(outside));
    EXPECT_FALSE(Exists(Game("dados")));
    ExpectSettled(pubs, Updated);
}

// Players and operators copy the site's address from a browser, with its
// trailing slash: every request would then ask for "//update/...", which
// many servers answer with 404.
TEST_F(Update, ASiteAddressWithTrailingSlashesAsksForPlainPaths) {
    List("dados/a.bin", "novo");
    lstrcpyW(Ini, (game + L"\\" INI_NAME).c_str());
    for (const char *tail : {"/", "///"}) {
        SCOPED_TRACE(tail);
        DeleteFileW(Game("dados/a.bin").c_str());
        ASSERT_TRUE(WriteBytes(Ini, "[Launcher]\r\nSite=" + Utf8(server.Base()) + tail + "\r\n"));
        LoadOptions();
        server.Forget();
        ResetState();
        ExpectSettled(Run(), Updated);
        EXPECT_EQ(server.Paths(), (std::vector<std::string>{"/api/launcher", "/update/lista.txt", "/update/files/dados/a.bin"}));
    }
}

// Reaching the server in the platform's code page, names outside ASCII could
// never match; URL signs would change the address.
TEST_F(Update, NamesWithSpacesFoldersAccentsAndUrlSigns) {
    List("Data Files/sub dir/x y.bin", "espaços");
    List("música/ação.ogg", "som");
    List("100% #1.txt", "sinais");
    Publications pubs = Run();
    EXPECT_EQ(FileRequests(), (std::vector<std::string>{"Data%20Files/sub%20dir/x%20y.bin",
                                                        "m%C3%BAsica/a%C3%A7%C3%A3o.ogg", "100%25%20%231.txt"}));
    EXPECT_EQ(Texts(pubs)[1].first, Fetching(L"Data Files\\sub dir\\x y.bin", 1, 3));
    EXPECT_EQ(Texts(pubs)[2].first, Fetching(L"música\\ação.ogg", 2, 3));
    EXPECT_EQ(In("Data Files/sub dir/x y.bin"), "espaços");
    EXPECT_EQ(In("música/ação.ogg"), "som");
    EXPECT_EQ(In("100% #1.txt"), "sinais");
    ExpectSettled(pubs, Updated);
}

// A run stops at the first file that fails for good (a refusal or a wrong
// MD5 does not change by asking again; dropped connections are tried again,
// resume_test): the files before it are placed, it and the files after it
// keep their old content, no temporary file stays. Only bytes that are not
// the file are called corrupt; a file that never came was not fetched. A
// body longer than the file (without end, from a server or anyone on the
// way) is not written past the file's size: it would fill the disk first.
TEST_F(Update, AFileThatFailsStopsTheRunThere) {
    struct Case {
        const char *what;
        Rule rule;
        const std::wstring &text;
    } cases[] = {
        {"404 page", Rule::Status(404, "<html>não achei</html>"), NoFile},
        {"200 HTML page", Rule::Body("<html><body><h1>Erro interno</h1></body></html>").Header("Content-Type: text/html"),
         Corrupt},
        {"redirect loop", Rule::RedirectTo("/update/files/b.bin"), NoFile},
        {"a 200 without end", Rule::Endless(8 << 20), Corrupt},
        {"a 200 without end announcing a length", Rule::Endless(8 << 20).Header("Content-Length: 99999999999"), Corrupt},
        {"a 200 longer than listed", Rule::Body(std::string(100000, 'b') + "mais"), Corrupt},
    };
    Recorded = PublishHook;
    PublishHook = Watch;
    Watched = Game("b.bin.novo");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Largest = 0;
        manifest.clear();
        server.Forget();
        Have("a.bin", "a antigo");
        Have("b.bin", "b antigo");
        Have("c.bin", "c antigo");
        List("a.bin", std::string(5000, 'a'));
        List("b.bin", std::string(100000, 'b'));
        List("c.bin", std::string(10, 'c'));
        server.On("/update/files/b.bin", c.rule);
        Publications pubs = Run();
        EXPECT_EQ(In("a.bin"), std::string(5000, 'a'));
        EXPECT_EQ(In("b.bin"), "b antigo");
        EXPECT_EQ(In("c.bin"), "c antigo");
        EXPECT_EQ(FileRequests().front(), "a.bin");
        EXPECT_EQ(FileRequests().back(), "b.bin");
        EXPECT_LE(Largest, 100001u) << "written past b.bin's listed size";
        ExpectSettled(pubs, c.text);
    }
    PublishHook = Recorded;
    server.Forget();
    server.On("/update/files/b.bin", Rule::RedirectTo("/espelho/b.bin"));
    server.On("/espelho/b.bin", Rule::Body(std::string(100000, 'b')));
    ExpectSettled(Run(), Updated);
    EXPECT_EQ(In("c.bin"), std::string(10, 'c')) << "a file behind a redirect";
}

// What stands in the game folder can keep a file from its place: a program
// holding it without sharing, a folder of its name; or keep its temporary
// file from being made (a file where its folder should be, a folder under the
// temporary name), when it is not even asked for. Whatever stands there stays
// as it was, and the player is told to close what holds it. The verified
// download of a file the game held waits beside it: once the game is closed,
// the next start places it without asking again. Behind a folder it would
// wait for good, and without a record (the site named no version of the
// file) nothing would ever clear it: it goes.
TEST_F(Update, WhatStandsInTheWayStaysAndStopsTheRun) {
    struct Case {
        const char *what, *name, *standing, *content;
        bool held, asked, kept, versioned = true;
    } cases[] = {{"held", "main.exe", "main.exe", "jogo antigo", true, true, true},
                 {"held, no version named", "main.exe", "main.exe", "jogo antigo", true, true, false, false},
                 {"a folder", "dados/mapa.bin", "dados/mapa.bin/dentro.txt", "o que a pasta guarda", false, true, false},
                 {"a file", "config/opcoes.bin", "config", "um arquivo onde a lista quer uma pasta", false, false, false},
                 {"a temporary folder", "dados/b.bin", "dados/b.bin.novo/x", "", false, false, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        UseFolder(FreshDir(L"game-in-the-way"));
        manifest.clear();
        server.Forget();
        Have("a.bin", "a antigo");
        Have("c.bin", "c antigo");
        Have(c.standing, c.content);
        List("a.bin", "a novo");
        List(c.name, "novo");
        List("c.bin", "c novo");
        if (!c.versioned)
            server.On("/update/files/" + std::string(c.name), Rule().Header("ETag: W/\"fraca\"").Header("Last-Modified: "));
        HANDLE holder = c.held ? HoldFile(Game(c.standing), 0) : 0;
        ASSERT_EQ(holder != 0, c.held);
        Publications pubs = Run();
        Kill(holder);
        EXPECT_EQ(In("a.bin"), "a novo");
        EXPECT_EQ(In("c.bin"), "c antigo");
        EXPECT_EQ(In(c.standing), c.content);
        EXPECT_EQ(FileRequests().size(), c.asked ? 2u : 1u);
        EXPECT_EQ(pubs.back(), std::make_pair(InUse, 1000));
        EXPECT_EQ(Ready, 1);
        if (c.asked) EXPECT_EQ(In(c.name + std::string(".novo")), c.kept ? "novo" : "");
        if (!c.kept) continue;
        server.Forget();
        ResetState();
        pubs = Run();
        EXPECT_EQ(FileRequests(), (std::vector<std::string>{"c.bin"}));
        EXPECT_EQ(In(c.name), "novo");
        ExpectSettled(pubs, Updated);
    }
}

// A temporary file with no record of what it belongs to is never resumed: it
// goes in the next run, also when that run does not fetch its file (the site
// went back to the version the player has) or fails before reaching it, and
// one that is fetched again is overwritten.
TEST_F(Update, TemporaryFilesOfAKilledRunGoInTheNextRun) {
    Have("atual.bin", "igual");
    Have("atual.bin.novo", std::string(70000, '?'));
    Have("depois.bin", "antigo");
    Have("depois.bin.novo", std::string(5000, '?'));
    Have("fora da lista.bin.novo", "de um arquivo que a lista não tem");
    List("atual.bin", "igual");
    List("quebrado.bin", "novo");
    List("depois.bin", "novo");
    server.On("/update/files/quebrado.bin", Rule::Status(404));
    Publications pubs = Run();
    EXPECT_EQ(FileRequests(), (std::vector<std::string>{"quebrado.bin"}));
    EXPECT_FALSE(Exists(Game("atual.bin.novo")));
    EXPECT_FALSE(Exists(Game("depois.bin.novo")));
    EXPECT_EQ(In("depois.bin"), "antigo");
    // Only listed files' temporary names are the run's.
    EXPECT_TRUE(DeleteFileW(Game("fora da lista.bin.novo").c_str()));
    ExpectSettled(pubs, NoFile);
    server.Forget();
    Have("depois.bin.novo", std::string(100000, '?'));
    server.On("/update/files/quebrado.bin", Rule::Body("novo"));
    ExpectSettled(Run(), Updated);
    EXPECT_EQ(In("depois.bin"), "novo");
}

// Dir plus a name must fit the 260-unit path fields, ".novo" included; an
// entry that does not fit ends the run before anything of it is written.
TEST_F(Update, PathsAtTheEdgeOfTheirFields) {
    std::wstring deep = game;
    while (deep.size() < 220) deep += L"\\" + std::wstring(std::min<size_t>(20, 230 - deep.size()), L'p');
    ASSERT_TRUE(WriteBytes(deep + L"\\x", ""));
    UseFolder(deep);
    // Path lengths without the terminator: 254 leaves room for ".novo", 255 does not.
    std::string fits(254 - deep.size() - 1, 'f'), over(255 - deep.size() - 1, 'o');
    List("a.bin", "primeiro");
    List(fits, "cabe");
    List(over, "não cabe");
    Publications pubs = Run();
    EXPECT_EQ(In("a.bin"), "primeiro");
    EXPECT_EQ(In(fits), "cabe");
    EXPECT_EQ(FileRequests(), (std::vector<std::string>{"a.bin", fits}));
    ExpectSettled(pubs, NoFile);
}

// ---- Several files at once ---------------------------------------------------------------

class Parallel : public Update {
protected:
    // n files of a few KiB, each listed with its index in its name; the
    // player has an old copy of each.
    void Files(int n) {
        for (int i = 0; i < n; i++) {
            Have(Name(i), "antigo " + std::to_string(i));
            List(Name(i), std::string(2000 + 100 * i, (char)('a' + i % 26)));
        }
    }
    static std::string Name(int i) { return "dados/" + std::to_string(i / 4) + "/f" + std::to_string(i) + ".bin"; }
    std::string New(int i) { return std::string(2000 + 100 * i, (char)('a' + i % 26)); }
};

// Whatever order the files arrive in, each lands whole, each name is shown
// once with its ordinal in the order the files started, and the bar counts
// the bytes of all of them; with 1, 4 and 8 connections, the server never
// has more open than that, and they are kept for the next file.
TEST_F(Parallel, WhatLandsDoesNotDependOnTheOrderOfCompletion) {
    for (int lanes : {1, 4, 8}) {
        SCOPED_TRACE("lanes " + std::to_string(lanes));
        UseFolder(FreshDir(L"game-parallel"));
        manifest.clear();
        server.Forget();
        const int n = 12;
        Files(n);
        // The first listed arrive last.
        for (int i = 0; i < n; i++) server.On("/update/files/" + Name(i), Rule().After(30 * (n - i)));
        Lanes = lanes;
        Publications pubs = Run();
        ExpectSettled(pubs, Updated);
        for (int i = 0; i < n; i++) EXPECT_EQ(In(Name(i)), New(i)) << Name(i);
        EXPECT_EQ(FileRequests().size(), (size_t)n);
        std::vector<int> ordinals;
        for (const auto &p : Texts(pubs)) {
            size_t of = p.first.find(L" de 12)...");
            if (p.first.rfind(L"Baixando ", 0) == 0 && of != std::wstring::npos)
                ordinals.push_back(std::stoi(p.first.substr(p.first.rfind(L'(', of) + 1)));
        }
        std::vector<int> want(n);
        for (int i = 0; i < n; i++) want[i] = i + 1;
        EXPECT_EQ(ordinals, want);
        int last = -1;
        for (const auto &p : pubs) {
            EXPECT_GE(p.second, last) << Utf8(p.first);
            last = p.second;
        }
        EXPECT_LE(server.MostAtOnce(), lanes);
        if (lanes > 1) EXPECT_EQ(server.MostAtOnce(), lanes) << "the files did not overlap";
        EXPECT_LE(server.Connections(), lanes + 1) << "connections were not kept for the next file";
    }
}

// The first failure ends the run: no file starts after it, those under way
// finish and are placed, and the run ends with the failure's text; every file
// is its old or its new self.
TEST_F(Parallel, AFailureStopsNewStartsAndLetsTheOthersEnd) {
    const int n = 10;
    Files(n);
    for (int i = 0; i < n; i++) server.On("/update/files/" + Name(i), Rule().After(400));
    server.On("/update/files/" + Name(1), Rule::Status(404, "sumiu").After(50));
    Lanes = 4;
    Publications pubs = Run();
    ExpectSettled(pubs, NoFile);
    std::vector<std::string> asked = FileRequests();
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ(asked, (std::vector<std::string>{Name(0), Name(1), Name(2), Name(3)}));
    for (int i = 0; i < n; i++)
        EXPECT_EQ(In(Name(i)), i == 0 || i == 2 || i == 3 ? New(i) : "antigo " + std::to_string(i)) << Name(i);
}

// The window is told at most every PublishMs, however many small files go by.
std::vector<DWORD> Told;
void Tell(const wchar_t *, int) { Told.push_back(GetTickCount()); }

TEST_F(Parallel, TheStatusLineIsRepaintedAtABoundedRate) {
    const int n = 300;
    for (int i = 0; i < n; i++) List("p/" + std::to_string(i), std::to_string(i));
    Lanes = 8;
    PublishMs = 50;
    void (*hook)(const wchar_t *, int) = PublishHook;
    PublishHook = Tell;
    Told.clear();
    DWORD start = GetTickCount();
    Publications pubs = Run();
    DWORD took = GetTickCount() - start;
    PublishHook = hook;
    EXPECT_EQ(Status, Updated);
    // The first and last texts of the run, and one a PublishMs at most between.
    EXPECT_LE(Told.size(), 3 + took / 50) << took << " ms";
    EXPECT_GE(Told.size(), 3u);
}

// ---- Manifests as large as a whole client ----------------------------------------------

// One entry or one byte beyond the limits is no release: nothing is asked
// or touched.
TEST_F(Update, AManifestBeyondTheLimitsIsNeverAppliedInPart) {
    Have("a.bin", "antigo");
    List("a.bin", "novo");
    std::string entries = manifest, bytes = manifest;
    for (int i = 0; i < EntryMax; i++) entries += "d/" + std::to_string(i) + "|" + Md5A + "|1\n";
    while (bytes.size() < (size_t)ListMax - 41) bytes += "# uma linha de comentário que só ocupa\n";
    bytes += std::string(ListMax - bytes.size(), '#');
    struct Case {
        const char *what;
        std::string doc;
        bool taken;
    } cases[] = {{"100,001 entries", entries, false},
                 {"16 MiB", bytes, true},
                 {"16 MiB and a byte", bytes + "#", false},
                 {"16 MiB and a byte, compressed", Gzipped(bytes + "#"), false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        server.Forget();
        if (c.doc[0] == '\x1f') server.On("/update/lista.txt", Rule::Body(c.doc).Header("Content-Encoding: gzip"));
        else ASSERT_TRUE(WriteBytes(site + L"\\update\\lista.txt", c.doc));
        manifest.clear();
        Have("a.bin", "antigo");
        Publications pubs = Run();
        EXPECT_EQ(pubs.back().first, c.taken ? Updated : NoList);
        EXPECT_EQ(In("a.bin"), c.taken ? "novo" : "antigo");
        EXPECT_EQ(FileRequests().size(), c.taken ? 1u : 0u);
    }
}

// ---- A manifest that did not change ------------------------------------------------------

// The last accepted manifest is kept with its version; the next start asks
// whether it changed, and a 304 costs no manifest at all.
TEST_F(Update, AManifestThatDidNotChangeIsNotFetchedAgain) {
    List("a.bin", "a");
    List("b.bin", "b");
    Publications pubs = Run();
    ExpectSettled(pubs, Updated);
    static std::string first;
    first = manifest;
    manifest.clear();  // the site's manifest stays as it is, version and all
    struct Case {
        const char *what;
        void (*change)(Update *t);
        int status;             // the manifest's answer at the next start
        const std::wstring &text;
    } cases[] = {
        {"nothing changed", [](Update *) {}, 304, Current},
        {"a site that ignores the version asked for",
         [](Update *t) { t->server.On("/update/lista.txt", Rule().Unconditional()); }, 200, Current},
        {"a new release", [](Update *t) {
             Sleep(20);  // another last-write time: another version
             t->manifest = first;
             t->List("c.bin", "c");
             WriteBytes(t->site + L"\\update\\lista.txt", t->manifest);
             t->manifest.clear();
         }, 200, Updated},
        {"the kept copy damaged on disk", [](Update *t) {
             wchar_t kept[PathLen];
             ASSERT_TRUE(KeptPath(t->game.c_str(), kept, PathLen));
             std::string k = ReadBytes(kept);
             ASSERT_FALSE(k.empty());
             k[k.size() - 3] ^= 1;
             ASSERT_TRUE(WriteBytes(kept, k));
             DeleteFileW(t->Game("c.bin").c_str());
         }, 304, Updated},
        {"the kept copy deleted", [](Update *t) {
             wchar_t kept[PathLen];
             ASSERT_TRUE(KeptPath(t->game.c_str(), kept, PathLen));
             ASSERT_TRUE(DeleteFileW(kept));
         }, 200, Current},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        server.Forget();
        c.change(this);
        pubs = Run();
        ExpectSettled(pubs, c.text);
        std::vector<std::string> heads = server.Heads(), paths = server.Paths();
        std::vector<int> statuses = server.Statuses();
        ASSERT_GE(paths.size(), 2u);
        EXPECT_EQ(paths[1], "/update/lista.txt");
        EXPECT_EQ(statuses[1], c.status) << heads[1];
        EXPECT_NE(heads[1].find("\r\nAccept-Encoding: gzip\r\n"), std::string::npos) << heads[1];
        // A damaged copy is fetched again, whole.
        int whole = (int)std::count(paths.begin(), paths.end(), std::string("/update/lista.txt")) - 1;
        EXPECT_EQ(whole, c.status == 304 && c.text == Updated ? 1 : 0);
        for (const std::string &name : {"a.bin", "b.bin"}) EXPECT_EQ(In(name), name.substr(0, 1));
    }
}

// A manifest may travel compressed; what arrives damaged or cut is no
// manifest, and neither is an encoding the launcher does not know.
TEST_F(Update, ACompressedManifestArrivesWholeOrNotAtAll) {
    List("a.bin", "a");
    List("dados/b.bin", std::string(70000, 'b'));  // a manifest of several stored blocks
    manifest += std::string(70000, '#') + "\n";
    std::string gz = Gzipped(manifest), bad = gz, crc = gz;
    bad[gz.size() / 2] ^= 0x40;
    crc[gz.size() - 6] ^= 1;
    struct Case {
        const char *what;
        Rule rule;
        const std::wstring &text;
    } cases[] = {
        {"gzip", Rule::Body(gz).Header("Content-Encoding: gzip"), Updated},
        {"a damaged byte", Rule::Body(bad).Header("Content-Encoding: gzip"), NoList},
        {"a wrong check value", Rule::Body(crc).Header("Content-Encoding: gzip"), NoList},
        {"cut short", Rule::Body(gz.substr(0, gz.size() - 20)).Header("Content-Encoding: gzip"), NoList},
        {"dropped in the middle, twice", Rule::CutAt(gz.size() / 2).With(gz).Header("Content-Encoding: gzip"), NoList},
        {"another encoding", Rule::Body(gz).Header("Content-Encoding: br"), NoList},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        UseFolder(FreshDir(L"game-gzip"));
        server.Forget();
        server.On("/update/lista.txt", c.rule);
        Publications pubs = Run();
        ExpectSettled(pubs, c.text);
        EXPECT_EQ(FileRequests().size(), c.text == Updated ? 2u : 0u);
    }
}

// ---- What the disk refuses ------------------------------------------------------------
// faults_test.py runs these (CTest's own run leaves them out) with two game
// folders of its making: VELMORA_FULL_DISK on a disk of a few MiB, empty,
// and VELMORA_READ_ONLY on a disk mounted read-only, holding a.bin, as a
// folder under Program Files is to a player without the rights to it.

class Disk : public Update {};

TEST_F(Disk, AFullDiskAndAFolderWithoutRightsHaveTheirOwnTexts) {
    const char *full = getenv("VELMORA_FULL_DISK"), *locked = getenv("VELMORA_READ_ONLY");
    if (!full || !locked) GTEST_SKIP() << "faults_test.py gives these their disks";
    struct Case {
        const char *what, *folder;
        const char *name;  // the file to fetch; z.bin follows it
        long long size;
        const std::wstring &text;
    } cases[] = {
        {"the download fills the disk", full, "a.bin", 32 << 20, NoRoom},
        {"a file in a folder without write rights", locked, "a.bin", 1000, NoRights},
        {"a new folder in a folder without write rights", locked, "novos/b.bin", 1000, NoRights},
    };
    std::string big(32 << 20, '\0');
    for (size_t i = 0; i < big.size(); i++) big[i] = (char)(i * 2654435761u >> 13);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        UseFolder(Wide(c.folder));
        if (c.folder == full) {
            RemoveTree(game);
            ASSERT_TRUE(CreateDirectoryW(game.c_str(), 0));
            Have("a.bin", "a antigo");
            Have("z.bin", "z antigo");
        }
        std::string before = In("a.bin");
        ASSERT_FALSE(before.empty()) << "the folder holds no a.bin";
        manifest.clear();
        server.Forget();
        List(c.name, big.substr(0, (size_t)c.size));
        List("z.bin", "z novo");
        ResetState();
        Publications pubs = Run();
        ExpectSettled(pubs, c.text);
        EXPECT_EQ(In("a.bin"), before);
        EXPECT_NE(In("z.bin"), "z novo");
        EXPECT_FALSE(Exists(Game(std::string(c.name) + ".retomar")));
        EXPECT_EQ(FileRequests().size(), c.text == NoRoom ? 1u : 0u) << "asked for a file it could never place";
    }
}

// ---- The launcher replacing its own executable ------------------------------------------
// A real running program stands in for the launcher, so the platform's rules
// for running files apply: it can be renamed, not overwritten. Whatever fails,
// a launcher stands under its own name afterwards, and Restart means it is the new one.

class SelfUpdate : public Update {
protected:
    std::wstring exe, old, temp;
    std::string oldExe, newExe = "MZ novo launcher " + std::string(20000, 'n');
    HANDLE running = 0;

    void SetUp() override {
        Update::SetUp();
        exe = game + L"\\VelmoraLauncher.exe";
        old = exe + L".old";
        temp = exe + L".novo";
        ASSERT_TRUE(CopyFileW(TEST_PROGRAMS L"\\holder.exe", exe.c_str(), FALSE));
        oldExe = ReadBytes(exe);
        ASSERT_TRUE(running = Start(exe, L"", game));
    }
    void TearDown() override { Kill(running); }
    // The old launcher is back under its name, nothing was restarted.
    void ExpectOldLauncherKept(const Publications &pubs, const std::wstring &text = InUse) {
        ExpectSettled(pubs, text);
        EXPECT_TRUE(ReadBytes(exe) == oldExe) << "the launcher is not the old one";
        EXPECT_EQ(Restart, 0);
        EXPECT_EQ(WaitForSingleObject(running, 0), WAIT_TIMEOUT);
    }
};

TEST_F(SelfUpdate, TheLaunchersOwnNameInAnyCaseIsReplacedAndRestarts) {
    ASSERT_TRUE(WriteBytes(old, "leftover of an earlier update"));
    ASSERT_TRUE(WriteBytes(temp, std::string(50000, '?')));  // left by a killed run
    List("dados/mapa.bin", "mapa");
    List("velmoraLAUNCHER.Exe", newExe);
    List("zz.bin", "depois do launcher");
    Publications pubs = Run();
    ExpectSettled(pubs, Restarting);  // the restart rides on the last message
    EXPECT_EQ(ReadBytes(exe), newExe);
    EXPECT_EQ(ReadBytes(old), oldExe);
    EXPECT_EQ(In("zz.bin"), "depois do launcher");
    EXPECT_EQ(Restart, 1);
    EXPECT_EQ(WaitForSingleObject(running, 0), WAIT_TIMEOUT) << "it runs on under its \".old\" name";
}

// The new launcher restarts the run: every other file must be in place
// first, also when its name sorts first and other files are still arriving;
// when one of them fails, the launcher is not even asked for.
TEST_F(SelfUpdate, TheLaunchersOwnFileIsSwappedLastEvenWhenItSortsFirst) {
    for (bool fail : {true, false}) {
        SCOPED_TRACE(fail ? "another file fails" : "all arrive");
        ResetState();
        manifest.clear();
        server.Forget();
        RemoveTree(game + L"\\dados");
        List("VelmoraLauncher.exe", newExe);
        for (int i = 0; i < 6; i++) {
            List("dados/" + std::to_string(i) + ".bin", std::string(3000, (char)('0' + i)));
            server.On("/update/files/dados/" + std::to_string(i) + ".bin", Rule().After(100));
        }
        if (fail) server.On("/update/files/dados/4.bin", Rule::Status(404));
        Lanes = 4;
        Publications pubs = Run();
        std::vector<std::string> asked = FileRequests();
        if (fail) {
            EXPECT_EQ(std::count(asked.begin(), asked.end(), "VelmoraLauncher.exe"), 0);
            ExpectOldLauncherKept(pubs, NoFile);
            continue;
        }
        ExpectSettled(pubs, Restarting);
        ASSERT_FALSE(asked.empty());
        EXPECT_EQ(asked.back(), "VelmoraLauncher.exe");
        EXPECT_TRUE(ReadBytes(exe) == newExe);
        for (int i = 0; i < 6; i++) EXPECT_EQ(In("dados/" + std::to_string(i) + ".bin"), std::string(3000, (char)('0' + i)));
    }
}

// Copied from read-only media or marked by an installer, the launcher is
// read-only, and so is the ".old" its first swap leaves: while that stood,
// every later swap failed (Windows deletes no read-only file), the player
// was told to close the game at every start, and nothing behind the
// launcher in the manifest was ever updated. A read-only game file is
// replaced all the same. (Wine deletes and replaces read-only files freely:
// there this holds either way.)
TEST_F(SelfUpdate, ReadOnlyFilesAreReplacedTwiceInARow) {
    std::string before = oldExe;
    for (char version : {'2', '3'}) {
        SCOPED_TRACE(version);
        std::string next = oldExe + std::string(1000, version);  // runs as the old one does
        manifest.clear();
        Have("dados/mapa.bin", "mapa antigo");
        List("dados/mapa.bin", std::string("mapa ") + version);
        List("VelmoraLauncher.exe", next);
        List("zz.bin", std::string("depois do launcher ") + version);
        for (const std::wstring &f : {exe, Game("dados/mapa.bin")})
            ASSERT_TRUE(SetFileAttributesW(f.c_str(), FILE_ATTRIBUTE_READONLY));
        ResetState();
        ExpectSettled(Run(), Restarting);
        EXPECT_EQ(ReadBytes(exe), next);
        EXPECT_EQ(ReadBytes(old), before) << "the .old of the swap before did not make way";
        before = next;
        EXPECT_EQ(In("dados/mapa.bin"), std::string("mapa ") + version);
        EXPECT_EQ(In("zz.bin"), std::string("depois do launcher ") + version);
        // The old launcher ends; the new one runs from the launcher's name.
        Kill(running);
        ASSERT_TRUE(running = Start(exe, L"", game));
    }
}

TEST_F(SelfUpdate, MovingTheRunningLauncherAsideFails) {
    // The launcher held open without delete sharing, or an old ".old" held
    // open that cannot make way.
    for (bool holdOld : {false, true}) {
        SCOPED_TRACE(holdOld ? "the old .old is held" : "the launcher is held");
        ResetState();
        manifest.clear();
        DeleteFileW(old.c_str());
        if (holdOld) ASSERT_TRUE(WriteBytes(old, "older launcher"));
        HANDLE h = HoldFile(holdOld ? old : exe, FILE_SHARE_READ);
        ASSERT_TRUE(h) << "could not hold the file";
        List("VelmoraLauncher.exe", newExe);
        Publications pubs = Run();
        Kill(h);
        ExpectOldLauncherKept(pubs);
        if (holdOld) EXPECT_EQ(ReadBytes(old), "older launcher");
    }
}

// Something (a virus scanner, typically) opens the verified download before it
// can take the launcher's place: the launcher has already stepped aside and
// must be put back. The watcher grabs the file the moment the download's
// exclusive handle closes, while its MD5 is computed; the file is large so
// that this window is wide, and a missed window is tried again.
TEST_F(SelfUpdate, PuttingTheNewLauncherInPlaceFails) {
    newExe = std::string(48 << 20, 'n');
    List("VelmoraLauncher.exe", newExe);
    bool grabbed = false;
    for (int attempt = 0; attempt < 3 && !grabbed; attempt++) {
        ResetState();
        std::atomic<bool> stop{false}, held{false};
        std::thread watcher([&] {
            HANDLE f = INVALID_HANDLE_VALUE;
            while (!stop && f == INVALID_HANDLE_VALUE)
                f = CreateFileW(temp.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_EXISTING, 0, 0);
            held = f != INVALID_HANDLE_VALUE;
            while (!stop) Sleep(5);
            if (held) CloseHandle(f);
        });
        Publications pubs = Run();
        grabbed = held;
        stop = true;
        watcher.join();
        if (!grabbed) {  // the download won the race: start again from the old launcher
            ASSERT_EQ(Restart, 1);
            DeleteFileW(exe.c_str());
            ASSERT_TRUE(MoveFileW(old.c_str(), exe.c_str()));
            continue;
        }
        EXPECT_EQ(ReadBytes(exe), oldExe);
        EXPECT_EQ(Restart, 0);
        EXPECT_EQ(pubs.back(), std::make_pair(InUse, 1000));
        EXPECT_FALSE(Exists(old));
        // The held download could not be deleted; it is whole, and the next run overwrites it.
        if (Exists(temp)) EXPECT_EQ(ReadBytes(temp).size(), newExe.size());
    }
    EXPECT_TRUE(grabbed) << "the watcher never caught the download in time";
}

TEST_F(SelfUpdate, ACorruptNewLauncherTouchesNothing) {
    List("VelmoraLauncher.exe", newExe);
    server.On("/update/files/VelmoraLauncher.exe", Rule::Body(std::string(newExe.size(), 'x')));
    Publications pubs = Run();
    ExpectSettled(pubs, Corrupt);
    EXPECT_EQ(ReadBytes(exe), oldExe);
    EXPECT_FALSE(Exists(old));
    EXPECT_EQ(Restart, 0);
}

// Closing the window ends the process; while the launcher's executable is
// half swapped, that would leave only the ".old" file in the folder.
TEST_F(SelfUpdate, ClosingWaitsForAHalfDoneSwapAndStopsLaterOnes) {
    ASSERT_TRUE(WriteBytes(temp, newExe));
    static HANDLE inside;
    inside = CreateEventW(0, TRUE, FALSE, 0);
    SwapHook = [] {
        SetEvent(inside);
        Sleep(300);  // a slow disk between the two moves
    };
    std::thread net([&] { ReplaceSelf(temp.c_str()); });
    ASSERT_EQ(WaitForSingleObject(inside, 10000), (DWORD)WAIT_OBJECT_0);
    EndSwaps(SwapWaitMs);  // the window thread on its way out
    EXPECT_EQ(ReadBytes(exe), newExe);
    EXPECT_EQ(Restart, 1);
    net.join();
    SwapHook = 0;
    CloseHandle(inside);
    ASSERT_TRUE(WriteBytes(temp, "MZ mais um"));
    EXPECT_EQ(ReplaceSelf(temp.c_str()), 0);
    EXPECT_EQ(ReadBytes(exe), newExe);
}

HANDLE WINAPI NoThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
}

// Without the network thread nobody would set Ready: the game could never start.
TEST_F(NetRun, WithoutANetworkThreadTheGameCanStillBeStarted) {
    NewThread = NoThread;
    StartNet();
    NewThread = CreateThread;
    msgs.clear();
    for (MSG m; PeekMessageW(&m, Wnd, WM_NETSTATE, WM_NETSTATE, PM_REMOVE);) msgs.push_back(m.wParam);
    EXPECT_EQ(Ready, 1);
    EXPECT_EQ(Progress, 1000);
    EXPECT_EQ(std::wstring(Status), L"Sem conexão com a internet.");
    ASSERT_FALSE(msgs.empty());
    EXPECT_EQ(msgs.back(), 1u);
}

// The last message is waited out while the window's queue refuses it; once the
// window is gone the launcher is ending anyway, and the thread must end too.
TEST_F(NetRun, AWindowThatIsGoneDoesNotHoldTheLastMessage) {
    Wnd = CreateWindowW(L"STATIC", L"gone", 0, 0, 0, 10, 10, 0, 0, 0, 0);
    DestroyWindow(Wnd);
    std::atomic<bool> done{false};
    std::thread net([&] {
        NetThread(0);
        done = true;
    });
    EXPECT_TRUE(WaitFor([&] { return done.load(); }, 20000));
    net.join();
    EXPECT_EQ(Ready, 1);
}

}  // namespace
