// HTTP GET to the operator's site over WinINet, on the network thread and the
// lanes of its update run.
#pragma once
#include <windows.h>

#include <wininet.h>

// Every request: always from the origin (RELOAD), never into the cache
// (NO_CACHE_WRITE), never a dialog (NO_UI), and never a cookie from the
// user's shared store or an answer to a login challenge (NO_COOKIES,
// NO_AUTH): the site gets nothing of the player's. Redirects are followed.
enum : DWORD {
    ReqFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI |
               INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_AUTH
};

// A silent site must not hold the player back: a connection attempt gives up
// after ConnectMs, a request after ReceiveMs (30 s; tests shorten it) without
// any data arriving. A slow download that keeps moving is never cut.
enum { ConnectMs = 15000 };
extern DWORD ReceiveMs;

// Creates Net with the launcher's agent and time-outs; Net stays null when
// WinINet cannot be opened.
void OpenNet();

// Requests made on this thread go through a root handle of its own rather
// than Net, from OwnRoot (when Net is open) to DropRoot: each lane of the
// update run (update/lanes.h) has one. Wine's WinINet keeps a handle's
// children in a list that it changes without a lock; threads opening and
// closing requests under one root at once corrupt its heap now and then, and
// the launcher crashes. The roots share the process's kept-alive connections.
void OwnRoot();
void DropRoot();

// One GET, sent and answered up to its headers. con is the connection the
// request lives on; HttpClose releases both.
struct HttpReq {
    HINTERNET con;
    HINTERNET req;
    DWORD error;  // when HttpOpen failed: WinINet's error, 0 for a refused redirect
};

// Sends a GET for an absolute http:// or https:// URL on Net, following up to
// RedirectMax redirects, never one from https:// to http://. head: extra
// request lines, each ending in CR LF (sent again after each redirect), or 0.
// Returns 0 (and nothing to close) when the URL is malformed, no answer
// arrived, the redirects go on and on, or one would leave HTTPS.
enum { RedirectMax = 10, UrlMax = 2048 };
int HttpOpen(const wchar_t *url, HttpReq *r, const wchar_t *head = 0);
void HttpClose(HttpReq *r);

// The status code of the answer, 0 when it has none.
DWORD HttpCode(HttpReq *r);
// The value of one response header (an HTTP_QUERY_ level such as
// HTTP_QUERY_ETAG) into out of cap units: 1, or 0 with out empty when the
// answer has no such header or it does not fit.
int HttpField(HttpReq *r, DWORD query, wchar_t *out, int cap);
// The body's announced length (Content-Length), -1 when none was announced.
long long HttpLength(HttpReq *r);

// A response header that names a version of what was asked (an ETag, a
// Last-Modified) as ASCII into out, ValidatorLen bytes; "" when missing, too
// long, or holding anything but printable ASCII, which no request of ours
// repeats.
enum { ValidatorLen = 128 };
void HttpAscii(HttpReq *r, DWORD query, char *out);

// The body of url into buf when the final status is 200: returns its length,
// at most cap - 1, with a NUL stored behind it; a longer body is cut there.
// -1 for any other status, no answer, or a body that ended before its
// announced length (or whose read failed) short of cap - 1 bytes; buf is then
// untouched, except by the bytes of such a cut body. A connection lost before
// the body's end, or a busy server (RetryCode), is asked once more after a
// short wait; a site that cannot be reached at all is not (net/retry.h).
int HttpGet(const wchar_t *url, char *buf, int cap);

// What a site said of a document's version, so that the next request can ask
// whether it changed; "" for what it did not say.
struct DocVersion {
    char etag[ValidatorLen];
    char modified[ValidatorLen];
};

// A document the caller keeps a copy of, fetched as HttpGet fetches it, with
// three differences. When v names a version, the site is asked whether the
// document changed since (If-None-Match, If-Modified-Since): HttpSame when it
// says it did not (304), buf untouched. The site may send it compressed with
// gzip (Accept-Encoding), into scratch (cap bytes), unpacked here into buf:
// a compressed body that is damaged, cut or of any other encoding is no body.
// And a body that does not fit buf's cap - 1 bytes is no body either (-1),
// never cut. On 200, v receives the answer's version.
enum { HttpSame = -2 };
int HttpGetDoc(const wchar_t *url, char *buf, int cap, char *scratch, DocVersion *v);

// The most connections WinINet opens to one server at once (2 by default):
// the lanes of the download pass (update/lanes.h) need one each.
void AllowConnections(int n);
