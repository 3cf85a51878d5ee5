// The record of verified files, through whole update runs against a real local
// server: a second start reads only what may have changed, and whatever
// happened between the starts, its result is the one a full hash gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/state.h"
#include "net/netthread.h"
#include "support/netrun.h"
#include "update/hashrec.h"
#include "update/md5.h"

namespace {

typedef std::vector<std::string> Names;
const Names All = {"a.bin", "b.bin", "dados\\c.bin"}, OnlyA = {"a.bin"}, None;
const long long Hour = 36000000000LL, Day = 24 * Hour;

std::string Content(const std::string &name) { return name + std::string(5000, '.'); }

// What a run hashed, by name in the game folder (downloads' own checks left
// out), and a clock Skew ahead of the system's. During, when set, is called
// once as a run starts hashing b.bin, just after a.bin's MD5 was worked out.
std::wstring Folder;
Names Hashed;
long long Skew;
void (*During)();
void Count(const wchar_t *path) {
    std::wstring p = path;
    if (p.find(L".novo") != std::wstring::npos) return;
    Hashed.push_back(Utf8(p.substr(Folder.size() + 1)));
    if (During && Hashed.back() == "b.bin") {
        void (*d)() = During;
        During = 0;
        d();
    }
}
unsigned long long Clock() {
    FILETIME t;
    GetSystemTimeAsFileTime(&t);
    return ((unsigned long long)t.dwHighDateTime << 32 | t.dwLowDateTime) + Skew;
}

std::wstring At(const std::string &name) { return Folder + L"\\" + Wide(name); }
std::wstring RecordOf(const std::wstring &dir) {
    wchar_t p[PathLen];
    EXPECT_TRUE(RecordPath(dir.c_str(), p, PathLen));
    return p;
}
// Writes data over the file in place: its identity and last-write time stay.
void Overwrite(const std::wstring &path, const std::string &data) {
    WIN32_FILE_ATTRIBUTE_DATA a = {};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &a);
    EXPECT_TRUE(WriteBytes(path, data));
    HANDLE f = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, 0, OPEN_EXISTING, 0, 0);
    EXPECT_TRUE(SetFileTime(f, 0, 0, &a.ftLastWriteTime));
    CloseHandle(f);
}
// Another a.bin of the same size; with Overwrite, a change nothing but its
// content shows.
const std::string OtherA = "A" + Content("a.bin").substr(1);
void Tamper() { Overwrite(At("a.bin"), OtherA); }
// Puts the last-write time of every game file there an hour back: files
// written long before the launcher starts, as a player's are.
void Age() {
    for (const std::string &name : All) {
        HANDLE f = CreateFileW(At(name).c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, 0, 0,
                               OPEN_EXISTING, 0, 0);
        if (f == INVALID_HANDLE_VALUE) continue;
        FILETIME t;
        EXPECT_TRUE(GetFileTime(f, 0, 0, &t));
        ULARGE_INTEGER u = {{t.dwLowDateTime, t.dwHighDateTime}};
        u.QuadPart -= Hour;
        t = {u.LowPart, u.HighPart};
        EXPECT_TRUE(SetFileTime(f, 0, 0, &t));
        CloseHandle(f);
    }
}

void Move() {
    std::wstring to = Folder.substr(0, Folder.rfind(L'\\')) + L"\\movido";
    EXPECT_TRUE(MoveFileW(Folder.c_str(), to.c_str()));
    Folder = to;
}
// The record as the last start wrote it, never empty.
std::string Written() {
    std::string r = ReadBytes(RecordOf(Folder));
    EXPECT_FALSE(r.empty()) << "no record";
    return r.empty() ? "?" : r;
}
void Spoil(const std::string &record) {
    EXPECT_TRUE(WriteBytes(RecordOf(Folder), record));
    Tamper();
}

class Record : public NetRun {
protected:
    std::wstring base;

    void SetUp() override {
        NetRun::SetUp();
        base = FreshDir(L"rec-" + Wide(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::string list;
        for (const std::string &name : All) {
            ASSERT_TRUE(WriteBytes(site + L"\\update\\files\\" + Wide(name), Content(name)));
            std::string listed = name;
            std::replace(listed.begin(), listed.end(), '\\', '/');
            list += listed + "|" + Md5Of(Content(name)) + "|" + std::to_string(Content(name).size()) + "\n";
        }
        ASSERT_TRUE(WriteBytes(site + L"\\update\\lista.txt", list));
        Md5Hook = Count;
        RecordClock = Clock;
    }
    void TearDown() override {
        Md5Hook = 0;
        RecordClock = 0;
    }

    // A game folder with every file current but those missing, no record of
    // it or of the folder it may move to, and the clock on time.
    void Fresh(const Names &missing) {
        Skew = 0;
        for (const wchar_t *sub : {L"\\movido", L"\\jogo"}) {
            Folder = base + sub;
            RemoveTree(Folder);
            RemoveDirectoryW(RecordOf(Folder).c_str());
            DeleteFileW(RecordOf(Folder).c_str());
        }
        CreateDirectoryW(Folder.c_str(), 0);
        CreateDirectoryW(At("dados").c_str(), 0);
        for (const std::string &name : All)
            if (std::find(missing.begin(), missing.end(), name) == missing.end())
                ASSERT_TRUE(WriteBytes(At(name), Content(name)));
    }

    // One start of the launcher's network side: the texts the player reads;
    // what it hashed into Hashed (sorted), the files it asked for into fetched.
    Publications Run(Names &fetched) {
        UseFolder(Folder);
        Hashed.clear();
        server.Forget();
        Publications pubs = NetRun::Run();
        std::sort(Hashed.begin(), Hashed.end());
        fetched = FileRequests();
        return Texts(pubs);
    }
};

const std::wstring Checking = L"Verificando atualizações...";
const Publications CurrentRun = {{Checking, -1}, {L"Seu jogo está atualizado. Pronto para jogar.", 1000}},
                   UpdatedRun = {{Checking, -1},
                                 {L"Baixando a.bin (1 de 1)...", 0},
                                 {L"Jogo atualizado! Pronto para jogar.", 1000}};

TEST_F(Record, BetweenTwoStartsAnythingGivesTheResultOfAFullHash) {
    struct Case {
        const char *what;
        bool fetchA;         // a.bin is missing at the first start
        long long skew;      // how long after the files their MD5s are worked out (0: the real clock)
        void (*before)();    // before the first start
        void (*between)();   // between the two starts
        Names hashed;        // what the second start hashes
        bool changed;        // a.bin differs at the second start
        void (*during)();    // in the first start, once a.bin's MD5 is worked out
    } cases[] = {
        {"nothing changed", false, Hour, 0, 0, None, false},
        // On the real clock: the download ends moments before the run saves
        // its record, and the next start may come at once.
        {"a.bin downloaded at the first start, the others written long ago", true, 0, Age, 0, None, false},
        {"a.bin written again: a new last-write time", false, Hour, 0, [] { WriteBytes(At("a.bin"), OtherA); },
         OnlyA, true},
        {"a.bin cut short, its time kept", false, Hour, 0, [] { Overwrite(At("a.bin"), "a"); }, OnlyA, true},
        {"a.bin changed keeping its time, its MD5 worked out in the instant it was written", false, 0, 0, Tamper,
         All, true},
        // A long first start: a.bin is written again within the tick of its
        // last-write time right after it was hashed, and the rest of the run
        // takes an hour (c.bin, hashed then, is trusted next time).
        {"a.bin changed keeping its time right after its MD5 was worked out", false, 0, 0, 0,
         {"a.bin", "b.bin"}, true,
         [] {
             Tamper();
             Skew = Hour;
         }},
        {"a.bin replaced by a copy with its size and time", false, Hour, 0,
         [] {
             std::wstring copy = At("a.bin") + L".copia";
             EXPECT_TRUE(CopyFileW(At("a.bin").c_str(), copy.c_str(), FALSE));
             Overwrite(copy, OtherA);
             EXPECT_TRUE(MoveFileExW(copy.c_str(), At("a.bin").c_str(), MOVEFILE_REPLACE_EXISTING));
         },
         OnlyA, true},
        {"a.bin deleted", false, Hour, 0, [] { DeleteFileW(At("a.bin").c_str()); }, None, true},
        {"the folder moved to another path", false, Hour, 0,
         [] {
             Move();
             Tamper();
         },
         All, true},
        {"the folder moved, its record copied to the new path's", false, Hour, 0,
         [] {
             std::string r = Written();
             Move();
             Spoil(r);
         },
         All, true},
        {"a damaged record", false, Hour, 0,
         [] {
             std::string r = Written();
             r[r.size() / 2] ^= 0x10;
             Spoil(r);
         },
         All, true},
        {"a truncated record", false, Hour, 0, [] { Spoil(Written().substr(0, Written().size() - 1)); }, All,
         true},
        {"an empty record", false, Hour, 0, [] { Spoil(""); }, All, true},
        {"no record can be written: a folder stands at its path", false, Hour,
         [] { CreateDirectoryW(RecordOf(Folder).c_str(), 0); }, Tamper, All, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Fresh(c.fetchA ? OnlyA : None);
        Skew = c.skew;
        if (c.before) c.before();
        During = c.during;
        Names fetched;
        EXPECT_EQ(Run(fetched), c.fetchA ? UpdatedRun : CurrentRun);
        EXPECT_EQ(Hashed, c.fetchA ? Names({"b.bin", "dados\\c.bin"}) : All)
            << "the first start hashes every file there is";
        EXPECT_FALSE(During) << "b.bin was not hashed";
        During = 0;
        if (c.between) c.between();

        EXPECT_EQ(Run(fetched), c.changed ? UpdatedRun : CurrentRun);
        EXPECT_EQ(Hashed, c.hashed);
        EXPECT_EQ(fetched, c.changed ? OnlyA : None);
        for (const std::string &name : All) EXPECT_EQ(ReadBytes(At(name)), Content(name)) << name;
        EXPECT_NE(RecordOf(Folder).rfind(Folder, 0), 0u) << "the record lives outside the game folder";
        EXPECT_FALSE(Exists(RecordOf(Folder) + L".new"));
    }
}

// What a start learns without fetching anything stands for the next start;
// a start that learns nothing writes nothing. A partial download beside a
// current file goes, record or not.
TEST_F(Record, WhatAStartLearntIsThereForTheNextOne) {
    struct Case {
        const char *what;
        void (*between)();  // between the first and the second start
        Names hashed;       // what the second start hashes
        bool written;       // the second start writes the record again
    } cases[] = {
        {"nothing changed", 0, None, false},
        {"a.bin written again with its own bytes", [] { WriteBytes(At("a.bin"), Content("a.bin")); }, OnlyA, true},
        {"a partial download left beside a.bin", [] { WriteBytes(At("a.bin") + L".novo", "?"); }, None, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Fresh(None);
        Skew = Hour;
        Names fetched;
        EXPECT_EQ(Run(fetched), CurrentRun);
        if (c.between) c.between();
        std::string before = Written();
        EXPECT_EQ(Run(fetched), CurrentRun);
        EXPECT_EQ(Hashed, c.hashed);
        EXPECT_EQ(Written() != before, c.written);
        EXPECT_FALSE(Exists(At("a.bin") + L".novo"));
        EXPECT_EQ(Run(fetched), CurrentRun);
        EXPECT_EQ(Hashed, None) << "the third start";
        EXPECT_EQ(fetched, None);
    }
}

// The record the launcher kept before records could hold whole clients
// (version 2: 280 bytes a file, names and MD5s as text) is read once: its
// MD5s stand in for hashing, the partial of a file it noted as still to
// fetch that the release dropped goes, and it is replaced by the new record.
TEST_F(Record, ARecordOfTheLauncherBeforeIsReadOnceAndReplaced) {
    Fresh(None);
    Age();
    ASSERT_TRUE(WriteBytes(At("velho.bin.novo"), "parte"));
    ASSERT_TRUE(WriteBytes(At("velho.bin.retomar"), "retomar=1\nmd5=" + Md5Of("x") + "\nsize=9\netag=\"v\"\n"));
    struct Old {
        char name[200];
        char md5[33];
        char pad[3];
        unsigned flags;
        unsigned long long size, time, hashed, index;
        unsigned volume, pad2;
    };
    std::string body;
    unsigned long long now = Clock();
    for (const std::string &name : Names{"a.bin", "b.bin", "dados\\c.bin", "velho.bin"}) {
        Old o = {};
        lstrcpyA(o.name, name.c_str());
        if (name == "velho.bin") {
            o.flags = 2;  // still to fetch, nothing else known
        } else {
            lstrcpyA(o.md5, Md5Of(Content(name)).c_str());
            HANDLE f = CreateFileW(At(name).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
            BY_HANDLE_FILE_INFORMATION i;
            ASSERT_TRUE(GetFileInformationByHandle(f, &i));
            CloseHandle(f);
            o.size = (unsigned long long)i.nFileSizeHigh << 32 | i.nFileSizeLow;
            o.time = (unsigned long long)i.ftLastWriteTime.dwHighDateTime << 32 | i.ftLastWriteTime.dwLowDateTime;
            o.index = (unsigned long long)i.nFileIndexHigh << 32 | i.nFileIndexLow;
            o.volume = i.dwVolumeSerialNumber;
            o.hashed = now;
        }
        body.append((const char *)&o, sizeof o);
    }
    struct {
        char magic[8];
        unsigned version, count;
        unsigned long long full, saved;
        wchar_t dir[260];
    } head = {{'V', 'L', 'M', 'R', 'E', 'C', '\r', '\n'}, 2, 4, now, now, {}};
    lstrcpyW(head.dir, Folder.c_str());
    std::string rec = std::string((const char *)&head, sizeof head) + body;
    ASSERT_EQ(rec.size(), 552u + 4 * 280);
    ASSERT_TRUE(WriteBytes(RecordOf(Folder), rec + Md5Of(rec)));

    Names fetched;
    EXPECT_EQ(Run(fetched), CurrentRun);
    EXPECT_EQ(Hashed, None) << "the old record's MD5s were not used";
    EXPECT_FALSE(Exists(At("velho.bin.novo")));
    EXPECT_FALSE(Exists(At("velho.bin.retomar")));
    std::string now3 = Written();
    ASSERT_GE(now3.size(), 12u);
    EXPECT_EQ(now3[8], 3) << "the record was not replaced";
    EXPECT_EQ(Run(fetched), CurrentRun);
    EXPECT_EQ(Hashed, None);
}

// Once a week every file is hashed: a change no size, time or identity shows
// is found then, and the week starts again.
TEST_F(Record, EveryFileIsHashedAgainAfterSevenDays) {
    Fresh(None);
    Names fetched;
    for (long long days : {0, 6}) {
        Skew = days * Day + Hour;
        Run(fetched);
        EXPECT_EQ(Hashed, days ? None : All) << days;
    }
    Tamper();
    Skew = 8 * Day + Hour;
    EXPECT_EQ(Run(fetched), UpdatedRun);
    EXPECT_EQ(Hashed, All);
    Skew = 9 * Day + Hour;
    EXPECT_EQ(Run(fetched), CurrentRun);
    EXPECT_EQ(Hashed, None);
}

}  // namespace
