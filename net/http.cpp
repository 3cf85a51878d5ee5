#include "net/http.h"

#include "app/state.h"
#include "net/gzip.h"
#include "net/retry.h"

DWORD ReceiveMs = 30000;

// This thread's root handle, when it has one of its own (OwnRoot).
static thread_local HINTERNET Mine;

static HINTERNET NewRoot() {
    HINTERNET root = InternetOpenW(L"Zorun Classic Launcher", INTERNET_OPEN_TYPE_PRECONFIG, 0, 0, 0);
    if (!root) return 0;
    // Inherited by every request on Windows; Wine does not pass them on, so
    // Send sets them on each request too. (Wine's own connect ignores its
    // time-out: there, a site that never takes the connection is bounded only
    // by the system's TCP retries.)
    DWORD connect = ConnectMs, receive = ReceiveMs, tries = 1;
    InternetSetOptionW(root, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
    InternetSetOptionW(root, INTERNET_OPTION_CONNECT_RETRIES, &tries, sizeof tries);
    InternetSetOptionW(root, INTERNET_OPTION_SEND_TIMEOUT, &receive, sizeof receive);
    InternetSetOptionW(root, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof receive);
    return root;
}

void OpenNet() {
    Net = NewRoot();
    if (Net) AllowConnections(Lanes);
}

void OwnRoot() {
    if (Net && !Mine) Mine = NewRoot();
}

void DropRoot() {
    if (Mine) InternetCloseHandle(Mine);
    Mine = 0;
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
    r->con = InternetConnectW(Mine ? Mine : Net, host, u.nPort, 0, 0, INTERNET_SERVICE_HTTP, 0, 0);
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

void HttpAscii(HttpReq *r, DWORD query, char *out) {
    wchar_t v[ValidatorLen];
    out[0] = 0;
    if (!HttpField(r, query, v, ValidatorLen)) return;
    for (int i = 0;; i++) {
        if (v[i] && (v[i] < 0x20 || v[i] > 0x7E)) {
            out[0] = 0;
            return;
        }
        out[i] = (char)v[i];
        if (!v[i]) return;
    }
}

void AllowConnections(int n) {
    DWORD v = n < 2 ? 2 : (DWORD)n;
    InternetSetOptionW(0, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &v, sizeof v);
    InternetSetOptionW(0, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &v, sizeof v);
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

// The request lines of a document's fetch: the encoding it may come in, and
// the version the caller has. A request that may be answered 304 asks the
// server to close the connection after it: Wine's WinINet, handing a
// connection that answered 304 (no body, no length) to the next request,
// now and then corrupts its heap, and the launcher crashes a moment later.
static void DocHead(wchar_t *head, const DocVersion *v) {
    lstrcpyW(head, v->etag[0] || v->modified[0] ? L"Accept-Encoding: gzip\r\nConnection: close\r\n"
                                                 : L"Accept-Encoding: gzip\r\n");
    const char *lines[][2] = {{"If-None-Match: ", v->etag}, {"If-Modified-Since: ", v->modified}};
    int at = lstrlenW(head);
    for (auto &l : lines) {
        if (!l[1][0]) continue;
        for (int k = 0; k < 2; k++)
            for (const char *c = l[k]; *c; c++) head[at++] = (wchar_t)*c;
        head[at++] = L'\r';
        head[at++] = L'\n';
    }
    head[at] = 0;
}

// 1 when the answer's body comes as gzip, 0 as it is, -1 in an encoding of
// another kind.
static int Packed(HttpReq *r) {
    wchar_t e[32];
    if (!HttpField(r, HTTP_QUERY_CONTENT_ENCODING, e, 32) || !e[0] || !lstrcmpiW(e, L"identity")) return 0;
    return !lstrcmpiW(e, L"gzip") || !lstrcmpiW(e, L"x-gzip") ? 1 : -1;
}

// One try of HttpGet (scratch null: v is not looked at) or of HttpGetDoc;
// *again tells whether a second one may do better. A body that ended before
// its announced length, or whose read failed, is no body (-1): its first
// lines would pass for the whole document. One that fills the buffer is only
// too long, and is cut there by HttpGet.
static int GetOnce(const wchar_t *url, char *buf, int cap, char *scratch, DocVersion *v, int *again) {
    HttpReq r;
    wchar_t head[64 + 2 * ValidatorLen];
    if (scratch) DocHead(head, v);
    DWORD start = GetTickCount();
    *again = 0;
    if (!HttpOpen(url, &r, scratch ? head : 0)) {
        // A site that takes the connection and then says nothing is down
        // all the same: it is not waited for twice. (Wine reports the
        // time-out as an aborted connection, so the clock tells.)
        *again = Lost(r.error) && GetTickCount() - start < ReceiveMs;
        return -1;
    }
    int got = -1;
    DWORD code = Code(r.req);
    int packed = scratch ? Packed(&r) : 0;
    long long length = HttpLength(&r);
    if (code == 304 && scratch && (v->etag[0] || v->modified[0])) {
        got = HttpSame;
    } else if (code == 200 && packed >= 0 && !(scratch && length >= cap)) {
        char *into = packed ? scratch : buf, more;
        DWORD n;
        BOOL read = TRUE;
        got = 0;
        while (got < cap - 1 && (read = InternetReadFile(r.req, into + got, cap - 1 - got, &n)) && n)
            got += (int)n;
        *again = got < cap - 1 && (!read || got < length);
        // A document the caller keeps must come whole: never cut to fit.
        if (*again || (scratch && got == cap - 1 && InternetReadFile(r.req, &more, 1, &n) && n)) got = -1;
        else if (packed) got = (int)Gunzip((unsigned char *)scratch, (size_t)got, (unsigned char *)buf, (size_t)cap - 1);
        if (got >= 0) buf[got] = 0;
        if (got >= 0 && scratch) {
            HttpAscii(&r, HTTP_QUERY_ETAG, v->etag);
            HttpAscii(&r, HTTP_QUERY_LAST_MODIFIED, v->modified);
        }
    } else {
        *again = RetryCode(code);
    }
    HttpClose(&r);
    return got;
}

int HttpGet(const wchar_t *url, char *buf, int cap) {
    if (cap < 1) return -1;
    int again, got = GetOnce(url, buf, cap, 0, 0, &again);
    if (!again) return got;
    RetryWait(1);
    return GetOnce(url, buf, cap, 0, 0, &again);
}

int HttpGetDoc(const wchar_t *url, char *buf, int cap, char *scratch, DocVersion *v) {
    if (cap < 2) return -1;
    DocVersion asked = *v;
    int again, got = GetOnce(url, buf, cap, scratch, v, &again);
    if (!again) return got;
    RetryWait(1);
    *v = asked;
    return GetOnce(url, buf, cap, scratch, v, &again);
}
