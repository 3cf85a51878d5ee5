// Which failures of a request are worth another try, and the waits between
// tries. Home Wi-Fi and mobile links drop connections and servers restart;
// what a server refuses on purpose, or a site that is not there, does not
// change by asking again.
#pragma once
#include <windows.h>

enum { RetryMax = 3 };  // a file gets this many more tries; a document one

// 1 for the answers of a server that is busy, restarting or cut off from its
// back end: 408, 429, 500, 502, 503 and 504.
int RetryCode(DWORD code);

// 1 when a request that had no answer failed with the WinINet error err
// after its connection was made (dropped, reset, garbled).
int Lost(DWORD err);
// 1 when err means no answer can come now but may later: Lost, or the
// connection could not be made (refused, a name that did not resolve, no
// reply in time). Certificates that do not verify, and refused redirects
// (err 0), are not among them.
int Transient(DWORD err);

// Waits before try n + 1 (n = 1, 2, 3): about 1, 2 and 4 s.
void RetryWait(int n);

// How RetryWait waits: Sleep in the launcher; tests set their own to record
// the waits without spending them.
extern void(WINAPI *Pause)(DWORD ms);
