// The network thread: status feed, then the update run, then Ready.
#pragma once
#include <windows.h>

// Thread procedure for CreateThread; runs once per process. Posts WM_NETSTATE
// to Wnd after every change and, last, once with wParam 1.
DWORD WINAPI NetThread(void *);
