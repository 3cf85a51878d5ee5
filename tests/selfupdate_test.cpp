// The launcher replacing its own executable: a real running program stands in
// for the launcher, so the platform's rules for running files apply (it can be
// renamed, not overwritten). Whatever fails, a launcher must stand under its
// own name afterwards, and Restart must mean that it is the new one.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/state.h"
#include "net/netthread.h"
#include "support/netutil.h"
#include "support/testutil.h"
#include "support/webserver.h"
#include "update/selfswap.h"

namespace {

const std::wstring InUse = L"Feche o jogo antes de atualizar e abra o launcher de novo.";
const std::wstring Restarting = L"Launcher atualizado. Reiniciando...";
const std::wstring Corrupt = L"Arquivo de atualização corrompido. Tente de novo.";

class SelfUpdate : public ::testing::Test {
protected:
    std::wstring game, site, exe, old, temp;
    std::string oldExe, newExe, manifest;
    WebServer server;
    HANDLE running = 0;
    std::vector<HANDLE> holders;
    std::vector<WPARAM> msgs;

    void SetUp() override {
        FreshNetState();
        std::wstring test = Wide(::testing::UnitTest::GetInstance()->current_test_info()->name());
        game = FreshDir(L"self-" + test);
        site = FreshDir(L"self-" + test + L"-site");
        CreateDirectoryW((site + L"\\update").c_str(), 0);
        CreateDirectoryW((site + L"\\update\\files").c_str(), 0);
        ASSERT_TRUE(server.Start(site));
        exe = game + L"\\VelmoraLauncher.exe";
        old = exe + L".old";
        temp = exe + L".novo";
        ASSERT_TRUE(CopyFileW(TEST_PROGRAMS L"\\holder.exe", exe.c_str(), FALSE));
        oldExe = ReadBytes(exe);
        running = Start(exe, game);
        ASSERT_TRUE(running);
        ASSERT_EQ(WaitForSingleObject(running, 300), WAIT_TIMEOUT) << "the stand-in should keep running";
        newExe = "MZ novo launcher " + std::string(20000, 'n');
        lstrcpyW(Site, server.Base().c_str());
        lstrcpyW(Dir, game.c_str());
        lstrcpyW(SelfExe, exe.c_str());
        Wnd = NetWindow();
        TakeNetMessages(Wnd);
        RecordPublished();
    }
    void TearDown() override {
        for (HANDLE h : holders) Kill(h);
        Kill(running);
    }
    void List(const std::string &name, const std::string &content) {
        std::wstring path = site + L"\\update\\files\\" + Wide(name);
        std::replace(path.begin(), path.end(), L'/', L'\\');
        MakeParents(path);
        ASSERT_TRUE(WriteBytes(path, content));
        manifest += name + "|" + Md5Of(content) + "|" + std::to_string(content.size()) + "\n";
    }
    Publications Run() {
        WriteBytes(site + L"\\update\\lista.txt", manifest);
        ClearPublished();
        NetThread(0);
        msgs = TakeNetMessages(Wnd);
        return Published();
    }
    // The old launcher is back under its name, nothing was restarted.
    void ExpectOldLauncherKept(const Publications &pubs) {
        EXPECT_EQ(pubs.back(), std::make_pair(InUse, 1000));
        EXPECT_EQ(ReadBytes(exe), oldExe);
        EXPECT_EQ(Restart, 0);
        EXPECT_EQ(Ready, 1);
        EXPECT_EQ(msgs.back(), 1u);
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
    EXPECT_EQ(pubs.back(), std::make_pair(Restarting, 1000));
    EXPECT_EQ(ReadBytes(exe), newExe);
    EXPECT_EQ(ReadBytes(old), oldExe);
    EXPECT_EQ(ReadBytes(game + L"\\zz.bin"), "depois do launcher");
    EXPECT_FALSE(Exists(temp));
    EXPECT_EQ(Restart, 1);
    EXPECT_EQ(Ready, 1);
    // The restart rides on the last message, which comes once, at the end.
    ASSERT_FALSE(msgs.empty());
    EXPECT_EQ(msgs.back(), 1u);
    EXPECT_EQ(std::count(msgs.begin(), msgs.end(), 1), 1);
    // The running launcher goes on running under its ".old" name.
    EXPECT_EQ(WaitForSingleObject(running, 0), WAIT_TIMEOUT);
}

TEST_F(SelfUpdate, MovingTheRunningLauncherAsideFails) {
    struct Case {
        const char *why;
        bool holdOld;  // else the launcher itself is held
    } cases[] = {{"the launcher is held open without delete sharing", false},
                 {"an old \".old\" is held open and cannot make way", true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        FreshNetState();
        manifest.clear();
        for (HANDLE h : holders) Kill(h);
        holders.clear();
        DeleteFileW(old.c_str());
        if (c.holdOld) ASSERT_TRUE(WriteBytes(old, "older launcher"));
        HANDLE h = HoldFile(c.holdOld ? old : exe, FILE_SHARE_READ);
        ASSERT_TRUE(h) << "could not hold the file";
        holders.push_back(h);
        List("VelmoraLauncher.exe", newExe);
        Publications pubs = Run();
        ExpectOldLauncherKept(pubs);
        EXPECT_FALSE(Exists(temp));
        if (c.holdOld) EXPECT_EQ(ReadBytes(old), "older launcher");
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
        FreshNetState();
        std::atomic<bool> stop{false}, held{false};
        std::thread watcher([&] {
            HANDLE f = INVALID_HANDLE_VALUE;
            while (!stop && f == INVALID_HANDLE_VALUE)
                f = CreateFileW(temp.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0,
                                OPEN_EXISTING, 0, 0);
            if (f == INVALID_HANDLE_VALUE) return;
            held = true;
            while (!stop) Sleep(5);
            CloseHandle(f);
        });
        Publications pubs = Run();
        bool got = held;
        stop = true;
        watcher.join();
        if (!got) {
            // The download won the race this time: start again from the old launcher.
            ASSERT_EQ(Restart, 1);
            DeleteFileW(exe.c_str());
            ASSERT_TRUE(MoveFileW(old.c_str(), exe.c_str()));
            continue;
        }
        grabbed = true;
        ExpectOldLauncherKept(pubs);
        EXPECT_FALSE(Exists(old));
        // The held download could not be deleted; it is whole, and the next
        // run overwrites it.
        if (Exists(temp)) EXPECT_EQ(ReadBytes(temp).size(), newExe.size());
    }
    EXPECT_TRUE(grabbed) << "the watcher never caught the download in time";
}

TEST_F(SelfUpdate, ACorruptNewLauncherTouchesNothing) {
    List("VelmoraLauncher.exe", newExe);
    server.On("/update/files/VelmoraLauncher.exe", Answer::Body(std::string(newExe.size(), 'x')));
    Publications pubs = Run();
    EXPECT_EQ(pubs.back(), std::make_pair(Corrupt, 1000));
    EXPECT_EQ(ReadBytes(exe), oldExe);
    EXPECT_FALSE(Exists(old));
    EXPECT_FALSE(Exists(temp));
    EXPECT_EQ(Restart, 0);
}

// ---- The last message ----------------------------------------------------------

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

class LastMessage : public ::testing::Test {
protected:
    WebServer server;
    void SetUp() override {
        FreshNetState();
        ASSERT_TRUE(server.Start(FreshDir(L"last-site")));
        std::wstring game = FreshDir(L"last-game");
        lstrcpyW(Site, server.Base().c_str());
        lstrcpyW(Dir, game.c_str());
        lstrcpyW(SelfExe, (game + L"\\VelmoraLauncher.exe").c_str());
        PublishHook = 0;
    }
};

// Windows refuses posts to a queue holding 10,000 messages; the last message
// is then waited out rather than lost.
TEST_F(LastMessage, ReachesAWindowWithAFullQueue) {
    Wnd = NetWindow();
    TakeNetMessages(Wnd);
    int queued = 0;
    while (queued < 12000 && PostMessageW(Wnd, WM_NULL, 0, 0)) queued++;
    std::atomic<bool> done{false};
    std::thread net([&] {
        NetThread(0);
        done = true;
    });
    // Read the queue as a busy window would, slowly.
    std::vector<WPARAM> got;
    int others = 0;
    DWORD start = GetTickCount();
    while ((!done || got.empty() || got.back() != 1) && GetTickCount() - start < 20000) {
        MSG m;
        for (int i = 0; i < 200 && PeekMessageW(&m, Wnd, 0, 0, PM_REMOVE); i++) {
            if (m.message == WM_NETSTATE) got.push_back(m.wParam);
            else others++;
        }
        Sleep(1);
    }
    net.join();
    std::vector<WPARAM> rest = TakeNetMessages(Wnd);
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(others, queued);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), 1u);
    EXPECT_EQ(std::count(got.begin(), got.end(), 1), 1);
    EXPECT_EQ(Ready, 1);
}

HANDLE WINAPI NoThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
}

// Without the network thread nobody would set Ready: the game could never start.
TEST_F(LastMessage, WithoutANetworkThreadTheGameCanStillBeStarted) {
    Wnd = NetWindow();
    TakeNetMessages(Wnd);
    NewThread = NoThread;
    StartNet();
    NewThread = CreateThread;
    std::vector<WPARAM> got = TakeNetMessages(Wnd);
    EXPECT_EQ(Ready, 1);
    EXPECT_EQ(Progress, 1000);
    EXPECT_EQ(std::wstring(Status), L"Sem conexão com a internet.");
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), 1u);
}

TEST_F(LastMessage, AWindowThatIsGoneDoesNotHoldTheThread) {
    HWND w = CreateWindowW(L"STATIC", L"gone", 0, 0, 0, 10, 10, 0, 0, 0, 0);
    DestroyWindow(w);
    Wnd = w;
    std::atomic<bool> done{false};
    std::thread net([&] {
        NetThread(0);
        done = true;
    });
    EXPECT_TRUE(WaitFor([&] { return done.load(); }, 20000));
    net.join();
    EXPECT_EQ(Ready, 1);
    Wnd = NetWindow();
}

}  // namespace
