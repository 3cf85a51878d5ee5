// The update manifest's lines, the local path of an entry, and FileMd5 on real
// files, including files other processes hold.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "net/http.h"
#include "support/netutil.h"
#include "support/testutil.h"
#include "support/webserver.h"
#include "update/manifest.h"
#include "update/md5.h"

namespace {

const std::string Md5A = "0123456789abcdef0123456789abcdef";

std::vector<ManifestEntry> Parse(std::string text, int cap = EntryMax) {
    static ManifestEntry e[EntryMax + 1];
    int n = ParseManifest(&text[0], e, cap);
    return std::vector<ManifestEntry>(e, e + n);
}

std::vector<std::string> Names(const std::vector<ManifestEntry> &es) {
    std::vector<std::string> out;
    for (const ManifestEntry &e : es) out.push_back(e.name);
    return out;
}

TEST(ManifestParse, AnEntryLine) {
    auto es = Parse("data/mapa.bin|" + Md5A + "|1234\n");
    ASSERT_EQ(es.size(), 1u);
    EXPECT_STREQ(es[0].name, "data/mapa.bin");
    EXPECT_STREQ(es[0].md5, Md5A.c_str());
    EXPECT_EQ(es[0].size, 1234u);
}

TEST(ManifestParse, TheMd5IsKeptAsWrittenInEitherCase) {
    auto es = Parse("a|0123456789ABCDEF0123456789ABCDEF|1\nb|zzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzz|2");
    ASSERT_EQ(es.size(), 2u);
    EXPECT_STREQ(es[0].md5, "0123456789ABCDEF0123456789ABCDEF");
    EXPECT_STREQ(es[1].md5, "zzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzz");  // digits are not checked
}

TEST(ManifestParse, LinesOfAnotherShapeAreSkipped) {
    std::string md5_31 = Md5A.substr(0, 31), md5_33 = Md5A + "0";
    auto es = Parse("curto|" + md5_31 + "|1\n"
                    "longo|" + md5_33 + "|1\n"
                    "uma barra|" + Md5A + "\n"
                    "sem barra\n"
                    "\n"
                    "# comentário\n"
                    "|" + Md5A + "|1\n"                    // empty name
                    "barra|na|md5" + Md5A.substr(5) + "|1\n"  // second bar inside the 32
                    "ok|" + Md5A + "|7\n");
    EXPECT_EQ(Names(es), (std::vector<std::string>{"ok"}));
}

TEST(ManifestParse, NamesUpTo199Bytes) {
    std::string n199(199, 'n'), n200(200, 'n');
    std::string wide199;  // multi-byte characters count in bytes
    while (wide199.size() < 198) wide199 += "ç";
    wide199 += "x";
    ASSERT_EQ(wide199.size(), 199u);
    auto es = Parse(n200 + "|" + Md5A + "|1\n" + n199 + "|" + Md5A + "|2\n" + wide199 + "|" + Md5A +
                    "|3\n" + wide199 + "x|" + Md5A + "|4\n");
    ASSERT_EQ(es.size(), 2u);
    EXPECT_EQ(std::string(es[0].name), n199);
    EXPECT_EQ(es[0].size, 2u);
    EXPECT_EQ(std::string(es[1].name), wide199);
}

TEST(ManifestParse, UnsafeNamesAreSkipped) {
    const char *unsafe[] = {"../fora.txt", "a/../../b", "a..b", "..", "pasta/..", "/raiz.txt",
                            "\\raiz.txt", "C:x.txt", "C:\\Windows\\x.dll", "a:b", "dados/a:fluxo"};
    for (const char *name : unsafe) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(Parse(std::string(name) + "|" + Md5A + "|1").empty());
    }
    const char *safe[] = {"a.b.c", ".oculto", "pasta/sub/arq.bin", "pasta\\sub\\arq.bin", "a./b",
                          "com espaço.txt", "main.exe"};
    for (const char *name : safe) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Parse(std::string(name) + "|" + Md5A + "|1").size(), 1u);
    }
}

// On Windows these name devices, whatever the extension, letter case or
// trailing spaces, as a file and as a folder: "aux.txt" opens the AUX port.
TEST(ManifestParse, DeviceNamesAreSkipped) {
    const char *devices[] = {"CON", "con", "Con.txt", "PRN", "prn.log", "AUX", "aux.tar.gz", "NUL",
                             "nul.bin", "NuL", "COM1", "com9.dat", "COM0", "LPT1", "lpt9.txt",
                             "LPT0.x", "CON .txt", "nul.", "aux ", "COM\xC2\xB9", "lpt\xC2\xB3.txt",
                             "CONIN$", "conout$.log"};
    const char *where[] = {"%s", "dados/%s", "%s/arq.bin", "a/b/%s/c.bin", "a\\%s", "%s\\arq.bin"};
    for (const char *d : devices)
        for (const char *w : where) {
            char name[64];
            snprintf(name, sizeof name, w, d);
            SCOPED_TRACE(name);
            EXPECT_TRUE(Parse(std::string(name) + "|" + Md5A + "|1").empty());
        }
    // Names that only look alike are files like any other.
    const char *files[] = {"CONSOLE", "con1", "icon", "aux1.txt", "NULL", "COM10", "COM", "LPT",
                           "lpt1a", "com1x.txt", "xcon.txt", "dados/conx/a.bin", "com\xC2\xB4",
                           "COM\xC2\xB9x", " con", "a.con", "pasta.aux/x.bin", "CONIN", "conout"};
    for (const char *f : files) {
        SCOPED_TRACE(f);
        EXPECT_EQ(Names(Parse(std::string(f) + "|" + Md5A + "|1")), (std::vector<std::string>{f}));
    }
}

// A UTF-8 byte-order mark in front of the first line would make it part of the
// first name: a file whose name starts with an invisible character.
TEST(ManifestParse, AByteOrderMarkAtTheStartIsPassedOver) {
    const std::string bom = "\xEF\xBB\xBF";
    auto es = Parse(bom + "primeiro.bin|" + Md5A + "|3\r\nsegundo.bin|" + Md5A + "|4\r\n");
    EXPECT_EQ(Names(es), (std::vector<std::string>{"primeiro.bin", "segundo.bin"}));
    EXPECT_TRUE(Parse(bom).empty());
    EXPECT_TRUE(Parse(bom + "\n").empty());
    // Only at the very start: anywhere else it is part of a name.
    es = Parse("a.bin|" + Md5A + "|1\n" + bom + "b.bin|" + Md5A + "|1\n");
    EXPECT_EQ(Names(es), (std::vector<std::string>{"a.bin", bom + "b.bin"}));
    // A second mark is not passed over.
    EXPECT_EQ(Names(Parse(bom + bom + "c|" + Md5A + "|1")), (std::vector<std::string>{bom + "c"}));
}

TEST(ManifestParse, SizesReadLikeStrtoulAndSaturate) {
    struct Case {
        const char *field;
        unsigned want;
    } cases[] = {
        {"", 0},
        {"abc", 0},
        {"12", 12},
        {"  12", 12},
        {"\t12", 12},
        {"12\r", 12},
        {"12 bytes", 12},
        {"+12", 12},
        {"-5", 0},
        {"4294967295", 4294967295u},
        {"4294967296", 4294967295u},
        {"99999999999999999999999999999", 4294967295u},
        {"000000000000000000000000000042", 42},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.field);
        auto es = Parse("f|" + Md5A + "|" + c.field);
        ASSERT_EQ(es.size(), 1u);
        EXPECT_EQ(es[0].size, c.want);
    }
}

TEST(ManifestParse, CrLfParsesLikeLf) {
    std::string lf, crlf;
    for (int i = 0; i < 5; i++) {
        std::string line = "p/f" + std::to_string(i) + "|" + Md5A + "|" + std::to_string(100 * i);
        lf += line + "\n";
        crlf += line + "\r\n";
    }
    auto a = Parse(lf), b = Parse(crlf);
    ASSERT_EQ(a.size(), 5u);
    ASSERT_EQ(b.size(), 5u);
    for (size_t i = 0; i < a.size(); i++) {
        EXPECT_STREQ(a[i].name, b[i].name);
        EXPECT_STREQ(a[i].md5, b[i].md5);
        EXPECT_EQ(a[i].size, b[i].size);
    }
}

TEST(ManifestParse, AtMost256EntriesTheFirstAcceptableOnes) {
    std::string text;
    for (int i = 0; i < 300; i++) {
        if (i % 10 == 3) text += "../mau" + std::to_string(i) + "|" + Md5A + "|1\n";
        text += "f" + std::to_string(i) + "|" + Md5A + "|" + std::to_string(i) + "\n";
    }
    auto es = Parse(text);
    ASSERT_EQ(es.size(), 256u);
    EXPECT_STREQ(es[0].name, "f0");
    EXPECT_STREQ(es[255].name, "f255");
    EXPECT_EQ(es[255].size, 255u);
    // The table is never written past its capacity.
    auto few = Parse(text, 3);
    EXPECT_EQ(few.size(), 3u);
}

TEST(ManifestParse, EmptyAndUnterminated) {
    EXPECT_TRUE(Parse("").empty());
    EXPECT_TRUE(Parse("\n\n\n").empty());
    EXPECT_EQ(Parse("a|" + Md5A + "|5").size(), 1u);
}

// A 70,000-byte manifest arrives as its first 65,535 bytes; the line cut
// there parses as far as it goes, here three digits into its size.
TEST(ManifestParse, ALongManifestIsReadUpToItsBuffer) {
    FreshNetState();
    std::string entry = "corte.bin|" + Md5A + "|";
    std::string doc;
    size_t want = 65535 - 3 - entry.size();  // where the cut entry starts
    while (doc.size() + 40 < want) doc += "# linha sem barras para encher o arquivo\n";
    doc += std::string(want - doc.size() - 1, '#') + "\n";
    ASSERT_EQ(doc.size(), want);
    doc += entry + "987654321\n";
    while (doc.size() < 70000) doc += "depois.bin|" + Md5A + "|5\n";
    doc.resize(70000);

    std::wstring site = FreshDir(L"manifest-site");
    WebServer server;
    ASSERT_TRUE(server.Start(site));
    server.On("/lista.txt", Answer::Body(doc));
    static char buf[65536];
    int got = HttpGet((server.Base() + L"/lista.txt").c_str(), buf, sizeof buf);
    ASSERT_EQ(got, 65535);
    EXPECT_EQ(buf[65535], 0);
    auto es = Parse(std::string(buf, got));
    ASSERT_EQ(es.size(), 1u);
    EXPECT_STREQ(es[0].name, "corte.bin");
    EXPECT_EQ(es[0].size, 987u);
}

TEST(LocalPathOf, FoldersBecomeBackslashes) {
    wchar_t out[260];
    char name[EntryNameLen] = "dados/mapas/ação.bin";
    EXPECT_GT(LocalPath(L"C:\\Jogo", name, out, 260), 0);
    EXPECT_STREQ(out, L"C:\\Jogo\\dados\\mapas\\ação.bin");
    EXPECT_STREQ(name, "dados\\mapas\\ação.bin");  // changed in place, as the URL is made from it
}

TEST(LocalPathOf, APathThatDoesNotFitIsRefused) {
    std::wstring dir = L"C:\\" + std::wstring(240, L'd');
    for (int len = 1; len < 30; len++) {
        SCOPED_TRACE(len);
        char name[EntryNameLen];
        std::string n(len, 'n');
        lstrcpyA(name, n.c_str());
        wchar_t out[261];
        out[260] = L'#';  // one unit past the field
        int total = (int)dir.size() + 1 + len;  // the path's length without its terminator
        int got = LocalPath(dir.c_str(), name, out, 260);
        if (total <= 259) {
            EXPECT_EQ(got, total);
            EXPECT_EQ(lstrlenW(out), total);
        } else {
            EXPECT_EQ(got, 0);
            EXPECT_EQ(out[0], 0);
        }
        EXPECT_EQ(out[260], L'#');
    }
}

// ---- FileMd5 -----------------------------------------------------------------

class Md5 : public ::testing::Test {
protected:
    std::wstring dir;
    void SetUp() override { dir = FreshDir(L"md5"); }
};

TEST_F(Md5, KnownDigests) {
    struct Case {
        std::string data;
        const char *md5;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},  // 16 chunks and a bit
        {std::string(65536, 'x'), nullptr},
        {std::string(65537, 'x'), nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.data.size());
        std::wstring f = dir + L"\\f.bin";
        ASSERT_TRUE(WriteBytes(f, c.data));
        char out[33];
        ASSERT_EQ(FileMd5(f.c_str(), out), 1);
        EXPECT_EQ(std::string(out), c.md5 ? c.md5 : Md5Of(c.data));
    }
}

TEST_F(Md5, MatchingIgnoresTheCaseOfTheManifest) {
    std::wstring f = dir + L"\\abc.txt";
    ASSERT_TRUE(WriteBytes(f, "abc"));
    EXPECT_TRUE(Md5Matches(f.c_str(), "900150983CD24FB0D6963F7D28E17F72"));
    EXPECT_TRUE(Md5Matches(f.c_str(), "900150983cd24fb0d6963f7d28e17f72"));
    EXPECT_FALSE(Md5Matches(f.c_str(), "900150983cd24fb0d6963f7d28e17f73"));
    EXPECT_FALSE(Md5Matches((dir + L"\\nada").c_str(), "900150983cd24fb0d6963f7d28e17f72"));
}

TEST_F(Md5, MissingFilesAndFoldersGiveNothing) {
    char out[33] = "untouched";
    EXPECT_EQ(FileMd5((dir + L"\\não existe.bin").c_str(), out), 0);
    EXPECT_STREQ(out, "untouched");
    EXPECT_EQ(FileMd5(dir.c_str(), out), 0);
    EXPECT_STREQ(out, "untouched");
}

TEST_F(Md5, AFileAnotherProcessWritesCanBeHashedIfItShares) {
    std::wstring f = dir + L"\\aberto.bin";
    ASSERT_TRUE(WriteBytes(f, "abc"));
    HANDLE p = HoldFile(f, FILE_SHARE_READ | FILE_SHARE_WRITE, true);
    ASSERT_TRUE(p) << "holder could not open the file";
    char out[33];
    EXPECT_EQ(FileMd5(f.c_str(), out), 1);
    EXPECT_STREQ(out, "900150983cd24fb0d6963f7d28e17f72");
    Kill(p);

    // Held for writing without letting others read: it cannot be opened.
    p = HoldFile(f, 0, true);
    ASSERT_TRUE(p);
    char none[33] = "untouched";
    EXPECT_EQ(FileMd5(f.c_str(), none), 0);
    EXPECT_STREQ(none, "untouched");
    Kill(p);
}

}  // namespace
