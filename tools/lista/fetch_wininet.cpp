#include <windows.h>

#include <wininet.h>

#include "fetch.h"

namespace {

std::string Why(DWORD e) {
    char text[256];
    HMODULE wininet = GetModuleHandleW(L"wininet.dll");
    if (FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       wininet, e, 0, text, sizeof text, nullptr)) {
        std::string s = text;
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '.')) s.pop_back();
        return s;
    }
    return "error " + std::to_string(e);
}

}  // namespace

int Fetch(const std::string &url, const std::function<bool(const char *, size_t)> &sink, std::string &why) {
    static HINTERNET net = InternetOpenW(L"Zorun Classic Launcher", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!net) {
        why = Why(GetLastError());
        return 0;
    }
    int n = MultiByteToWideChar(CP_UTF8, 0, url.c_str(), -1, nullptr, 0);
    std::wstring wide(n > 0 ? n : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, url.c_str(), -1, &wide[0], n);
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI |
                  INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_KEEP_CONNECTION;
    if (url.compare(0, 8, "https://") == 0) flags |= INTERNET_FLAG_SECURE;
    HINTERNET req = InternetOpenUrlW(net, wide.c_str(), nullptr, 0, flags, 0);
    if (!req) {
        why = Why(GetLastError());
        return 0;
    }
    DWORD status = 0, len = sizeof status;
    HttpQueryInfoW(req, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &len, nullptr);
    static char buf[1 << 16];
    DWORD got = 0;
    bool ok = true;
    while ((ok = InternetReadFile(req, buf, sizeof buf, &got)) && got)
        if (!sink(buf, got)) break;
    if (!ok) why = Why(GetLastError());
    InternetCloseHandle(req);
    return ok ? (int)status : 0;
}
