#include "net/http.h"

#include "app/state.h"
#include "net/retry.h"

DWORD ReceiveMs = 30000;

void OpenNet() {
    Net = InternetOpenW(L"Zorun Classic Launcher", INTERNET_OPEN_TYPE_PRECONFIG, 0, 0, 0);
    if (!Net) return;
    // Inherited by every request on Windows; Wine does not pass them on, so
    // Send sets them on each request too. (Wine's own connect ignores its
    // time-out: there, a site that never takes the connection is bounded only
    // by the system's TCP retries.)
    DWORD connect = ConnectMs, receive = ReceiveMs, tries = 1;
    InternetSetOptionW(Net, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
    InternetSetOptionW(Net, INTERNET_OPTION_CONNECT_RETRIES, &tries, sizeof tries);
    InternetSetOptionW(Net, INTERNET_OPTION_SEND_TIMEOUT, &receive, sizeof receive);
    InternetSetOptionW(Net, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof receive);
}

// InternetOpenUrlW would do the same three steps, but it sends the request
// before the caller can set time-outs on it, and a root handle's receive
// time-out does not reach it everywhere: a silent site could then hold the
// launcher for good.
static int Send(const wchar_t *url, HttpReq *r, const wchar_t *head) {
    URL_COMPONENTSW u = {};
    u.dwStructSize = sizeof u;
    u.dwHostNameLength = 1;  // non-zero lengths ask for pointers into url
    u.dwUrlPathLength = 1;
    if (!InternetCrackUrlW(url, 0, 0, &u) || !u.lpszHostName || !u.dwHostNameLength) return 0;
    if (u.nScheme != INTERNET_SCHEME_HTTP && u.nScheme != INTERNET_SCHEME_HTTPS) return 0;
    wchar_t host[INTERNET_MAX_HOST_NAME_LENGTH];
    if (u.dwHostNameLength >= INTERNET_MAX_HOST_NAME_LENGTH) return 0;
    lstrcpynW(host, u.lpszHostName, u.dwHostNameLength + 1);
    // The path runs to the end of the URL, so that a query stays with it.
    const wchar_t *path = u.lpszUrlPath && *u.lpszUrlPath ? u.lpszUrlPath : L"/";

    // Redirects are followed here, not by WinINet, which may follow a loop
    // of them for ever.
    DWORD flags = ReqFlags | INTERNET_FLAG_NO_AUTO_REDIRECT |
                  (u.nScheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0);
    r->con = InternetConnectW(Net, host, u.nPort, 0, 0, INTERNET_SERVICE_HTTP, 0, 0);
    if (r->con) r->req = HttpOpenRequestW(r->con, L"GET", path, 0, 0, 0, flags, 0);
    if (r->req) {
        DWORD connect = ConnectMs, receive = ReceiveMs;
        InternetSetOptionW(r->req, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
        InternetSetOptionW(r->req, INTERNET_OPTION_SEND_TIMEOUT, &receive, sizeof receive);
        InternetSetOptionW(r->req, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof receive);
        if (HttpSendRequestW(r->req, head, head ? (DWORD)-1L : 0, 0, 0)) return 1;
    }
    DWORD error = GetLastError();  // before the handles' closing can change it
    HttpClose(r);
    r->error = error;
    return 0;
}

static DWORD Code(HINTERNET req) {
    DWORD code = 0, len = sizeof code;
    HttpQueryInfoW(req, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &len, 0);
    return code;
}

DWORD HttpCode(HttpReq *r) { return Code(r->req); }

int HttpField(HttpReq *r, DWORD query, wchar_t *out, int cap) {
    DWORD len = (DWORD)cap * sizeof(wchar_t);
    if (cap < 1) return 0;
    if (!HttpQueryInfoW(r->req, query, out, &len, 0) || len / sizeof(wchar_t) >= (DWORD)cap) {
        out[0] = 0;
        return 0;
    }
    return 1;
}

long long HttpLength(HttpReq *r) {
    wchar_t v[32];
    if (!HttpField(r, HTTP_QUERY_CONTENT_LENGTH, v, 32) || !v[0]) return -1;
    long long n = 0;
    for (const wchar_t *c = v; *c; c++) {
        if (*c < L'0' || *c > L'9' || n > (1LL << 50)) return -1;
        n = n * 10 + (*c - L'0');
    }
    return n;
}

// The address a redirect points to, resolved against the one it came from;
// 0 when the answer is no redirect or names no usable address.
static int Next(HttpReq *r, const wchar_t *from, wchar_t *to) {
    DWORD code = Code(r->req);
    if (code != 301 && code != 302 && code != 303 && code != 307 && code != 308) return 0;
    wchar_t loc[UrlMax];
    DWORD len = sizeof loc;
    if (!HttpQueryInfoW(r->req, HTTP_QUERY_LOCATION, loc, &len, 0)) return 0;
    len = UrlMax;
    return InternetCombineUrlW(from, loc, to, &len, ICU_NO_ENCODE) && len < UrlMax;
}

// 1 when url starts with "https://" in any letter case.
static int Secure(const wchar_t *url) {
    for (const wchar_t *s = L"https://"; *s; s++, url++)
        if ((*url >= L'A' && *url <= L'Z' ? *url + 32 : *url) != *s) return 0;
    return 1;
}

int HttpOpen(const wchar_t *url, HttpReq *r, const wchar_t *head) {
    r->con = r->req = 0;
    r->error = 0;
    if (!Net || lstrlenW(url) >= UrlMax) return 0;
    wchar_t at[UrlMax], next[UrlMax];
    lstrcpyW(at, url);
    for (int hop = 0;; hop++) {
        if (!Send(at, r, head)) return 0;
        if (!Next(r, at, next)) return 1;  // the final answer, whatever its status
        HttpClose(r);
        // Once on HTTPS, a redirect to plain HTTP would let anyone on the way
        // answer for the site (WinINet refuses it too when it redirects).
        if (hop == RedirectMax || (Secure(at) && !Secure(next))) return 0;
        lstrcpyW(at, next);
    }
}

void HttpClose(HttpReq *r) {
    if (r->req) InternetCloseHandle(r->req);
    if (r->con) InternetCloseHandle(r->con);
    r->con = r->req = 0;
}

// One try of HttpGet; *again tells whether a second one may do better. A
// body that ended before its announced length, or whose read failed, is no
// body (-1): its first lines would pass for the whole document. One that
// fills the buffer is only too long, and is cut there.
static int GetOnce(const wchar_t *url, char *buf, int cap, int *again) {
    HttpReq r;
    DWORD start = GetTickCount();
    *again = 0;
    if (!HttpOpen(url, &r)) {
        // A site that takes the connection and then says nothing is down
        // all the same: it is not waited for twice. (Wine reports the
        // time-out as an aborted connection, so the clock tells.)
        *again = Lost(r.error) && GetTickCount() - start < ReceiveMs;
        return -1;
    }
    int got = -1;
    DWORD code = Code(r.req);
    if (code == 200) {
        long long length = HttpLength(&r);
        DWORD n;
        BOOL read = TRUE;
        got = 0;
        while (got < cap - 1 && (read = InternetReadFile(r.req, buf + got, cap - 1 - got, &n)) && n)
            got += (int)n;
        buf[got] = 0;
        *again = got < cap - 1 && (!read || got < length);
        if (*again) got = -1;
    } else {
        *again = RetryCode(code);
    }
    HttpClose(&r);
    return got;
}

int HttpGet(const wchar_t *url, char *buf, int cap) {
    if (cap < 1) return -1;
    int again, got = GetOnce(url, buf, cap, &again);
    if (!again) return got;
    RetryWait(1);
    return GetOnce(url, buf, cap, &again);
}
