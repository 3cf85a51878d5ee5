// A real launcher window in the test process: Proc as its window procedure,
// driven by real messages, with the repaints they cause seen; and what the
// programs it starts record.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

// The state of a fresh start (ResetState) and the window, created at (20, 30)
// as Wnd with an empty update region.
HWND OpenWindow();
// Destroys the window if it still exists and takes the quit message its
// WM_DESTROY posted.
void CloseWindow();
// Options go to a fresh scratch INI (Dir, Ini) and an absent registry key;
// returns the scratch folder.
std::wstring ScratchOptions(const std::wstring &name);
// Takes a pending quit message: true with its exit code in *code.
bool TakeQuit(int *code);

LPARAM Pt(int x, int y);  // a client point as the mouse messages carry it
// Sends one message to Wnd with an empty update region; true when it
// invalidated the whole client area (what Repaint does).
bool Dirtied(UINT msg, WPARAM wp = 0, LPARAM lp = 0, LRESULT *result = nullptr);
bool Move(int x, int y);
bool Press(int x, int y);
bool Release(int x, int y);
void Click(int x, int y);
bool Key(WPARAM key);
std::string IniText();  // the scratch INI, empty when it does not exist
// Lets the timers of Wnd fire until cond() holds or ms pass.
bool PumpTimersUntil(std::function<bool()> cond, DWORD ms);

// True when this process holds a handle of the process pid or of one of its
// threads: a launcher must keep nothing of what it starts.
bool HoldsHandleOf(DWORD pid);
// The record tests/programs/recorder.exe writes as "<exe>.txt", waited for up
// to ms (empty when none came), and one of its fields ("ini" runs to the end).
std::string WaitRecord(const std::wstring &exe, DWORD ms);
std::string RecordField(const std::string &record, const std::string &key);
