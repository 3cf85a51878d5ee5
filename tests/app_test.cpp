// Start-up: the paths formed from the executable's and the window's place,
// then the built launcher started as a process: its window, one instance, the
// hand-over of a restart after a self-update, and the leftover of one.
#include <gtest/gtest.h>

#include <cstdio>
#include <thread>
#include <vector>

#include "app/startup.h"
#include "app/state.h"
#include "support/testutil.h"

namespace {

TEST(Paths, FolderIniAndTheLimitsOfTheirFields) {
    ASSERT_TRUE(FormPaths(L"C:\\Jogos\\Velmora\\VelmoraLauncher.exe"));
    EXPECT_STREQ(SelfExe, L"C:\\Jogos\\Velmora\\VelmoraLauncher.exe");
    EXPECT_STREQ(Dir, L"C:\\Jogos\\Velmora");
    EXPECT_STREQ(Ini, L"C:\\Jogos\\Velmora\\ZorunJanela.ini");
    ASSERT_TRUE(FormPaths(L"C:\\VelmoraLauncher.exe"));
    EXPECT_STREQ(Dir, L"C:") << "a drive's root keeps only the drive";
    EXPECT_STREQ(Ini, L"C:\\ZorunJanela.ini");
    // The longest folder that leaves room for "\ZorunJanela.ini"; one unit more is refused.
    std::wstring dir = L"C:\\" + std::wstring(240, L'd');
    ASSERT_TRUE(FormPaths((dir + L"\\a.exe").c_str()));
    EXPECT_EQ(lstrlenW(Ini), 259);
    EXPECT_FALSE(FormPaths((dir + L"d\\a.exe").c_str()));
    EXPECT_STREQ(Dir, L"");
    EXPECT_STREQ(Ini, L"");
    EXPECT_STREQ(SelfExe, L"");
    // A short folder, but an executable name that leaves no room for "<exe>.old".
    std::wstring exe = L"C:\\" + std::wstring(200, L'd') + L"\\" + std::wstring(47, L'x') + L".exe";
    ASSERT_EQ(exe.size(), 255u);
    EXPECT_TRUE(FormPaths(exe.c_str()));
    EXPECT_FALSE(FormPaths((exe.substr(0, exe.size() - 4) + L"y.exe").c_str()));
}

// The window at each scale (1350 x 840 at 150 %, 1800 x 1120 at 200 %).
TEST(Placement, CentredWithTheHalfPixelDropped) {
    struct {
        int dpi, w, h, x, y;
    } cases[] = {{96, 1366, 768, 233, 104}, {96, 1365, 767, 232, 103}, {96, 800, 600, -50, 20},
                 {96, 900, 560, 0, 0},      {96, 897, 557, -1, -1},    {144, 1920, 1080, 285, 120},
                 {144, 1366, 768, 8, -36},  {192, 3840, 2160, 1020, 520}, {120, 1919, 1079, 397, 189}};
    int keep = Dpi;
    for (auto c : cases) {
        Dpi = c.dpi;
        POINT p = CentreOn(c.w, c.h);
        EXPECT_EQ(p.x, c.x) << c.w << "x" << c.h << " at " << c.dpi;
        EXPECT_EQ(p.y, c.y) << c.w << "x" << c.h << " at " << c.dpi;
    }
    Dpi = keep;
}

// The built launcher in a scratch folder whose INI names a site that refuses at
// once, so that the network side ends quickly. Its window takes the scale of
// the system (tests/scale_test.py runs these at each scale).
class Exe : public ::testing::Test {
protected:
    std::wstring dir, exe;
    std::vector<HANDLE> procs;
    void SetUp() override {
        dir = FreshDir(L"startup");
        exe = dir + L"\\VelmoraLauncher.exe";
        ASSERT_TRUE(CopyFileW(LAUNCHER_EXE, exe.c_str(), FALSE));
        ASSERT_TRUE(WriteBytes(dir + L"\\ZorunJanela.ini", "[Launcher]\r\nSite=http://127.0.0.1:9\r\n"));
    }
    void TearDown() override {
        for (HANDLE p : procs) Kill(p);
    }
    HANDLE Launch(const std::wstring &path, int show = SW_SHOWNORMAL) {
        HANDLE p = Start(path, L"", L"", show);
        if (p) procs.push_back(p);
        return p;
    }
    // The launcher's window, shown by process p (waited for up to 10 s).
    HWND WindowOf(HANDLE p) {
        HWND w = 0;
        WaitFor([&] {
            DWORD pid = 0;
            GetWindowThreadProcessId(w = FindWindowW(APP_NAME, 0), &pid);
            return w && pid == GetProcessId(p);
        }, 10000);
        return w;
    }
};

TEST_F(Exe, ABorderlessCentredWindowTheLeftoverOfAnUpdateGoneAndClosingExitsWithZero) {
    // Read-only, as a launcher copied from read-only media leaves it.
    ASSERT_TRUE(WriteBytes(exe + L".old", "previous launcher"));
    ASSERT_TRUE(SetFileAttributesW((exe + L".old").c_str(), FILE_ATTRIBUTE_READONLY));
    HANDLE p = Launch(exe);
    ASSERT_TRUE(p);
    HWND w = WindowOf(p);
    ASSERT_TRUE(w) << "no launcher window";
    EXPECT_FALSE(Exists(exe + L".old"));
    wchar_t title[64];
    GetWindowTextW(w, title, 64);
    EXPECT_STREQ(title, L"Velmora");
    LONG style = GetWindowLongW(w, GWL_STYLE);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_FALSE(style & (WS_CAPTION | WS_THICKFRAME));
    EXPECT_TRUE(GetWindowLongW(w, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    RECT r, c;
    GetWindowRect(w, &r);
    GetClientRect(w, &c);
    // The scale as the system gives it to any program.
    HDC screen = GetDC(0);
    int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(0, screen);
    std::printf("the system's scale: %d dpi\n", dpi);
    EXPECT_NEAR(c.right, 900 * dpi / 96.0, 0.5);  // the nearest pixel (exact at 125, 150, 175 and 200 %)
    EXPECT_NEAR(c.bottom, 560 * dpi / 96.0, 0.5);
    EXPECT_EQ(r.right - r.left, c.right) << "no frame around the client area";
    EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - c.right) / 2) << "centred";
    EXPECT_EQ(r.top, (GetSystemMetrics(SM_CYSCREEN) - c.bottom) / 2) << "centred";
    PostMessageW(w, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitExit(p, 10000), 0);
}

TEST_F(Exe, ASecondInstanceBringsTheFirstForwardAndTouchesNothing) {
    HANDLE first = Launch(exe);
    ASSERT_TRUE(first);
    HWND w = WindowOf(first);
    ASSERT_TRUE(w);
    ShowWindow(w, SW_MINIMIZE);
    ASSERT_TRUE(WaitFor([&] { return IsIconic(w) != 0; }, 5000));
    // The second copy lives elsewhere, with a leftover it must not delete.
    std::wstring dir2 = FreshDir(L"startup-second"), exe2 = dir2 + L"\\VelmoraLauncher.exe";
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

TEST_F(Exe, StartedMinimizedTheWindowStaysMinimized) {
    HANDLE p = Launch(exe, SW_SHOWMINNOACTIVE);
    ASSERT_TRUE(p);
    HWND w = WindowOf(p);
    ASSERT_TRUE(w);
    // The window can be found between its creation and its first ShowWindow.
    EXPECT_TRUE(WaitFor([&] { return IsIconic(w) != 0; }, 5000));
}

// How many handles are open on the object h refers to, in all processes.
ULONG HandleCount(HANDLE h) {
    struct {
        ULONG attributes;
        ACCESS_MASK access;
        ULONG handles, pointers, reserved[10];
    } info = {};
    typedef LONG(WINAPI * Query)(HANDLE, int, void *, ULONG, ULONG *);
    static Query query = (Query)(void *)GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject");
    ULONG len = 0;
    return query && query(h, 0 /* ObjectBasicInformation */, &info, sizeof info, &len) == 0 ? info.handles : 0;
}

// A launcher restarting after a self-update can meet the old process still
// holding the single-instance mutex, its window gone: it waits for the mutex
// (released, or abandoned by an owner that ended) however long the old
// process takes on a slow PC, then runs as the first instance. A window
// that shows while it waits is a launcher that was only starting: that one
// is brought forward and the waiting one ends.
TEST_F(Exe, WithTheMutexHeldAndNoWindowItWaitsForTheOldProcess) {
    // Longer than the old process of a busy PC could be given by any time limit.
    const DWORD slowEnd = 4000;
    for (bool abandon : {false, true}) {
        SCOPED_TRACE(abandon ? "abandoned" : "released");
        HANDLE go = CreateEventW(0, TRUE, FALSE, 0), held = CreateEventW(0, TRUE, FALSE, 0), m = 0;
        std::thread owner([&] {
            m = CreateMutexW(0, TRUE, APP_NAME);
            SetEvent(held);
            WaitForSingleObject(go, 60000);
            if (!abandon) ReleaseMutex(m);
            CloseHandle(m);  // the thread ends owning it: abandoned
        });
        struct Ending {  // however the iteration ends
            std::thread &t;
            HANDLE go;
            ~Ending() {
                SetEvent(go);
                t.join();
                CloseHandle(go);
            }
        } ending{owner, go};
        ASSERT_EQ(WaitForSingleObject(held, 10000), (DWORD)WAIT_OBJECT_0);
        CloseHandle(held);
        // A window left by an earlier launcher would end the new one at once.
        ASSERT_TRUE(WaitFor([] { return !FindWindowW(APP_NAME, 0); }, 10000)) << "a launcher window is left";
        HANDLE p = Launch(exe);
        ASSERT_TRUE(p);
        EXPECT_TRUE(WaitFor([&] { return HandleCount(m) > 1; }, 30000)) << "the launcher never opened the mutex";
        if (!abandon) Sleep(slowEnd);
        EXPECT_EQ(WaitForSingleObject(p, 0), (DWORD)WAIT_TIMEOUT) << "it must wait, not give up";
        EXPECT_FALSE(FindWindowW(APP_NAME, 0));
        SetEvent(go);
        EXPECT_TRUE(WindowOf(p)) << "after the hand-over it runs as the first instance";
        Kill(p);
        procs.clear();
    }
    ASSERT_TRUE(WaitFor([] { return !FindWindowW(APP_NAME, 0); }, 10000)) << "a launcher window is left";
    HANDLE held = CreateMutexW(0, TRUE, APP_NAME);
    ASSERT_NE(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS) << "a mutex left by an earlier test";
    HANDLE p = Launch(exe);
    ASSERT_TRUE(p);
    ASSERT_TRUE(WaitFor([&] { return HandleCount(held) > 1; }, 30000)) << "the launcher never opened the mutex";
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(0);
    wc.lpszClassName = APP_NAME;
    ASSERT_TRUE(RegisterClassW(&wc));
    HWND starting = CreateWindowExW(0, APP_NAME, L"Velmora", WS_POPUP | WS_MINIMIZE | WS_VISIBLE, 0, 0, 100, 100,
                                    0, 0, wc.hInstance, 0);
    ASSERT_TRUE(starting);
    // Pumped: bringing a window forward waits for the thread that owns it.
    EXPECT_TRUE(WaitFor([&] {
        for (MSG msg; PeekMessageW(&msg, 0, 0, 0, PM_REMOVE);) DispatchMessageW(&msg);
        return WaitForSingleObject(p, 0) == WAIT_OBJECT_0;
    }, 15000)) << "the waiting launcher did not hand over to the window";
    EXPECT_EQ(WaitExit(p, 0), 0);
    EXPECT_FALSE(IsIconic(starting)) << "the window was not brought forward";
    DestroyWindow(starting);
    UnregisterClassW(APP_NAME, wc.hInstance);
    CloseHandle(held);
}

}  // namespace
