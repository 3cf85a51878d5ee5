// The options against the real registry and INI functions of the test prefix.
#include <gtest/gtest.h>

#include "app/options.h"
#include "app/state.h"
#include "site.h"
#include "support/testutil.h"

namespace {

class Options : public ::testing::Test {
protected:
    std::wstring dir;
    void SetUp() override {
        dir = FreshDir(L"options");
        wsprintfW(Ini, L"%s\\ZorunJanela.ini", dir.c_str());
        ClearOptionsKey();
        Music = Icon = Tray = WinMode = 1;
        Volume = 80;
        ResIdx = 2;
        Site[0] = 0;
    }
    void TearDown() override { ClearOptionsKey(); }
    void Ini_(const char *text) { ASSERT_TRUE(WriteBytes(Ini, text)); }
    std::string IniText() { return ReadBytes(Ini); }
    void SetMusicValue(DWORD type, const void *data, DWORD size) {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, OPTIONS_KEY, 0, 0, 0, KEY_WRITE, 0, &key, 0), 0);
        RegSetValueExW(key, L"MusicOnOff", 0, type, (const BYTE *)data, size);
        RegCloseKey(key);
    }
};

TEST_F(Options, FirstRunLoadsDefaultsAndFirstSaveWritesTheGameFormat) {
    LoadOptions();
    EXPECT_EQ(Music, 1);
    EXPECT_EQ(WinMode, 1);
    EXPECT_EQ(Volume, 80);
    EXPECT_EQ(Tray, 1);
    EXPECT_EQ(Icon, 1);
    EXPECT_EQ(ResIdx, 2);
    EXPECT_STREQ(Site, DEFAULT_SITE);
    EXPECT_FALSE(Exists(Ini)) << "loading must not create the INI";

    SaveOptions();
    EXPECT_EQ(OptionDword(L"Resolution"), 2);
    EXPECT_EQ(OptionDword(L"MusicOnOff"), 1);
    EXPECT_EQ(OptionDword(L"SoundOnOff"), 1);
    EXPECT_EQ(IniText(),
              "[Janela]\r\nVolume=80\r\nJanela=1\r\nBandeja=1\r\nIcone=1\r\nLargura=1024\r\nAltura=768\r\n");
}

TEST_F(Options, OutOfRangeAndOddValuesAreCorrectedOnLoadAndWrittenBackCorrected) {
    Ini_("[Janela]\r\nVolume=150\r\nJanela=2\r\nBandeja=sim\r\nIcone=-3\r\nLargura=1366\r\nAltura=767\r\n");
    DWORD five = 5;
    SetMusicValue(REG_DWORD, &five, 4);
    LoadOptions();
    EXPECT_EQ(Volume, 100);
    EXPECT_EQ(WinMode, 1);
    EXPECT_EQ(Tray, 0) << "text without leading digits reads as 0";
    EXPECT_EQ(Icon, 1);
    EXPECT_EQ(ResIdx, 2) << "1366 x 767 is no row of the table";
    EXPECT_EQ(Music, 1);

    SaveOptions();
    std::string ini = IniText();
    EXPECT_NE(ini.find("Volume=100\r\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Janela=1\r\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Bandeja=0\r\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Largura=1024\r\nAltura=768\r\n"), std::string::npos) << ini;
    EXPECT_EQ(OptionDword(L"MusicOnOff"), 1);
}

TEST_F(Options, NegativeVolumeLoadsZeroAndSilencesSound) {
    Ini_("[Janela]\nVolume=-5\n");
    LoadOptions();
    EXPECT_EQ(Volume, 0);
    SaveOptions();
    EXPECT_EQ(OptionDword(L"SoundOnOff"), 0);
    EXPECT_NE(IniText().find("Volume=0"), std::string::npos);
}

TEST_F(Options, MusicFollowsTheRegistryOnly) {
    DWORD zero = 0;
    SetMusicValue(REG_DWORD, &zero, 4);
    Ini_("[Janela]\nMusicOnOff=1\n");
    LoadOptions();
    EXPECT_EQ(Music, 0);

    // A value of another type is still read as its four bytes.
    SetMusicValue(REG_BINARY, "\x01\x00\x00\x00", 4);
    Music = 0;
    LoadOptions();
    EXPECT_EQ(Music, 1);
}

TEST_F(Options, HandEditedDerivedRegistryValuesAreIgnoredAndOverwritten) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, OPTIONS_KEY, 0, 0, 0, KEY_WRITE, 0, &key, 0), 0);
    DWORD v = 1;
    RegSetValueExW(key, L"Resolution", 0, REG_DWORD, (BYTE *)&v, 4);
    v = 0;
    RegSetValueExW(key, L"SoundOnOff", 0, REG_DWORD, (BYTE *)&v, 4);
    RegCloseKey(key);
    LoadOptions();
    EXPECT_EQ(ResIdx, 2);
    EXPECT_EQ(Volume, 80);
    SaveOptions();
    EXPECT_EQ(OptionDword(L"Resolution"), 2);
    EXPECT_EQ(OptionDword(L"SoundOnOff"), 1);
}

TEST_F(Options, EveryRowLoadsFromItsSizeAndSavesItsCode) {
    const int codes[ResCount] = {4, 1, 2, 3, 3, 4, 3, 4, 4, 4};
    for (int row = 0; row < ResCount; row++) {
        char text[128];
        wsprintfA(text, "[Janela]\r\nLargura=%d\r\nAltura=%d\r\n", Res[row].width, Res[row].height);
        Ini_(text);
        ResIdx = 2;
        LoadOptions();
        EXPECT_EQ(ResIdx, row);
        SaveOptions();
        EXPECT_EQ(OptionDword(L"Resolution"), codes[row]) << "row " << row;
        char sizes[64];
        wsprintfA(sizes, "Largura=%d\r\nAltura=%d\r\n", Res[row].width, Res[row].height);
        EXPECT_NE(IniText().find(sizes), std::string::npos) << "row " << row;
    }
}

TEST_F(Options, ResolutionCodeBoundaries) {
    struct { int width, code; } cases[] = {{0, 4}, {1, 1}, {800, 1}, {801, 2}, {1024, 2},
                                           {1025, 3}, {1280, 3}, {1281, 4}, {4000, 4}};
    for (auto c : cases) EXPECT_EQ(ResCode(c.width), c.code) << "width " << c.width;
}

TEST_F(Options, SavesKeepOtherSectionsKeysAndTheSite) {
    Ini_("[Outra]\r\nChave=valor\r\n[Janela]\r\nAltura=600\r\nExtra=7\r\nLargura=800\r\n"
         "[Launcher]\r\nSite=http://127.0.0.1:8080\r\n");
    LoadOptions();
    EXPECT_EQ(ResIdx, 1);
    EXPECT_STREQ(Site, L"http://127.0.0.1:8080");
    WinMode = 0;
    SaveOptions();
    std::string ini = IniText();
    EXPECT_NE(ini.find("[Outra]\r\nChave=valor\r\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Extra=7"), std::string::npos) << ini;
    EXPECT_NE(ini.find("[Launcher]\r\nSite=http://127.0.0.1:8080"), std::string::npos) << ini;
    // Borderless mode still stores the chosen row's size.
    EXPECT_NE(ini.find("Janela=0"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Altura=600"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Largura=800"), std::string::npos) << ini;
}

TEST_F(Options, ALongSiteIsCutToItsBuffer) {
    std::string site = "http://" + std::string(300, 'a');
    Ini_(("[Launcher]\r\nSite=" + site + "\r\n").c_str());
    LoadOptions();
    EXPECT_EQ(lstrlenW(Site), SiteLen - 1);
    EXPECT_EQ(Utf8(Site), site.substr(0, SiteLen - 1));
}

TEST_F(Options, AnUnwritableIniLeavesTheOptionsInMemoryAndSaysSo) {
    EXPECT_EQ(SaveOptions(), 1);
    wsprintfW(Ini, L"%s\\missing\\ZorunJanela.ini", dir.c_str());
    Volume = 33;
    EXPECT_EQ(SaveOptions(), 0);
    EXPECT_FALSE(Exists(Ini));
    EXPECT_EQ(Volume, 33);
    EXPECT_EQ(OptionDword(L"SoundOnOff"), 1) << "the registry is written all the same";
}

}  // namespace
