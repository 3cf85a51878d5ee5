// Paths formed at start-up and the window's placement.
#include <gtest/gtest.h>

#include <string>

#include "app/startup.h"
#include "app/state.h"

namespace {

TEST(Paths, FolderAndIniFollowTheExecutable) {
    ASSERT_TRUE(FormPaths(L"C:\\Jogos\\Velmora\\VelmoraLauncher.exe"));
    EXPECT_STREQ(SelfExe, L"C:\\Jogos\\Velmora\\VelmoraLauncher.exe");
    EXPECT_STREQ(Dir, L"C:\\Jogos\\Velmora");
    EXPECT_STREQ(Ini, L"C:\\Jogos\\Velmora\\ZorunJanela.ini");
}

TEST(Paths, ADriveRootKeepsOnlyTheDrive) {
    ASSERT_TRUE(FormPaths(L"C:\\VelmoraLauncher.exe"));
    EXPECT_STREQ(Dir, L"C:");
    EXPECT_STREQ(Ini, L"C:\\ZorunJanela.ini");
}

TEST(Paths, APathWithoutBackslashIsItsOwnFolder) {
    ASSERT_TRUE(FormPaths(L"launcher.exe"));
    EXPECT_STREQ(Dir, L"launcher.exe");
}

// The longest folder that still leaves room for "\ZorunJanela.ini" and, with a
// short exe name, for ".old"; one unit more and the launcher must refuse.
TEST(Paths, TheLongestFolderFitsAndOneMoreIsRefused) {
    std::wstring dir = L"C:\\" + std::wstring(243 - 3, L'd');  // 243 units
    ASSERT_EQ(dir.size(), 243u);
    ASSERT_TRUE(FormPaths((dir + L"\\a.exe").c_str()));
    EXPECT_EQ(lstrlenW(Ini), 259);
    EXPECT_EQ(Dir, dir);

    std::wstring longer = dir + L"d";
    EXPECT_FALSE(FormPaths((longer + L"\\a.exe").c_str()));
    EXPECT_STREQ(Dir, L"");
    EXPECT_STREQ(Ini, L"");
    EXPECT_STREQ(SelfExe, L"");
}

TEST(Paths, TheOldLeftoverMustFitToo) {
    // Folder short enough for the INI, but the exe name makes "<exe>.old" too long.
    std::wstring dir = L"C:\\" + std::wstring(200, L'd');
    std::wstring exe = dir + L"\\" + std::wstring(250 - dir.size(), L'x') + L".exe";  // 255 units
    ASSERT_EQ(exe.size(), 255u);
    EXPECT_TRUE(FormPaths(exe.c_str()));
    EXPECT_FALSE(FormPaths((exe.substr(0, exe.size() - 4) + L"y.exe").c_str()));
}

TEST(Placement, CentredWithTheHalfPixelDropped) {
    struct { int w, h, x, y; } cases[] = {
        {1366, 768, 233, 104}, {1365, 768, 232, 104}, {800, 600, -50, 20},
        {1920, 1080, 510, 260}, {900, 560, 0, 0}, {899, 559, 0, 0}, {897, 557, -1, -1}};
    for (auto c : cases) {
        POINT p = CentreOn(c.w, c.h);
        EXPECT_EQ(p.x, c.x) << c.w << "x" << c.h;
        EXPECT_EQ(p.y, c.y) << c.w << "x" << c.h;
    }
}

}  // namespace
