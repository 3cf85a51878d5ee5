// The network thread: status feed, then the update run, then Ready.
#pragma once
#include <windows.h>

// Thread procedure for CreateThread; runs once per process. Posts WM_NETSTATE
// to Wnd after every change and, last, once with wParam 1.
DWORD WINAPI NetThread(void *);

// Starts NetThread from the window thread once Wnd exists. When no thread can
// be had, the network side ends at once as without a connection: the status
// says so, the progress is full and Ready is set, so Play still works.
void StartNet();

// The thread creation StartNet uses: CreateThread in the launcher; tests that
// need it to fail replace it.
extern HANDLE(WINAPI *NewThread)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID,
                                 DWORD, LPDWORD);

// Shows text (bounded to Status) with progress: both written together under
// Lock, then WM_NETSTATE with wParam 0.
void Publish(const wchar_t *text, int progress);

// Called by Publish with every pair the window is told of; null in the
// launcher, set by tests that record the run.
extern void (*PublishHook)(const wchar_t *status, int progress);
