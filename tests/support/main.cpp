// The test programs' main: GoogleTest's, with a watchdog. A test that hangs
// (a wait that never ends, under Wine or in the launcher) would otherwise run
// into CTest's time-out, which kills the program with its output unprinted;
// the watchdog names the test, says where the launcher's status line stood,
// and ends the program with everything printed so far. A crash names its
// test too.
#include <gtest/gtest.h>
#include <stdio.h>
#include <windows.h>

#include <atomic>
#include <string>

#include "app/state.h"
#include "support/testutil.h"

namespace {

const DWORD LimitMs = 120000;  // far beyond any test's run, well within CTest's 300 s

std::atomic<ULONGLONG> Began{0};  // 1 + GetTickCount64() at the running test's start; 0 between tests
char Running[256];

class Watch : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo &t) override {
        _snprintf(Running, sizeof Running - 1, "%s.%s", t.test_suite_name(), t.name());
        Began = GetTickCount64() + 1;
    }
    void OnTestEnd(const ::testing::TestInfo &) override { Began = 0; }
};

DWORD WINAPI Watchdog(LPVOID) {
    for (;; Sleep(1000)) {
        ULONGLONG began = Began;
        if (!began || GetTickCount64() + 1 - began < LimitMs) continue;
        printf("\n[ HUNG     ] %s still runs after %lu s; the launcher's status: \"%s\" at %ld per mille\n", Running,
               LimitMs / 1000, Utf8(Status).c_str(), (long)Progress);
        fflush(stdout);
        fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
    }
}

LONG WINAPI Crashed(EXCEPTION_POINTERS *e) {
    printf("\n[ CRASHED  ] %s: exception %08lx at %p\n", Began ? Running : "(between tests)",
           (unsigned long)e->ExceptionRecord->ExceptionCode, e->ExceptionRecord->ExceptionAddress);
    fflush(stdout);
    fflush(stderr);
    return EXCEPTION_CONTINUE_SEARCH;  // Wine then ends the program (no debugger: tools/winenv.py)
}

}  // namespace

int main(int argc, char **argv) {
    SetUnhandledExceptionFilter(Crashed);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new Watch);
    CloseHandle(CreateThread(0, 0, Watchdog, 0, 0, 0));
    return RUN_ALL_TESTS();
}
