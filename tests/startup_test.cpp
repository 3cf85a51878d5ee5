// The built launcher started as a process: one instance, the leftover of a
// self-update, the window, the exit code.
#include <gtest/gtest.h>

#include <vector>

#include "app/startup.h"
#include "app/state.h"
#include "support/testutil.h"

namespace {

class Startup : public ::testing::Test {
protected:
    std::wstring dir, exe;
    std::vector<HANDLE> procs;

    void SetUp() override {
        dir = FreshDir(L"startup");
        exe = dir + L"\\VelmoraLauncher.exe";
        ASSERT_TRUE(CopyFileW(LAUNCHER_EXE, exe.c_str(), FALSE));
    }
    void TearDown() override {
        for (HANDLE p : procs) {
            TerminateProcess(p, 1);
            WaitForSingleObject(p, 5000);
            CloseHandle(p);
        }
    }
    HANDLE Launch(const std::wstring &path, int show = SW_SHOWNORMAL) {
        HANDLE p = Start(path, L"", show);
        if (p) procs.push_back(p);
        return p;
    }
    HWND WindowOf(HANDLE p) { return WaitWindow(GetProcessId(p), APP_NAME, 10000); }
};

TEST_F(Startup, TheWindowIsBorderlessCentredAndClosingItExitsWithZero) {
    HANDLE p = Launch(exe);
    ASSERT_TRUE(p);
    HWND w = WindowOf(p);
    ASSERT_TRUE(w) << "no launcher window";

    wchar_t title[64];
    GetWindowTextW(w, title, 64);
    EXPECT_STREQ(title, L"Velmora");
    LONG style = GetWindowLongW(w, GWL_STYLE);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_FALSE(style & (WS_CAPTION | WS_THICKFRAME));
    EXPECT_TRUE(GetWindowLongW(w, GWL_EXSTYLE) & WS_EX_APPWINDOW);

    RECT r;
    GetWindowRect(w, &r);
    POINT at = CentreOn(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    EXPECT_EQ(r.left, at.x);
    EXPECT_EQ(r.top, at.y);
    EXPECT_EQ(r.right - r.left, 900);
    EXPECT_EQ(r.bottom - r.top, 560);
    RECT c;
    GetClientRect(w, &c);
    EXPECT_EQ(c.right, 900);
    EXPECT_EQ(c.bottom, 560);

    PostMessageW(w, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitExit(p, 10000), 0);
}

TEST_F(Startup, ASecondInstanceBringsTheFirstForwardAndTouchesNothing) {
    HANDLE first = Launch(exe);
    ASSERT_TRUE(first);
    HWND w = WindowOf(first);
    ASSERT_TRUE(w);
    ShowWindow(w, SW_MINIMIZE);
    ASSERT_TRUE(WaitFor([&] { return IsIconic(w) != 0; }, 5000));

    // The second copy lives elsewhere, with a leftover it must not delete.
    std::wstring dir2 = FreshDir(L"startup-second");
    std::wstring exe2 = dir2 + L"\\VelmoraLauncher.exe";
    ASSERT_TRUE(CopyFileW(LAUNCHER_EXE, exe2.c_str(), FALSE));
    ASSERT_TRUE(WriteBytes(exe2 + L".old", "old"));

    HANDLE second = Launch(exe2);
    ASSERT_TRUE(second);
    EXPECT_EQ(WaitExit(second, 10000), 0);
    EXPECT_TRUE(WaitFor([&] { return !IsIconic(w); }, 5000)) << "the first window was not restored";
    EXPECT_TRUE(Exists(exe2 + L".old"));
    EXPECT_FALSE(Exists(dir2 + L"\\ZorunJanela.ini"));
    EXPECT_EQ(WaitForSingleObject(first, 0), (DWORD)WAIT_TIMEOUT) << "the first launcher must keep running";
}

TEST_F(Startup, TheLeftoverOfASelfUpdateIsDeleted) {
    ASSERT_TRUE(WriteBytes(exe + L".old", "previous launcher"));
    HANDLE p = Launch(exe);
    ASSERT_TRUE(p);
    ASSERT_TRUE(WindowOf(p));
    EXPECT_FALSE(Exists(exe + L".old"));
}

TEST_F(Startup, StartedMinimizedTheWindowStaysMinimized) {
    HANDLE p = Launch(exe, SW_SHOWMINNOACTIVE);
    ASSERT_TRUE(p);
    HWND w = WindowOf(p);
    ASSERT_TRUE(w);
    // The window can be found between its creation and its first ShowWindow.
    EXPECT_TRUE(WaitFor([&] { return IsIconic(w) != 0; }, 5000));
}

// A launcher restarting itself after a self-update can meet the old process
// still holding the single-instance mutex, with its window already gone.
TEST_F(Startup, WithTheMutexHeldAndNoWindowItWaitsForTheOldProcess) {
    HANDLE held = CreateMutexW(0, TRUE, APP_NAME);
    ASSERT_TRUE(held);
    HANDLE p = Launch(exe);
    ASSERT_TRUE(p);
    Sleep(1000);
    EXPECT_EQ(WaitForSingleObject(p, 0), (DWORD)WAIT_TIMEOUT) << "it must wait, not give up";
    EXPECT_FALSE(FindWindowW(APP_NAME, 0));
    ReleaseMutex(held);
    CloseHandle(held);
    EXPECT_TRUE(WindowOf(p)) << "after the release it runs as the first instance";
}

static DWORD WINAPI HoldAndVanish(void *) {
    HANDLE m = CreateMutexW(0, TRUE, APP_NAME);  // owned by this thread, never released
    Sleep(800);
    CloseHandle(m);
    return 0;  // the thread ends: the mutex is abandoned
}

TEST_F(Startup, AnAbandonedMutexCountsAsReleased) {
    HANDLE t = CreateThread(0, 0, HoldAndVanish, 0, 0, 0);
    Sleep(200);
    HANDLE p = Launch(exe);
    ASSERT_TRUE(p);
    EXPECT_TRUE(WindowOf(p));
    WaitForSingleObject(t, 5000);
    CloseHandle(t);
}

TEST_F(Startup, AMutexHeldTooLongEndsTheSecondInstanceQuietly) {
    HANDLE held = CreateMutexW(0, TRUE, APP_NAME);
    ASSERT_TRUE(held);
    ASSERT_NE(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS) << "a mutex left by an earlier test";
    DWORD t0 = GetTickCount();
    HANDLE p = Launch(exe);
    ASSERT_TRUE(p);
    EXPECT_EQ(WaitExit(p, 15000), 0);
    DWORD waited = GetTickCount() - t0;
    EXPECT_GE(waited, 2500u);
    EXPECT_LT(waited, 8000u);
    EXPECT_FALSE(FindWindowW(APP_NAME, 0));
    CloseHandle(held);
}

}  // namespace
