// Helpers for the tests of the server link and the updater: the launcher state
// the network thread works on, a window that receives its messages, a record
// of every publication, and processes that keep files busy.
#pragma once
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

// The critical section and the Internet handle, once per process; then the
// state a fresh launcher starts with (feed unknown, not ready, no restart).
// The waits between tries are recorded from then on, never spent.
void FreshNetState();

// The waits (ms) the run asked for between tries since FreshNetState.
std::vector<DWORD> Waits();

// Every (Status, Progress) pair published since the last ClearPublished().
typedef std::vector<std::pair<std::wstring, int>> Publications;
void RecordPublished();  // installs the hook
void ClearPublished();
Publications Published();

// A real top-level window of this thread, for WM_NETSTATE to land on.
HWND NetWindow();
// Takes every message waiting for w; returns the wParam of each WM_NETSTATE in
// order, and the count of other messages in *others.
std::vector<WPARAM> TakeNetMessages(HWND w, int *others = 0);

// MD5 of bytes, 32 lowercase hex characters (CryptoAPI over memory).
std::string Md5Of(const std::string &data);

// Starts exe with arguments (already quoted as needed); process handle or null.
HANDLE StartWith(const std::wstring &exe, const std::wstring &args);
// Starts tests/programs holder.exe holding file with the given sharing
// (and write access when write); waits until it holds it. Null on failure.
HANDLE HoldFile(const std::wstring &file, DWORD share, bool write = false);
void Kill(HANDLE proc);  // terminates, waits, closes

// Creates every folder of path (a file path: its last part is not a folder).
void MakeParents(const std::wstring &path);
