#include "net/retry.h"

#include <wininet.h>

void(WINAPI *Pause)(DWORD ms) = Sleep;

int RetryCode(DWORD code) {
    return code == 408 || code == 429 || code == 500 || code == 502 || code == 503 || code == 504;
}

int Lost(DWORD err) {
    return err == ERROR_INTERNET_CONNECTION_ABORTED || err == ERROR_INTERNET_CONNECTION_RESET ||
           err == ERROR_HTTP_INVALID_SERVER_RESPONSE;
}

// A time-out is here and not in Lost: WinINet reports a connection that is
// never accepted the same way as a request that is never answered.
int Transient(DWORD err) {
    return Lost(err) || err == ERROR_INTERNET_CANNOT_CONNECT || err == ERROR_INTERNET_TIMEOUT ||
           err == ERROR_INTERNET_NAME_NOT_RESOLVED;
}

void RetryWait(int n) { Pause(n < 1 ? 0 : 1000u << (n - 1 < 2 ? n - 1 : 2)); }
