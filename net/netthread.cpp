#include "net/netthread.h"

#include "app/state.h"

DWORD WINAPI NetThread(void *) {
    Ready = 1;
    PostMessageW(Wnd, WM_NETSTATE, 1, 0);
    return 0;
}
