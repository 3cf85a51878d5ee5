// A real launcher window in the test process: Proc as its window procedure,
// driven by real messages, with the invalidations it makes counted.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <thread>

// Resets the interface state to a fresh start (home page, nothing hovered or
// pressed, list closed, no toast, Ready 0, Restart 0, Progress -1), creates the
// window at (20, 30) and makes it Wnd. Its update region starts empty.
HWND OpenWindow();
// Destroys the window if it still exists and takes the quit message that its
// WM_DESTROY posted off the thread's queue.
void CloseWindow();
// Takes a pending quit message, if any: true with its exit code in *code.
bool TakeQuit(int *code);

LPARAM Pt(int x, int y);  // a client point as the mouse messages carry it

// Sends one message to Wnd with an empty update region and tells whether the
// message invalidated the window; a repaint must cover the whole client area.
bool Dirtied(UINT msg, WPARAM wp = 0, LPARAM lp = 0, LRESULT *result = nullptr);
bool Move(int x, int y);
bool Press(int x, int y);
bool Release(int x, int y);
void Click(int x, int y);
bool Key(WPARAM key);

// Options go to a fresh scratch INI (Dir, Ini) and an absent registry key.
std::wstring ScratchOptions(const std::wstring &name);
std::string IniText();  // the scratch INI, empty when it does not exist

// Lets timers of Wnd fire for ms, dispatching WM_TIMER only.
void PumpTimers(DWORD ms);

// True when this process holds a handle of the given process or of one of its
// threads: a launcher must keep nothing of what it starts.
bool HoldsHandleOf(DWORD pid);

// A record written by tests/programs/recorder.exe: the value of "key=" ("ini"
// runs to the end), empty when absent.
std::string RecordField(const std::string &record, const std::string &key);
// Waits up to ms for "<exe>.txt" to appear; its text, or empty.
std::string WaitRecord(const std::wstring &exe, DWORD ms);

// What a message box of this process showed, seen from another thread.
struct BoxSeen {
    bool seen = false;
    std::wstring caption, text;
    HWND owner = nullptr;
    bool errorIcon = false;
    int buttons = 0;  // visible push buttons
    bool okButton = false;
};
// Starts a thread that waits up to ms for a message box of this process,
// notes what it shows, runs whileOpen (on that thread) and presses OK.
// Join it before reading seen.
std::thread WatchBox(BoxSeen &seen, DWORD ms, std::function<void()> whileOpen = {});
