// The record of verified files, through whole update runs against a real local
// server: a second start reads only what may have changed, and whatever
// happened between the starts, its result is the one a full hash gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/state.h"
#include "net/netthread.h"
#include "support/netutil.h"
#include "support/testutil.h"
#include "support/webserver.h"
#include "update/hashrec.h"
#include "update/md5.h"

namespace {

typedef std::vector<std::string> Names;

const std::wstring Checking = L"Verificando atualizações...";
const std::wstring Updated = L"Jogo atualizado! Pronto para jogar.";
const std::wstring Current = L"Seu jogo está atualizado. Pronto para jogar.";
const std::wstring FetchingA = L"Baixando a.bin (1 de 1)...";

// The game: three files of one size, one of them in a folder.
const Names All = {"a.bin", "b.bin", "dados\\c.bin"};
const std::string Content[] = {std::string(5000, 'a'), std::string(5000, 'b'), std::string(5000, 'c')};

const long long Hour = 3600LL * 10000000, Day = 24 * Hour;

// What the run hashed (full paths; downloads' own checks left out), and a
// clock Skew ahead of the system's.
std::vector<std::wstring> Hashed;
long long Skew;
void Count(const wchar_t *path) {
    std::wstring p = path;
    if (p.size() < 5 || p.substr(p.size() - 5) != L".novo") Hashed.push_back(p);
}
unsigned long long Clock() {
    FILETIME t;
    GetSystemTimeAsFileTime(&t);
    return ((unsigned long long)t.dwHighDateTime << 32 | t.dwLowDateTime) + Skew;
}

FILETIME WriteTime(const std::wstring &path) {
    FILETIME t = {};
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    GetFileTime(f, 0, 0, &t);
    CloseHandle(f);
    return t;
}

void SetWriteTime(const std::wstring &path, FILETIME t) {
    HANDLE f = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    EXPECT_TRUE(SetFileTime(f, 0, 0, &t));
    CloseHandle(f);
}

// Changes the file's content in place, keeping its size and last-write time.
void Tamper(const std::wstring &path) {
    FILETIME t = WriteTime(path);
    std::string s = ReadBytes(path);
    ASSERT_FALSE(s.empty());
    s[s.size() / 2] ^= 1;
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, 0, OPEN_EXISTING, 0, 0);
    DWORD n;
    ASSERT_TRUE(WriteFile(f, s.data(), (DWORD)s.size(), &n, 0));
    SetFileTime(f, 0, 0, &t);
    CloseHandle(f);
}

// Public: the cases below reach it through plain function pointers.
class Record : public ::testing::Test {
public:
    std::wstring base, game, site;
    WebServer server;

    void SetUp() override {
        FreshNetState();
        base = FreshDir(L"rec-" + Wide(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        site = FreshDir(L"rec-site");
        MakeParents(site + L"\\update\\files\\dados\\x");
        std::string manifest;
        for (size_t i = 0; i < All.size(); i++) {
            std::string name = All[i];
            std::replace(name.begin(), name.end(), '\\', '/');
            ASSERT_TRUE(WriteBytes(site + L"\\update\\files\\" + Wide(All[i]), Content[i]));
            manifest += name + "|" + Md5Of(Content[i]) + "|5000\n";
        }
        ASSERT_TRUE(WriteBytes(site + L"\\update\\lista.txt", manifest));
        ASSERT_TRUE(server.Start(site));
        lstrcpyW(Site, server.Base().c_str());
        Wnd = NetWindow();
        RecordPublished();
        Md5Hook = Count;
        RecordClock = Clock;
    }
    void TearDown() override {
        Md5Hook = 0;
        RecordClock = 0;
        Unblock();
    }

    // A game folder with every file current (a.bin missing unless withA),
    // no record of it or of the folder it may move to, and the clock on time.
    void Fresh(bool withA) {
        Unblock();
        Skew = 0;
        for (const wchar_t *sub : {L"\\jogo", L"\\movido"}) {
            RemoveTree(base + sub);
            RemoveDirectoryW(RecordOf(base + sub).c_str());
            DeleteFileW(RecordOf(base + sub).c_str());
        }
        Point(base + L"\\jogo");
        CreateDirectoryW(game.c_str(), 0);
        for (size_t i = withA ? 0 : 1; i < All.size(); i++) {
            MakeParents(In(All[i]));
            ASSERT_TRUE(WriteBytes(In(All[i]), Content[i]));
        }
    }
    void Point(const std::wstring &dir) {
        game = dir;
        lstrcpyW(Dir, game.c_str());
        lstrcpyW(SelfExe, (game + L"\\VelmoraLauncher.exe").c_str());
    }
    std::wstring In(const std::string &name) { return game + L"\\" + Wide(name); }
    static std::wstring RecordOf(const std::wstring &dir) {
        wchar_t p[PathLen];
        EXPECT_TRUE(RecordPath(dir.c_str(), p, PathLen));
        return p;
    }
    std::wstring RecordFolder() {
        std::wstring r = RecordOf(game);
        return r.substr(0, r.rfind(L'\\'));
    }
    void Move() {
        EXPECT_TRUE(MoveFileW(game.c_str(), (base + L"\\movido").c_str()));
        Point(base + L"\\movido");
    }
    // The record as the last start wrote it (never empty), and r put in its
    // place with a change to a.bin that neither size, time nor identity show.
    std::string Written() {
        std::string r = ReadBytes(RecordOf(game));
        EXPECT_FALSE(r.empty()) << "no record";
        return r.empty() ? "?" : r;
    }
    void Spoil(const std::string &r) {
        EXPECT_TRUE(WriteBytes(RecordOf(game), r));
        Tamper(In("a.bin"));
    }
    // Puts back the record folder that a test replaced by a file.
    void Unblock() {
        std::wstring folder = RecordFolder();
        if (!(GetFileAttributesW(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW(folder.c_str());
        MoveFileW((folder + L".aside").c_str(), folder.c_str());
    }

    // One start of the launcher's network side; what it hashed into hashed,
    // the files it asked for into fetched.
    Publications Run(Names &hashed, Names &fetched) {
        Hashed.clear();
        server.Forget();
        ClearPublished();
        NetThread(0);
        TakeNetMessages(Wnd);
        hashed.clear();
        for (const std::wstring &p : Hashed)
            hashed.push_back(p.rfind(game + L"\\", 0) == 0 ? Utf8(p.substr(game.size() + 1)) : Utf8(p));
        std::sort(hashed.begin(), hashed.end());
        fetched.clear();
        for (const std::string &p : server.Paths())
            if (p.rfind("/update/files/", 0) == 0) fetched.push_back(p.substr(14));
        return Published();
    }
};

TEST_F(Record, BetweenTwoStartsAnythingGivesTheResultOfAFullHash) {
    const Names None, OnlyA = {"a.bin"};
    struct Case {
        const char *what;
        bool fetchA;                // a.bin is missing at the first start
        long long skew;             // how far after the files the record is written
        void (*before)(Record &);   // before the first start
        void (*between)(Record &);  // between the two starts
        Names hashed;               // what the second start hashes
        bool changed;               // a.bin differs at the second start
    } cases[] = {
        {"nothing changed", false, Hour, 0, 0, None, false},
        {"a.bin downloaded at the first start", true, Hour, 0, 0, None, false},
        {"a.bin written again: a new last-write time", false, Hour, 0,
         [](Record &t) {
             std::string s = ReadBytes(t.In("a.bin"));
             s[0] ^= 1;
             WriteBytes(t.In("a.bin"), s);
         },
         OnlyA, true},
        {"a.bin changed keeping its time, the record written in the same instant", false, 0, 0,
         [](Record &t) { Tamper(t.In("a.bin")); }, All, true},
        {"a.bin downloaded, then changed keeping its time in the same instant", true, 0, 0,
         [](Record &t) { Tamper(t.In("a.bin")); }, All, true},
        {"a.bin cut short, its time kept", false, Hour, 0,
         [](Record &t) {
             FILETIME was = WriteTime(t.In("a.bin"));
             WriteBytes(t.In("a.bin"), Content[0].substr(1));
             SetWriteTime(t.In("a.bin"), was);
         },
         OnlyA, true},
        {"a.bin replaced by a copy with its size and time", false, Hour, 0,
         [](Record &t) {
             std::wstring a = t.In("a.bin"), copy = a + L".copia";
             std::string s = ReadBytes(a);
             s[0] ^= 1;
             ASSERT_TRUE(WriteBytes(copy, s));
             SetWriteTime(copy, WriteTime(a));
             ASSERT_TRUE(MoveFileExW(copy.c_str(), a.c_str(), MOVEFILE_REPLACE_EXISTING));
         },
         OnlyA, true},
        {"a.bin deleted", false, Hour, 0, [](Record &t) { DeleteFileW(t.In("a.bin").c_str()); }, OnlyA,
         true},
        {"the folder moved to another path", false, Hour, 0,
         [](Record &t) {
             t.Move();
             Tamper(t.In("a.bin"));
         },
         All, true},
        {"the folder moved, its record copied to the new path's", false, Hour, 0,
         [](Record &t) {
             std::string r = t.Written();
             t.Move();
             t.Spoil(r);
         },
         All, true},
        {"a damaged record", false, Hour, 0,
         [](Record &t) {
             std::string r = t.Written();
             r[r.size() / 2] ^= 0x10;
             t.Spoil(r);
         },
         All, true},
        {"a truncated record", false, Hour, 0, [](Record &t) {
             std::string r = t.Written();
             t.Spoil(r.substr(0, r.size() - 1));
         }, All, true},
        {"an empty record", false, Hour, 0, [](Record &t) { t.Spoil(""); }, All, true},
        {"no record can be written: a folder stands at its path", false, Hour,
         [](Record &t) { CreateDirectoryW(RecordOf(t.game).c_str(), 0); },
         [](Record &t) { Tamper(t.In("a.bin")); }, All, true},
        {"no record can be written: a file stands where its folder must be", false, Hour,
         [](Record &t) {
             std::wstring folder = t.RecordFolder();
             MoveFileW(folder.c_str(), (folder + L".aside").c_str());
             ASSERT_TRUE(WriteBytes(folder, "bloqueio"));
         },
         [](Record &t) { Tamper(t.In("a.bin")); }, All, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Fresh(!c.fetchA);
        Skew = c.skew;
        if (c.before) c.before(*this);
        Names hashed, fetched;
        Publications pubs = Run(hashed, fetched);
        EXPECT_EQ(hashed, All) << "the first start hashes every file";
        EXPECT_EQ(pubs.back(), std::make_pair(c.fetchA ? Updated : Current, 1000));
        if (c.between) c.between(*this);
        if (HasFatalFailure()) return;

        pubs = Run(hashed, fetched);
        EXPECT_EQ(hashed, c.hashed);
        EXPECT_EQ(fetched, c.changed ? OnlyA : None);
        Publications texts;
        for (const auto &p : pubs)
            if (texts.empty() || texts.back().first != p.first) texts.push_back(p);
        EXPECT_EQ(texts, c.changed ? (Publications{{Checking, -1}, {FetchingA, 0}, {Updated, 1000}})
                                   : (Publications{{Checking, -1}, {Current, 1000}}));
        for (size_t i = 0; i < All.size(); i++) EXPECT_EQ(ReadBytes(In(All[i])), Content[i]) << All[i];
        // The record lives outside the game folder and leaves no temporary file.
        std::vector<std::wstring> top;
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW((game + L"\\*").c_str(), &fd);
        do top.push_back(fd.cFileName);
        while (FindNextFileW(h, &fd));
        FindClose(h);
        std::sort(top.begin(), top.end());
        EXPECT_EQ(top, (std::vector<std::wstring>{L".", L"..", L"a.bin", L"b.bin", L"dados"}));
        EXPECT_FALSE(Exists(RecordOf(game) + L".new"));
    }
}

// Once a week every file is hashed: a change no size, time or identity shows
// is found then, and the week starts again.
TEST_F(Record, EveryFileIsHashedAgainAfterSevenDays) {
    Fresh(true);
    Names hashed, fetched;
    const Names None;
    for (long long days : {0, 6}) {
        Skew = days * Day + Hour;
        Run(hashed, fetched);
        EXPECT_EQ(hashed, days ? None : All) << days;
    }
    Tamper(In("a.bin"));
    Skew = 8 * Day + Hour;
    EXPECT_EQ(Run(hashed, fetched).back(), std::make_pair(Updated, 1000));
    EXPECT_EQ(hashed, All);
    EXPECT_EQ(fetched, Names{"a.bin"});
    Skew = 9 * Day + Hour;
    Run(hashed, fetched);
    EXPECT_EQ(hashed, None);
    EXPECT_EQ(ReadBytes(In("a.bin")), Content[0]);
}

}  // namespace
