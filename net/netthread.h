// The network thread: status feed, then the update run, then Ready.
#pragma once
#include <windows.h>

// Thread procedure for CreateThread; runs once per process. Posts WM_NETSTATE
// to Wnd after every change and, last, once with wParam 1.
DWORD WINAPI NetThread(void *);

// Shows text (bounded to Status) with progress: both written together under
// Lock, then WM_NETSTATE with wParam 0.
void Publish(const wchar_t *text, int progress);

// Called by Publish with every pair the window is told of; null in the
// launcher, set by tests that record the run.
extern void (*PublishHook)(const wchar_t *status, int progress);
