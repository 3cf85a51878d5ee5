// The resources of the built launcher executable, read as the system reads
// them: the bitmaps, the icon group, the fonts, the manifest and the version
// block.
#include <gtest/gtest.h>

#include <string>

#include "support/spritepack.h"
#include "support/testutil.h"

namespace {

class Resources : public ::testing::Test {
protected:
    static HMODULE exe;
    static void SetUpTestSuite() {
        exe = LoadLibraryExW(LAUNCHER_EXE, 0, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    }
    static void TearDownTestSuite() {
        if (exe) FreeLibrary(exe);
    }
    void SetUp() override { ASSERT_TRUE(exe) << "cannot open " << Utf8(LAUNCHER_EXE); }

    static std::string Data(const wchar_t *type, int id) {
        HRSRC r = FindResourceW(exe, MAKEINTRESOURCEW(id), type);
        if (!r) return "";
        DWORD size = SizeofResource(exe, r);
        const char *p = (const char *)LockResource(LoadResource(exe, r));
        return p ? std::string(p, size) : "";
    }
};
HMODULE Resources::exe;

template <class T> T At(const std::string &s, size_t off) {
    T v;
    memcpy(&v, s.data() + off, sizeof v);
    return v;
}

}  // namespace

TEST_F(Resources, BackgroundsAre900x560BitmapsThatDifferOnlyInThePageArea) {
    std::string home = Data(RT_BITMAP, 201), opt = Data(RT_BITMAP, 202);
    for (const std::string *bg : {&home, &opt}) {
        ASSERT_EQ(bg->size(), (size_t)BackgroundSize);
        BITMAPINFOHEADER h = At<BITMAPINFOHEADER>(*bg, 0);
        EXPECT_EQ(h.biSize, 40u);
        EXPECT_EQ(h.biWidth, 900);
        EXPECT_EQ(h.biHeight, 560) << "rows bottom-up";
        EXPECT_EQ(h.biPlanes, 1);
        EXPECT_EQ(h.biBitCount, 24);
        EXPECT_EQ(h.biCompression, (DWORD)BI_RGB);
        EXPECT_EQ(h.biXPelsPerMeter, 3780);
        EXPECT_EQ(h.biYPelsPerMeter, 3780);
        EXPECT_EQ(h.biClrUsed, 0u) << "no colour table";
    }
    // Pixel (x, y) of the window is row 559 - y of the bitmap.
    int outside = 0, inside = 0;
    for (int y = 0; y < 560; y++) {
        for (int x = 0; x < 900; x++) {
            size_t off = 40 + (size_t)(559 - y) * 2700 + x * 3;
            bool same = home.compare(off, 3, opt, off, 3) == 0;
            bool in = x >= 43 && x < 543 && y >= 159 && y < 386;
            if (!same && !in) outside++;
            if (!same && in) inside++;
        }
    }
    EXPECT_EQ(outside, 0) << "pixels that differ outside (43, 159)-(543, 386)";
    EXPECT_GT(inside, 1000) << "each page carries its own labels";
}

TEST_F(Resources, SpritePackAndFontsAreEmbedded) {
    std::string pack = Data(RT_RCDATA, 300);
    EXPECT_EQ(pack.size(), (size_t)PackSize);
    // TrueType files, each with its launcher family in the name table (UTF-16BE).
    struct {
        int id;
        const char *family;
    } fonts[] = {{310, "Zorun Cinzel"}, {311, "Zorun Sans"}, {312, "Zorun Sans SemiBold"}};
    for (auto &f : fonts) {
        SCOPED_TRACE(f.id);
        std::string ttf = Data(RT_RCDATA, f.id);
        ASSERT_GT(ttf.size(), 1000u);
        EXPECT_EQ(ttf.substr(0, 4), std::string("\0\1\0\0", 4));
        std::string be;
        for (const char *c = f.family; *c; c++) be += std::string("\0", 1) + *c;
        EXPECT_NE(ttf.find(be), std::string::npos);
    }
}

TEST_F(Resources, IconGroup101HoldsNinePngIcons) {
    std::string group = Data(RT_GROUP_ICON, 101);
    ASSERT_EQ(group.size(), 132u);
    EXPECT_EQ(At<WORD>(group, 2), 1) << "type: icon";
    ASSERT_EQ(At<WORD>(group, 4), 9);
    const int sizes[] = {16, 20, 24, 32, 40, 48, 64, 128, 256};
    for (int i = 0; i < 9; i++) {
        SCOPED_TRACE(sizes[i]);
        size_t e = 6 + 14 * i;  // GRPICONDIRENTRY
        EXPECT_EQ((unsigned char)group[e], sizes[i] % 256) << "width (0 for 256)";
        EXPECT_EQ((unsigned char)group[e + 1], sizes[i] % 256);
        EXPECT_EQ(At<WORD>(group, e + 6), 32) << "bits per pixel";
        WORD id = At<WORD>(group, e + 12);
        EXPECT_EQ(id, i + 1);
        std::string png = Data(RT_ICON, id);
        ASSERT_EQ(At<DWORD>(group, e + 8), png.size());
        ASSERT_GT(png.size(), 33u);
        EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
        // IHDR: big-endian width and height, 8-bit RGBA.
        auto be32 = [&](size_t o) {
            return (unsigned char)png[o] << 24 | (unsigned char)png[o + 1] << 16 |
                   (unsigned char)png[o + 2] << 8 | (unsigned char)png[o + 3];
        };
        EXPECT_EQ(be32(16), sizes[i]);
        EXPECT_EQ(be32(20), sizes[i]);
        EXPECT_EQ(png[24], 8);
        EXPECT_EQ(png[25], 6);
    }
    // The system can make an icon of it.
    HICON icon = (HICON)LoadImageW(exe, MAKEINTRESOURCEW(101), IMAGE_ICON, 32, 32, 0);
    EXPECT_TRUE(icon);
    if (icon) DestroyIcon(icon);
}

TEST_F(Resources, ManifestAsksForNoElevationNoDpiAwarenessNoCommonControls) {
    std::string m = Data(MAKEINTRESOURCEW(24), 1);
    ASSERT_FALSE(m.empty());
    EXPECT_NE(m.find("level=\"asInvoker\""), std::string::npos);
    for (const char *os : {"e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                           "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                           "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"})
        EXPECT_NE(m.find(os), std::string::npos) << os;
    EXPECT_EQ(m.find("dpiAware"), std::string::npos);
    EXPECT_EQ(m.find("Common-Controls"), std::string::npos);
}

TEST(Version, StringsAndNumbersReadThroughTheVersionApi) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(LAUNCHER_EXE, &ignored);
    ASSERT_GT(size, 0u);
    std::string block(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoW(LAUNCHER_EXE, 0, size, &block[0]));

    VS_FIXEDFILEINFO *fixed = 0;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", (void **)&fixed, &len));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00020000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00020000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);

    WORD *lang = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", (void **)&lang, &len));
    ASSERT_GE(len, 4u);
    EXPECT_EQ(lang[0], 0x0416);
    EXPECT_EQ(lang[1], 1200);

    auto value = [&](const wchar_t *name) {
        std::wstring path = std::wstring(L"\\StringFileInfo\\041604B0\\") + name;
        wchar_t *text = 0;
        UINT n = 0;
        return VerQueryValueW(block.data(), path.c_str(), (void **)&text, &n) && text ? std::wstring(text)
                                                                                       : std::wstring();
    };
    EXPECT_EQ(value(L"FileDescription"), L"Velmora - Launcher");
    EXPECT_EQ(value(L"ProductName"), L"Velmora 0.97j");
    EXPECT_EQ(value(L"FileVersion"), L"2.0");
    std::wstring legal = value(L"LegalCopyright");
    EXPECT_NE(legal.find(L"Cinzel"), std::wstring::npos);
    EXPECT_NE(legal.find(L"Open Sans"), std::wstring::npos);
    EXPECT_NE(legal.find(L"SIL Open Font License"), std::wstring::npos);
}
