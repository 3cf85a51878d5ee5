// What lista writes, read back by the launcher's own manifest parser.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "support/netutil.h"
#include "support/testutil.h"
#include "update/manifest.h"
#include "update/md5.h"

namespace {

const std::wstring Lista = BUILD_DIR L"\\lista.exe";

struct Parsed {
    int count;
    ManifestEntry e[EntryMax];
};

// Parses a manifest file the way the update run does (its first 65,535 bytes).
static void Parse(const std::wstring &file, Parsed *p) {
    static char text[65536];
    std::string bytes = ReadBytes(file);
    ASSERT_LE(bytes.size(), 65535u) << "the launcher would cut this manifest";
    memcpy(text, bytes.data(), bytes.size());
    text[bytes.size()] = 0;
    p->count = ParseManifest(text, p->e, EntryMax);
}

// Every entry stands under site\update\files with the listed MD5 and size, and
// the entry list equals the files of client (name -> content).
static void ExpectSite(const Parsed &p, const std::wstring &files, const std::map<std::string, std::string> &client) {
    ASSERT_EQ(p.count, (int)client.size());
    auto it = client.begin();
    for (int i = 0; i < p.count; i++, it++) {
        std::string name = p.e[i].name;
        for (char &c : name)
            if (c == '\\') c = '/';
        EXPECT_EQ(name, it->first) << "entry " << i;
        EXPECT_EQ(p.e[i].size, it->second.size()) << name;
        EXPECT_EQ(std::string(p.e[i].md5), Md5Of(it->second)) << name;
        char local[EntryNameLen];
        lstrcpynA(local, p.e[i].name, EntryNameLen);
        wchar_t path[MAX_PATH];
        ASSERT_GT(LocalPath(files.c_str(), local, path, MAX_PATH), 0) << name;
        EXPECT_TRUE(Md5Matches(path, p.e[i].md5)) << name;
    }
}

TEST(Lista, ATreeWithFoldersSpacesAndAccentsReadsBackEntryForEntry) {
    std::wstring root = FreshDir(L"lista");
    std::wstring client = root + L"\\cliente", site = root + L"\\site";
    std::map<std::string, std::string> files = {
        {"main.exe", "MZ stand-in"},
        {"Data/Mapas/aurora.map", std::string(70000, 'm')},
        {"Pasta Com Espaço/leia-me.txt", "olá\r\n"},
        {"Música/tema ção.ogg", std::string(3, '\0')},
        {"vazio.dat", ""},
    };
    for (auto &f : files) {
        std::wstring path = client + L"\\" + Wide(f.first);
        for (auto &c : path)
            if (c == L'/') c = L'\\';
        MakeParents(path);
        ASSERT_TRUE(WriteBytes(path, f.second));
    }
    HANDLE p = StartWith(Lista, L"-q \"" + client + L"\" \"" + site + L"\"");
    ASSERT_TRUE(p);
    ASSERT_EQ(WaitExit(p, 60000), 0);
    CloseHandle(p);

    static Parsed parsed;
    Parse(site + L"\\update\\lista.txt", &parsed);
    ExpectSite(parsed, site + L"\\update\\files", files);
}

TEST(Lista, TheDemoSiteReadsBackWhole) {
    static Parsed parsed;
    std::wstring site = BUILD_DIR L"\\..\\demo\\site";
    Parse(site + L"\\update\\lista.txt", &parsed);
    ASSERT_GE(parsed.count, 5);
    for (int i = 0; i < parsed.count; i++) {
        wchar_t path[MAX_PATH];
        char name[EntryNameLen];
        lstrcpynA(name, parsed.e[i].name, EntryNameLen);
        ASSERT_GT(LocalPath((site + L"\\update\\files").c_str(), name, path, MAX_PATH), 0);
        EXPECT_TRUE(Md5Matches(path, parsed.e[i].md5)) << parsed.e[i].name;
    }
}

}  // namespace
