// HTTP GET to the operator's site over WinINet, on the network thread only.
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

// One GET, sent and answered up to its headers. con is the connection the
// request lives on; HttpClose releases both.
struct HttpReq {
    HINTERNET con;
    HINTERNET req;
};

// Sends a GET for an absolute http:// or https:// URL on Net, following up to
// RedirectMax redirects, never one from https:// to http://. Returns 0 (and
// nothing to close) when the URL is malformed, no answer arrived, the
// redirects go on and on, or one would leave HTTPS.
enum { RedirectMax = 10, UrlMax = 2048 };
int HttpOpen(const wchar_t *url, HttpReq *r);
void HttpClose(HttpReq *r);

// The body of url into buf when the final status is 200: returns its length,
// at most cap - 1, with a NUL stored behind it. A body cut short counts as far
// as it came. -1 for any other status or no answer; buf is then untouched.
int HttpGet(const wchar_t *url, char *buf, int cap);
