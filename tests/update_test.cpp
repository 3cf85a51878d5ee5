// Update runs against a real local web server and real files, through the
// network thread as the launcher runs it, recording every (Status, Progress)
// pair the window is told of.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/state.h"
#include "net/netthread.h"
#include "support/netutil.h"
#include "support/testutil.h"
#include "support/webserver.h"

namespace {

const std::wstring Checking = L"Verificando atualizações...";
const std::wstring NoList = L"Não foi possível verificar atualizações. Você pode jogar mesmo assim.";
const std::wstring NoFile = L"Falha ao baixar atualização. Tente de novo mais tarde.";
const std::wstring Corrupt = L"Arquivo de atualização corrompido. Tente de novo.";
const std::wstring InUse = L"Feche o jogo antes de atualizar e abra o launcher de novo.";
const std::wstring Updated = L"Jogo atualizado! Pronto para jogar.";
const std::wstring Current = L"Seu jogo está atualizado. Pronto para jogar.";

std::wstring Fetching(const std::wstring &name, int index, int need) {
    return L"Baixando " + name + L" (" + std::to_wstring(index) + L" de " + std::to_wstring(need) +
           L")...";
}

std::wstring WinName(const std::string &name) {
    std::wstring w = Wide(name);
    std::replace(w.begin(), w.end(), L'/', L'\\');
    return w;
}

// Every "*.novo" below dir.
void FindTemps(const std::wstring &dir, std::vector<std::wstring> &out) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring n = fd.cFileName;
        if (n == L"." || n == L"..") continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            FindTemps(dir + L"\\" + n, out);
        else if (n.size() > 5 && n.substr(n.size() - 5) == L".novo")
            out.push_back(dir + L"\\" + n);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

class Update : public ::testing::Test {
protected:
    std::wstring game, site;
    WebServer server;
    std::string manifest;
    std::vector<WPARAM> msgs;

    void SetUp() override {
        FreshNetState();
        std::wstring test = Wide(::testing::UnitTest::GetInstance()->current_test_info()->name());
        game = FreshDir(L"upd-" + test);
        site = FreshDir(L"upd-" + test + L"-site");
        CreateDirectoryW((site + L"\\update").c_str(), 0);
        CreateDirectoryW((site + L"\\update\\files").c_str(), 0);
        ASSERT_TRUE(server.Start(site));
        UseFolder(game);
        Wnd = NetWindow();
        TakeNetMessages(Wnd);
        RecordPublished();
        ClearPublished();
    }
    void UseFolder(const std::wstring &dir) {
        game = dir;
        lstrcpyW(Site, server.Base().c_str());
        lstrcpyW(Dir, game.c_str());
        lstrcpyW(SelfExe, (game + L"\\VelmoraLauncher.exe").c_str());
    }
    // Puts a file on the site and lists it; size < 0 lists its true size.
    void List(const std::string &name, const std::string &content, long long size = -1) {
        std::wstring path = site + L"\\update\\files\\" + WinName(name);
        MakeParents(path);
        ASSERT_TRUE(WriteBytes(path, content));
        manifest += name + "|" + Md5Of(content) + "|" +
                    std::to_string(size < 0 ? (long long)content.size() : size) + "\n";
    }
    void Have(const std::string &name, const std::string &content) {
        MakeParents(Game(name));
        ASSERT_TRUE(WriteBytes(Game(name), content));
    }
    std::wstring Game(const std::string &name) { return game + L"\\" + WinName(name); }
    std::string In(const std::string &name) { return ReadBytes(Game(name)); }

    // The whole network thread, as the launcher runs it (the site has no feed).
    Publications Run() {
        if (!manifest.empty()) WriteBytes(site + L"\\update\\lista.txt", manifest);
        ClearPublished();
        NetThread(0);
        msgs = TakeNetMessages(Wnd);
        return Published();
    }
    std::vector<std::string> FileRequests() {
        std::vector<std::string> out;
        for (const std::string &p : server.Paths())
            if (p.rfind("/update/files/", 0) == 0) out.push_back(p.substr(14));
        return out;
    }
    // What every run leaves, whatever its outcome.
    void ExpectSettled(const Publications &pubs) {
        std::vector<std::wstring> temps;
        FindTemps(game, temps);
        EXPECT_TRUE(temps.empty()) << "left behind: " << Utf8(temps[0]);
        EXPECT_EQ(Ready, 1);
        EXPECT_EQ(Progress, 1000);
        ASSERT_FALSE(pubs.empty());
        EXPECT_EQ(pubs.front(), std::make_pair(Checking, -1));
        EXPECT_EQ(pubs.back().second, 1000);
        // One message for the feed, one per publication, then the last one.
        ASSERT_EQ(msgs.size(), pubs.size() + 2);
        EXPECT_EQ(std::count(msgs.begin(), msgs.end(), 1), 1);
        EXPECT_EQ(msgs.back(), 1u);
    }
};

// The pairs at which the text changes: what the player reads, in order.
Publications Texts(const Publications &pubs) {
    Publications out;
    for (const auto &p : pubs)
        if (out.empty() || out.back().first != p.first) out.push_back(p);
    return out;
}

TEST_F(Update, EverythingCurrentGoesFromBusyStraightToDone) {
    Have("a.bin", "conteúdo de a");
    Have("dados/b.bin", "conteúdo de b");
    List("a.bin", "conteúdo de a");
    manifest += "dados/b.bin|" + [] {
        std::string m = Md5Of("conteúdo de b");
        std::transform(m.begin(), m.end(), m.begin(), ::toupper);
        return m;
    }() + "|13\n";
    Publications pubs = Run();
    EXPECT_EQ(pubs, (Publications{{Checking, -1}, {Current, 1000}}));
    EXPECT_TRUE(FileRequests().empty());
    ExpectSettled(pubs);
}

TEST_F(Update, TwoMissingFilesOf100And300Bytes) {
    List("a.bin", std::string(100, 'a'));
    List("b.bin", std::string(300, 'b'));
    Publications pubs = Run();
    EXPECT_EQ(Texts(pubs), (Publications{{Checking, -1},
                                          {Fetching(L"a.bin", 1, 2), 0},
                                          {Fetching(L"b.bin", 2, 2), 250},
                                          {Updated, 1000}}));
    int last = -1;
    for (const auto &p : pubs) {
        if (p.first == Fetching(L"a.bin", 1, 2)) EXPECT_LE(p.second, 250);
        EXPECT_GE(p.second, last);
        last = p.second;
    }
    EXPECT_EQ(pubs[pubs.size() - 2], std::make_pair(Fetching(L"b.bin", 2, 2), 1000));
    EXPECT_EQ(In("a.bin"), std::string(100, 'a'));
    EXPECT_EQ(In("b.bin"), std::string(300, 'b'));
    EXPECT_EQ(FileRequests(), (std::vector<std::string>{"a.bin", "b.bin"}));
    ExpectSettled(pubs);
}

TEST_F(Update, OnlyDifferingFilesAreFetchedAndCounted) {
    Have("igual.bin", "mesmo");
    Have("velho.bin", "versão antiga");
    List("igual.bin", "mesmo");
    List("velho.bin", "versão nova");
    List("novo.bin", "arquivo novo");
    Publications pubs = Run();
    EXPECT_EQ(Texts(pubs)[1].first, Fetching(L"velho.bin", 1, 2));
    EXPECT_EQ(Texts(pubs)[2].first, Fetching(L"novo.bin", 2, 2));
    EXPECT_EQ(In("velho.bin"), "versão nova");
    EXPECT_EQ(In("novo.bin"), "arquivo novo");
    EXPECT_EQ(FileRequests(), (std::vector<std::string>{"velho.bin", "novo.bin"}));
    EXPECT_EQ(pubs.back().first, Updated);
    ExpectSettled(pubs);
}

TEST_F(Update, AllSizesZeroKeepTheProgressAtZero) {
    List("a.bin", "aaaa", 0);
    List("b.bin", "bbbb", 0);
    Publications pubs = Run();
    for (size_t i = 1; i + 1 < pubs.size(); i++) EXPECT_EQ(pubs[i].second, 0) << Utf8(pubs[i].first);
    EXPECT_EQ(pubs.back(), std::make_pair(Updated, 1000));
    ExpectSettled(pubs);
}

TEST_F(Update, ABodyLargerThanTheTransferBufferIsPublishedPieceByPiece) {
    std::string big(300000, 'x');  // over two transfer buffers
    for (size_t i = 0; i < big.size(); i++) big[i] = (char)(i * 7);
    List("grande.bin", big);
    Publications pubs = Run();
    size_t pieces = 0;
    int last = 0;
    for (const auto &p : pubs) {
        if (p.first != Fetching(L"grande.bin", 1, 1)) continue;
        pieces++;
        EXPECT_GE(p.second, last);
        last = p.second;
    }
    EXPECT_GE(pieces, 1 + 300000 / 131072);  // the start, then at least one per full buffer
    EXPECT_EQ(last, 1000);
    EXPECT_EQ(In("grande.bin"), big);
    ExpectSettled(pubs);
}

TEST_F(Update, SizesBeyond32BitsNeverWrapTheProgress) {
    // 4294967295 + 101 wraps to 100 in 32 bits, which would show 50 bytes as 500.
    List("a.bin", std::string(50, 'a'), 4294967295LL);
    List("b.bin", std::string(101, 'b'), 101);
    Publications pubs = Run();
    for (size_t i = 1; i + 1 < pubs.size(); i++) EXPECT_EQ(pubs[i].second, 0) << Utf8(pubs[i].first);
    EXPECT_EQ(pubs.back(), std::make_pair(Updated, 1000));
    ExpectSettled(pubs);
}

TEST_F(Update, FilesLargerThanListedPassAThousandUntilTheEnd) {
    List("a.bin", std::string(100, 'a'), 10);
    Publications pubs = Run();
    EXPECT_EQ(pubs[pubs.size() - 2].second, 10000);
    EXPECT_EQ(pubs.back(), std::make_pair(Updated, 1000));
    ExpectSettled(pubs);
}

TEST_F(Update, NoManifestChangesNothing) {
    Have("a.bin", "fica");
    Publications pubs = Run();  // the site has no lista.txt: 404
    EXPECT_EQ(pubs, (Publications{{Checking, -1}, {NoList, 1000}}));
    EXPECT_EQ(In("a.bin"), "fica");
    EXPECT_TRUE(FileRequests().empty());
    ExpectSettled(pubs);
}

// A manifest that lists nothing checked nothing: no news that the game is current.
TEST_F(Update, AManifestWithoutAcceptableEntries) {
    Have("a.bin", "fica");
    for (const std::string &doc :
         {std::string(), std::string("<!DOCTYPE html><html><body>Bem-vindo!</body></html>\n"),
          "# só comentários\n\n../fora.bin|" + Md5Of("x") + "|1\n|" + Md5Of("x") + "|1\n"}) {
        SCOPED_TRACE(doc);
        server.Forget();
        WriteBytes(site + L"\\update\\lista.txt", doc);
        manifest.clear();
        Publications pubs = Run();
        EXPECT_EQ(pubs, (Publications{{Checking, -1}, {NoList, 1000}}));
        EXPECT_TRUE(FileRequests().empty());
        EXPECT_EQ(In("a.bin"), "fica");
        ExpectSettled(pubs);
    }
}

TEST_F(Update, UnsafeAndEmptyNamesAreNeverFetched) {
    std::wstring outside = game.substr(0, game.rfind(L'\\')) + L"\\fora.bin";
    DeleteFileW(outside.c_str());
    manifest = "../fora.bin|" + Md5Of("x") + "|1\n/raiz.bin|" + Md5Of("x") + "|1\nC:x.bin|" +
               Md5Of("x") + "|1\n|" + Md5Of("x") + "|1\n";
    List("ok.bin", "ok");
    Publications pubs = Run();
    EXPECT_EQ(FileRequests(), (std::vector<std::string>{"ok.bin"}));
    EXPECT_EQ(Texts(pubs)[1].first, Fetching(L"ok.bin", 1, 1));
    EXPECT_FALSE(Exists(outside));
    EXPECT_EQ(pubs.back().first, Updated);
    ExpectSettled(pubs);
}

// Windows would open the device: "aux.txt" writes to a serial port, "con"
// to the console. Such entries are passed over like the other unsafe names.
TEST_F(Update, DeviceNamesAreNeverFetched) {
    for (const char *name : {"aux.txt", "dados/CON", "NUL/x.bin", "Com1.dat", "lpt9"})
        manifest += std::string(name) + "|" + Md5Of("x") + "|1\n";
    List("ok.bin", "ok");
    Publications pubs = Run();
    EXPECT_EQ(FileRequests(), (std::vector<std::string>{"ok.bin"}));
    EXPECT_EQ(Texts(pubs)[1].first, Fetching(L"ok.bin", 1, 1));
    EXPECT_EQ(pubs.back().first, Updated);
    EXPECT_FALSE(Exists(Game("dados")));
    ExpectSettled(pubs);
}

// A manifest saved by a Windows editor starts with a byte-order mark; its
// first entry must still reach the file it names, not one whose name starts
// with an invisible character.
TEST_F(Update, AManifestWithAByteOrderMark) {
    List("primeiro.bin", "um");
    List("segundo.bin", "dois");
    manifest = "\xEF\xBB\xBF" + manifest;
    Publications pubs = Run();
    EXPECT_EQ(FileRequests(), (std::vector<std::string>{"primeiro.bin", "segundo.bin"}));
    EXPECT_EQ(In("primeiro.bin"), "um");
    EXPECT_FALSE(Exists(game + L"\\\xFEFFprimeiro.bin"));
    EXPECT_EQ(pubs.back().first, Updated);
    ExpectSettled(pubs);
}

// A temporary file with no record of what it belongs to is not resumed; it
// goes in the next run even when that run has nothing to fetch for its file
// (the site went back to the version the player has), or fails before
// reaching it.
TEST_F(Update, TemporaryFilesOfAKilledRunGoInTheNextRun) {
    Have("atual.bin", "igual");
    Have("atual.bin.novo", std::string(70000, '?'));
    Have("depois.bin", "antigo");
    Have("depois.bin.novo", std::string(5000, '?'));
    Have("fora da lista.bin.novo", "de um arquivo que a lista não tem");
    List("atual.bin", "igual");
    List("quebrado.bin", "novo");
    List("depois.bin", "novo");
    server.On("/update/files/quebrado.bin", Answer::WithStatus(404));
    Publications pubs = Run();
    EXPECT_EQ(pubs.back(), std::make_pair(Corrupt, 1000));
    EXPECT_EQ(FileRequests(), (std::vector<std::string>{"quebrado.bin"}));
    EXPECT_FALSE(Exists(Game("atual.bin.novo")));
    EXPECT_FALSE(Exists(Game("depois.bin.novo")));
    EXPECT_EQ(In("depois.bin"), "antigo");
    // Only listed files' temporary names are touched: nothing else is the run's.
    EXPECT_TRUE(Exists(Game("fora da lista.bin.novo")));
    DeleteFileW(Game("fora da lista.bin.novo").c_str());
    ExpectSettled(pubs);
}

// A 404 will not change by asking again: the run stops at that file, and its
// page is never taken for the file.
TEST_F(Update, A404ForAFileStopsTheRun) {
    Have("b.bin", "antigo");
    List("a.bin", "novo a");
    List("b.bin", "novo b");
    List("c.bin", "novo c");
    server.On("/update/files/b.bin", Answer::WithStatus(404, "<html>não achei</html>"));
    Publications pubs = Run();
    EXPECT_EQ(pubs.back(), std::make_pair(Corrupt, 1000));
    EXPECT_EQ(In("a.bin"), "novo a");
    EXPECT_EQ(In("b.bin"), "antigo");
    EXPECT_FALSE(Exists(Game("c.bin")));
    EXPECT_EQ(FileRequests(), (std::vector<std::string>{"a.bin", "b.bin"}));
    ExpectSettled(pubs);
}

TEST_F(Update, AFileHeldWithoutSharingCannotBeReplaced) {
    Have("a.bin", "a antigo");
    Have("main.exe", "jogo antigo");
    Have("c.bin", "c antigo");
    List("a.bin", "a novo");
    List("main.exe", "jogo novo");
    List("c.bin", "c novo");
    HANDLE game = HoldFile(Game("main.exe"), 0);
    ASSERT_TRUE(game);
    Publications pubs = Run();
    Kill(game);
    EXPECT_EQ(pubs.back(), std::make_pair(InUse, 1000));
    EXPECT_EQ(In("a.bin"), "a novo");
    EXPECT_EQ(In("main.exe"), "jogo antigo");
    EXPECT_EQ(In("c.bin"), "c antigo");
    EXPECT_EQ(FileRequests(), (std::vector<std::string>{"a.bin", "main.exe"}));
    ExpectSettled(pubs);
}

// When the temporary file cannot be made, no download could ever be placed:
// the player is told to close what holds it, and nothing is requested.
TEST_F(Update, ATemporaryFileThatCannotBeMade) {
    for (bool folder : {true, false}) {
        SCOPED_TRACE(folder ? "a folder under the temporary name" : "a file where a folder must be");
        manifest.clear();
        server.Forget();
        RemoveTree(game);
        CreateDirectoryW(game.c_str(), 0);
        List("a.bin", "a novo");
        List("dados/b.bin", "b novo");
        if (folder) {
            CreateDirectoryW(Game("dados").c_str(), 0);
            CreateDirectoryW(Game("dados/b.bin.novo").c_str(), 0);
        } else {
            Have("dados", "um arquivo, não uma pasta");
        }
        Publications pubs = Run();
        EXPECT_EQ(pubs.back(), std::make_pair(InUse, 1000));
        EXPECT_EQ(In("a.bin"), "a novo");
        EXPECT_EQ(FileRequests(), (std::vector<std::string>{"a.bin"}));
        EXPECT_EQ(Ready, 1);
    }
}

TEST_F(Update, NamesWithSpacesAndFolders) {
    List("Data Files/sub dir/x y.bin", "espaços");
    List("a/b/c/d.bin", "fundo");
    Publications pubs = Run();
    EXPECT_EQ(FileRequests(),
              (std::vector<std::string>{"Data%20Files/sub%20dir/x%20y.bin", "a/b/c/d.bin"}));
    EXPECT_EQ(Texts(pubs)[1].first, Fetching(L"Data Files\\sub dir\\x y.bin", 1, 2));
    EXPECT_EQ(In("Data Files/sub dir/x y.bin"), "espaços");
    EXPECT_EQ(In("a/b/c/d.bin"), "fundo");
    ExpectSettled(pubs);
}

// Reaching the server in the platform's code page, these could never match.
TEST_F(Update, NamesOutsideAsciiAndWithUrlSigns) {
    List("música/ação.ogg", "som");
    List("100% #1.txt", "sinais");
    Publications pubs = Run();
    EXPECT_EQ(FileRequests(), (std::vector<std::string>{"m%C3%BAsica/a%C3%A7%C3%A3o.ogg",
                                                        "100%25%20%231.txt"}));
    EXPECT_EQ(Texts(pubs)[1].first, Fetching(L"música\\ação.ogg", 1, 2));
    EXPECT_EQ(In("100% #1.txt"), "sinais");
    EXPECT_EQ(In("música/ação.ogg"), "som");
    ExpectSettled(pubs);
}

TEST_F(Update, AFileBehindARedirect) {
    List("a.bin", "redirecionado");
    server.On("/update/files/a.bin", Answer::RedirectTo("/espelho/a.bin"));
    server.On("/espelho/a.bin", Answer::Body("redirecionado"));
    Publications pubs = Run();
    EXPECT_EQ(pubs.back().first, Updated);
    EXPECT_EQ(In("a.bin"), "redirecionado");
    ExpectSettled(pubs);
}

TEST_F(Update, ATemporaryFileLeftByAKilledRunIsOverwritten) {
    Have("b.bin", "b antigo");
    Have("b.bin.novo", std::string(100000, '?'));
    List("b.bin", "b novo");
    Publications pubs = Run();
    EXPECT_EQ(pubs.back().first, Updated);
    EXPECT_EQ(In("b.bin"), "b novo");
    ExpectSettled(pubs);
}

// Dir plus a name must fit the 260-unit path fields, ".novo" included; an
// entry that does not fit ends the run before anything of it is written.
TEST_F(Update, PathsAtTheEdgeOfTheirFields) {
    std::wstring deep = game;
    while (deep.size() < 220) {
        deep += L"\\" + std::wstring(std::min<size_t>(20, 230 - deep.size()), L'p');
        CreateDirectoryW(deep.c_str(), 0);
    }
    ASSERT_TRUE(Exists(deep));
    UseFolder(deep);
    // Path lengths without the terminator: 254 leaves room for ".novo", 255 does not.
    std::string fits(254 - deep.size() - 1, 'f'), over(255 - deep.size() - 1, 'o');
    List("a.bin", "primeiro");
    List(fits, "cabe");
    List(over, "não cabe");
    Publications pubs = Run();
    EXPECT_EQ(pubs.back(), std::make_pair(NoFile, 1000));
    EXPECT_EQ(In("a.bin"), "primeiro");
    EXPECT_EQ(In(fits), "cabe");
    EXPECT_EQ(FileRequests(), (std::vector<std::string>{"a.bin", fits}));
    ExpectSettled(pubs);
}

}  // namespace
