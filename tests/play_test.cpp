// Starting the game (Play) and the restart after a self-update, through a real
// window in this process, and the built launcher in a drive's root.
#include <gtest/gtest.h>

#include "app/options.h"
#include "app/state.h"
#include "support/testutil.h"
#include "support/window.h"

namespace {

const std::wstring Recorder = TEST_PROGRAMS L"\\recorder.exe";
const wchar_t *NoGame = L"Não encontrei o main.exe. O launcher precisa ficar na pasta do jogo.";

// The recorded command line without the quotes a path may be given.
std::string Unquoted(std::string s) {
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
    return s;
}

class Launch : public ::testing::Test {
protected:
    std::wstring dir, elsewhere;
    wchar_t cwd[MAX_PATH];
    void SetUp() override {
        GetCurrentDirectoryW(MAX_PATH, cwd);
        dir = ScratchOptions(L"play");
        elsewhere = FreshDir(L"play-elsewhere");
        // The launcher may well be started from another folder than its own.
        SetCurrentDirectoryW(elsewhere.c_str());
        Music = Icon = Tray = WinMode = 1;
        Volume = 80;
        ResIdx = 2;
        ASSERT_TRUE(OpenWindow());
    }
    void TearDown() override {
        CloseWindow();
        SetCurrentDirectoryW(cwd);
        ClearOptionsKey();
    }
    std::wstring Game() { return dir + L"\\main.exe"; }
    void CheckStartedInDir(const std::string &record, const std::wstring &exe) {
        ASSERT_FALSE(record.empty()) << "the program did not start";
        EXPECT_EQ(RecordField(record, "cwd"), Utf8(dir));
        EXPECT_EQ(Unquoted(RecordField(record, "cmd")), Utf8(exe)) << "no arguments";
        DWORD pid = (DWORD)std::stoul(RecordField(record, "pid"));
        EXPECT_FALSE(HoldsHandleOf(pid)) << "a handle of the started program was left open";
    }
    void CheckEnded() {
        EXPECT_FALSE(IsWindow(Wnd)) << "the window must be destroyed";
        int code = -1;
        EXPECT_TRUE(TakeQuit(&code));
        EXPECT_EQ(code, 0);
    }
};

// The handle check itself must see a handle that is held.
TEST_F(Launch, TheHandleCheckSeesAHeldHandle) {
    std::wstring exe = elsewhere + L"\\held.exe";
    ASSERT_TRUE(CopyFileW(Recorder.c_str(), exe.c_str(), FALSE));
    HANDLE p = Start(exe);
    ASSERT_TRUE(p);
    DWORD pid = GetProcessId(p);
    WaitExit(p, 10000);
    EXPECT_TRUE(HoldsHandleOf(pid));
    CloseHandle(p);
    EXPECT_FALSE(HoldsHandleOf(pid));
}

TEST_F(Launch, EnterOnceReadySavesThenStartsTheGameInItsFolderAndCloses) {
    ASSERT_TRUE(CopyFileW(Recorder.c_str(), Game().c_str(), FALSE));
    Music = 0;
    Volume = 33;
    ResIdx = 9;
    Key(VK_RETURN);
    EXPECT_TRUE(IsWindow(Wnd)) << "nothing before Ready";
    EXPECT_FALSE(Exists(dir + L"\\main.exe.txt"));
    EXPECT_FALSE(Exists(Ini));

    Ready = 1;
    Key(VK_RETURN);
    std::string record = WaitRecord(Game(), 10000);
    CheckStartedInDir(record, Game());
    CheckEnded();
    // The game found the options already written when it started.
    std::string ini = RecordField(record, "ini");
    EXPECT_NE(ini.find("Volume=33\r\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Largura=1920\r\nAltura=1080\r\n"), std::string::npos) << ini;
    EXPECT_EQ(OptionDword(L"MusicOnOff"), 0);
    EXPECT_EQ(OptionDword(L"Resolution"), 4);
}

TEST_F(Launch, ThePlayButtonDoesTheSame) {
    ASSERT_TRUE(CopyFileW(Recorder.c_str(), Game().c_str(), FALSE));
    Click(700, 500);
    EXPECT_TRUE(IsWindow(Wnd)) << "no Play button before Ready";
    Ready = 1;
    Click(700, 500);
    CheckStartedInDir(WaitRecord(Game(), 10000), Game());
    CheckEnded();
    EXPECT_NE(IniText().find("[Janela]\r\nVolume=80\r\n"), std::string::npos);
}

TEST_F(Launch, WithoutTheGameTheMessageBoxShowsAndTheLauncherStays) {
    Ready = 1;
    Volume = 12;
    BoxSeen box;
    std::string iniWhileOpen;
    std::thread watch = WatchBox(box, 10000, [&] { iniWhileOpen = IniText(); });
    Key(VK_RETURN);  // returns when the box is closed
    watch.join();
    ASSERT_TRUE(box.seen) << "no message box";
    EXPECT_EQ(box.caption, L"Velmora");
    EXPECT_EQ(box.text, NoGame);
    EXPECT_EQ(box.owner, Wnd) << "the box belongs to the launcher's window";
    EXPECT_TRUE(box.errorIcon);
    EXPECT_EQ(box.buttons, 1);
    EXPECT_TRUE(box.okButton);
    EXPECT_NE(iniWhileOpen.find("Volume=12\r\n"), std::string::npos) << "options saved before the attempt";
    EXPECT_EQ(OptionDword(L"SoundOnOff"), 1);
    EXPECT_TRUE(IsWindow(Wnd));
    EXPECT_FALSE(TakeQuit(nullptr));
}

TEST_F(Launch, AGameThatIsNoProgramGetsTheSameMessage) {
    ASSERT_TRUE(WriteBytes(Game(), "not a program"));
    Ready = 1;
    BoxSeen box;
    std::thread watch = WatchBox(box, 10000);
    Key(VK_RETURN);
    watch.join();
    EXPECT_EQ(box.text, NoGame);
    EXPECT_TRUE(IsWindow(Wnd));
}

// Dir is at most 243 units at start-up, but Play must never depend on that:
// a folder with no room for "\main.exe" gets the message, not an overflow.
TEST_F(Launch, AFolderTooLongForTheGamesPathGetsTheMessage) {
    for (int len : {251, 259}) {
        std::wstring longDir = L"C:\\" + std::wstring(len - 3, L'd');
        lstrcpynW(Dir, longDir.c_str(), PathLen);
        ASSERT_EQ(lstrlenW(Dir), len);
        Ready = 1;
        BoxSeen box;
        std::thread watch = WatchBox(box, 10000);
        Key(VK_RETURN);
        watch.join();
        EXPECT_EQ(box.text, NoGame) << len;
        EXPECT_TRUE(IsWindow(Wnd)) << len;
        EXPECT_EQ(lstrlenW(Dir), len) << "Dir untouched";
    }
}

TEST_F(Launch, TheLastNotificationWithRestartStartsTheNewLauncherInDir) {
    std::wstring exe = dir + L"\\VelmoraLauncher.exe";
    ASSERT_TRUE(CopyFileW(Recorder.c_str(), exe.c_str(), FALSE));
    lstrcpynW(SelfExe, exe.c_str(), PathLen);
    Ready = 1;
    Restart = 1;
    Dirtied(WM_NETSTATE, 0);
    EXPECT_TRUE(IsWindow(Wnd)) << "only the last notification restarts";
    Dirtied(WM_NETSTATE, 1);
    CheckStartedInDir(WaitRecord(exe, 10000), exe);
    CheckEnded();
    EXPECT_FALSE(Exists(Ini)) << "a restart has nothing to save";
}

TEST_F(Launch, TheLauncherEndsEvenWhenTheRestartFails) {
    lstrcpynW(SelfExe, (dir + L"\\missing.exe").c_str(), PathLen);
    Ready = 1;
    Restart = 1;
    BoxSeen box;
    std::thread watch = WatchBox(box, 1000);
    Dirtied(WM_NETSTATE, 1);
    watch.join();
    EXPECT_FALSE(box.seen) << "a failed restart shows nothing";
    CheckEnded();
}

// The built launcher in the root of drive C, started from another folder: its
// folder is "C:", its INI C:\ZorunJanela.ini, and the game must start in C:\,
// not in whatever folder "C:" names for the process.
TEST(LaunchExe, FromADrivesRootTheGameStartsInTheRoot) {
    const std::wstring exe = L"C:\\VelmoraLauncher.exe", game = L"C:\\main.exe", ini = L"C:\\ZorunJanela.ini",
                       record = L"C:\\main.exe.txt";
    auto clean = [&] {
        for (auto &f : {exe, game, ini, record}) DeleteFileW(f.c_str());
    };
    clean();
    ClearOptionsKey();
    ASSERT_TRUE(CopyFileW(LAUNCHER_EXE, exe.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(Recorder.c_str(), game.c_str(), FALSE));
    // A site that refuses at once, so the network side ends quickly either way.
    ASSERT_TRUE(WriteBytes(ini, "[Janela]\r\nVolume=44\r\nLargura=800\r\nAltura=600\r\n"
                                "[Launcher]\r\nSite=http://127.0.0.1:9\r\n"));
    std::wstring from = FreshDir(L"play-from");
    HANDLE p = Start(exe, from);
    ASSERT_TRUE(p);
    HWND w = WaitWindow(GetProcessId(p), APP_NAME, 10000);
    ASSERT_TRUE(w) << "no launcher window";

    // Enter does nothing until the network side is done; then it plays.
    bool ended = WaitFor([&] {
        PostMessageW(w, WM_KEYDOWN, VK_RETURN, 1);
        return WaitForSingleObject(p, 100) == WAIT_OBJECT_0;
    }, 30000);
    EXPECT_TRUE(ended) << "the launcher did not play and end";
    EXPECT_EQ(WaitExit(p, 5000), 0);
    CloseHandle(p);

    std::string rec = WaitRecord(game, 10000);
    EXPECT_EQ(RecordField(rec, "cwd"), "C:\\");
    EXPECT_EQ(Unquoted(RecordField(rec, "cmd")), "C:\\main.exe");
    std::string text = RecordField(rec, "ini");
    EXPECT_NE(text.find("[Janela]\r\nVolume=44\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Largura=800\r\nAltura=600\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Bandeja=1\r\nIcone=1\r\n"), std::string::npos) << "written by the save before the game";
    EXPECT_NE(text.find("[Launcher]\r\nSite=http://127.0.0.1:9\r\n"), std::string::npos) << text;
    EXPECT_EQ(OptionDword(L"Resolution"), 1);
    clean();
    ClearOptionsKey();
}

}  // namespace
