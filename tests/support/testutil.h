// Helpers shared by the tests: scratch folders, files, processes, windows, registry.
#pragma once
#include <windows.h>

#include <string>

#include "testpaths.h"

// A fresh, empty scratch folder for one test (under the prefix's temp folder).
std::wstring FreshDir(const std::wstring &name);
void RemoveTree(const std::wstring &path);
bool Exists(const std::wstring &path);
bool WriteBytes(const std::wstring &path, const std::string &data);
std::string ReadBytes(const std::wstring &path);  // empty when missing

std::string Utf8(const std::wstring &w);
std::wstring Wide(const std::string &s);

// Starts a program; returns its process handle (null on failure). The thread
// handle is closed. cwd may be empty for "inherit".
HANDLE Start(const std::wstring &exe, const std::wstring &cwd = L"", int show = SW_SHOWNORMAL);
// Waits for a process to end: its exit code, or -1 on time-out (the process is
// then killed).
long WaitExit(HANDLE proc, DWORD ms);

// The top-level window of the given class owned by the process, waiting up to ms.
HWND WaitWindow(DWORD pid, const wchar_t *cls, DWORD ms);
// Polls until cond() holds or ms pass; returns cond()'s last value.
template <class F> bool WaitFor(F cond, DWORD ms) {
    DWORD start = GetTickCount();
    for (;;) {
        if (cond()) return true;
        if (GetTickCount() - start > ms) return cond();
        Sleep(10);
    }
}

// Initialises Lock once per process, as start-up does: the painter takes it on
// every paint.
void InitLock();

// Puts the launcher state back to what a freshly started launcher holds
// (nothing received, busy, home page, default options).
void StartupState();

// Deletes the game client's options key under HKCU.
void ClearOptionsKey();
// A REG_DWORD of the options key: the value, or -1 when missing or of another type/size.
long long OptionDword(const wchar_t *name);
