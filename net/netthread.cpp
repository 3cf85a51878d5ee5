#include "net/netthread.h"

#include <string.h>

#include "app/state.h"
#include "net/feed.h"
#include "net/http.h"
#include "update/update.h"

static_assert(+FeedNameLen == +NameLen && +FeedTextLen == +NewsLen && +FeedNewsMax == +NewsMax,
              "the feed's fields are the launcher state's");
static_assert(sizeof(FeedItem) == sizeof(NewsItem), "a feed item is a news item");

enum { FeedCap = 8192, FeedUrlLen = SiteLen + 16 };
#define NO_CONNECTION L"Sem conex\u00e3o com a internet."

void (*PublishHook)(const wchar_t *, int);
HANDLE(WINAPI *NewThread)
(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) = CreateThread;

static char FeedBuf[FeedCap];
static Feed F;

void Publish(const wchar_t *text, int progress) {
    wchar_t shown[StatusLen];
    lstrcpynW(shown, text, StatusLen);
    EnterCriticalSection(&Lock);
    lstrcpyW(Status, shown);
    Progress = progress;
    LeaveCriticalSection(&Lock);
    if (PublishHook) PublishHook(shown, progress);
    PostMessageW(Wnd, WM_NETSTATE, 0, 0);
}

// Parsed into a private copy, so the lock is held only for the copy and the
// window sees all of one feed or none of it.
static void ReadFeed() {
    wchar_t url[FeedUrlLen];
    wsprintfW(url, L"%s/api/launcher", Site);
    if (!Net || HttpGet(url, FeedBuf, FeedCap) < 0) {
        ServerUp = 0;
        return;
    }
    F.online = Online;  // the keys the feed lacks keep what they had
    lstrcpynW(F.name, ServerName, NameLen);
    ParseFeed(FeedBuf, &F);
    EnterCriticalSection(&Lock);
    ServerUp = F.up;
    Online = F.online;
    lstrcpynW(ServerName, F.name, NameLen);
    memcpy(News, F.news, sizeof News);
    NewsN = F.newsN;
    LeaveCriticalSection(&Lock);
}

// The last message carries the restart, so it must arrive: a full queue is
// waited out. Once the window is gone the launcher is ending anyway.
static void PostLast() {
    while (!PostMessageW(Wnd, WM_NETSTATE, 1, 0) && IsWindow(Wnd)) Sleep(50);
}

DWORD WINAPI NetThread(void *) {
    OpenNet();
    ReadFeed();
    PostMessageW(Wnd, WM_NETSTATE, 0, 0);
    if (!Net)
        Publish(NO_CONNECTION, 1000);
    else
        UpdateFiles();
    Ready = 1;
    PostLast();
    return 0;
}

void StartNet() {
    HANDLE t = NewThread(0, 0, NetThread, 0, 0, 0);
    if (t) {
        CloseHandle(t);
        return;
    }
    // Without the thread nobody would ever set Ready, and the game could not
    // be started: the launcher behaves as one without a connection.
    ServerUp = 0;
    Publish(NO_CONNECTION, 1000);
    Ready = 1;
    PostLast();
}
