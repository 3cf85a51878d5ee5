// What the benchmark programs share: a clock, and a window for the update
// run's publications to land on.
#pragma once
#include <windows.h>

#include <thread>

#include "app/state.h"

inline double Now() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart / (double)f.QuadPart;
}

// A window on its own thread, reading its messages as the launcher's would;
// it becomes Wnd.
inline void StartWindow() {
    HANDLE ready = CreateEventW(0, TRUE, FALSE, 0);
    std::thread([ready] {
        Wnd = CreateWindowW(L"STATIC", L"bench", 0, 0, 0, 10, 10, 0, 0, 0, 0);
        SetEvent(ready);
        MSG m;
        while (GetMessageW(&m, 0, 0, 0) > 0) DispatchMessageW(&m);
    }).detach();
    WaitForSingleObject(ready, INFINITE);
    CloseHandle(ready);
}
