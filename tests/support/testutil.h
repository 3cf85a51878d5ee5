// What every test program shares: scratch files, processes, waiting, the
// launcher state of a fresh start, and the options key of the registry.
#pragma once
#include <windows.h>

#include <string>

#include "testpaths.h"

// A fresh, empty scratch folder for one test (under the prefix's temp folder).
std::wstring FreshDir(const std::wstring &name);
void RemoveTree(const std::wstring &path);
bool Exists(const std::wstring &path);
bool WriteBytes(const std::wstring &path, const std::string &data);  // the folders too
std::string ReadBytes(const std::wstring &path);                     // empty when missing
std::string Utf8(const std::wstring &w);
std::wstring Wide(const std::string &s);
std::string Md5Of(const std::string &data);     // 32 lowercase hex characters
std::string Sha256Of(const std::string &data);  // 64 lowercase hex characters
// data as a gzip member of stored blocks (no compression); the site's own
// compressed files come from lista, through nginx.
std::string Gzipped(const std::string &data);
// Bytes that differ at every offset, so that a piece out of place shows;
// another seed makes another game's file.
std::string Noise(size_t n, unsigned seed);

// Starts exe with arguments (quoted as needed) in cwd (empty: this one's);
// the process handle, or null.
HANDLE Start(const std::wstring &exe, const std::wstring &args = L"", const std::wstring &cwd = L"",
             int show = SW_SHOWNORMAL);
// Its exit code, or -1 when it runs on after ms (it is then killed).
long WaitExit(HANDLE proc, DWORD ms);
void Kill(HANDLE proc);  // terminates, waits, closes
// tests/programs/holder.exe keeping file open with the given sharing (and
// write access when write), once it holds it; null when it could not.
HANDLE HoldFile(const std::wstring &file, DWORD share, bool write = false);

// Polls until cond() holds or ms pass; returns cond()'s last value.
template <class F> bool WaitFor(F cond, DWORD ms) {
    for (DWORD start = GetTickCount();; Sleep(10)) {
        if (cond()) return true;
        if (GetTickCount() - start > ms) return cond();
    }
}

// Puts back every field of the launcher state that the launcher changes as it
// runs (feed, progress, options, interface) to the value it had when this
// process started, which is what a launcher starts with; Lock is initialised.
void ResetState();

void ClearOptionsKey();
// A REG_DWORD of the options key: the value, or -1 when missing or of another type.
long long OptionDword(const wchar_t *name);
