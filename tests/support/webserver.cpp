#include "support/webserver.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

const uintptr_t None = ~(uintptr_t)0;
const int HeadMax = 64 * 1024;
const DWORD HeadWaitMs = 30000;  // a client that never finishes its request
const DWORD QuietMaxMs = 600000; // a silent answer lasts until Stop, at most this
const size_t FileChunk = 256 * 1024;

// Waits up to ms for s to become readable (write = false) or writable.
bool Ready(SOCKET s, bool write, int ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv = {ms / 1000, (ms % 1000) * 1000};
    return select(0, write ? 0 : &set, write ? &set : 0, 0, &tv) == 1;
}

std::wstring Wide(const std::string &s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), 0, 0);
    std::wstring w(n, L'\0');
    if (n) MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), &w[0], n);
    return w;
}

int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The file under root that a request path names; empty when it names none.
std::wstring FileFor(const std::wstring &root, const std::string &target) {
    if (root.empty() || target.empty() || target[0] != '/') return L"";
    std::string path = target.substr(0, target.find_first_of("?#"));
    std::string plain;
    for (size_t i = 0; i < path.size(); i++) {
        if (path[i] == '%' && i + 2 < path.size() && Hex(path[i + 1]) >= 0 && Hex(path[i + 2]) >= 0) {
            plain += (char)(Hex(path[i + 1]) * 16 + Hex(path[i + 2]));
            i += 2;
        } else {
            plain += path[i];
        }
    }
    if (plain.find("..") != std::string::npos || plain.find(':') != std::string::npos ||
        plain.find('\\') != std::string::npos)
        return L"";
    for (char &c : plain)
        if (c == '/') c = '\\';
    std::wstring file = root + Wide(plain);
    DWORD attr = GetFileAttributesW(file.c_str());
    if (attr == INVALID_FILE_ATTRIBUTES || (attr & FILE_ATTRIBUTE_DIRECTORY)) return L"";
    return file;
}

const char *Reason(int code) {
    switch (code) {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 307: return "Temporary Redirect";
    case 206: return "Partial Content";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 416: return "Range Not Satisfiable";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

std::string Head(int code, long long length, const std::string &extra = "") {
    char line[256];
    snprintf(line, sizeof line, "HTTP/1.1 %d %s\r\nContent-Length: %lld\r\n", code, Reason(code),
             length);
    return std::string(line) + extra +
           "Content-Type: application/octet-stream\r\nConnection: close\r\n\r\n";
}

long long SizeOf(const std::wstring &file) {
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &d)) return -1;
    return ((long long)d.nFileSizeHigh << 32) | d.nFileSizeLow;
}

// The value of a request header (name in lower case, as "range"), "" when absent.
std::string Field(const std::string &head, const std::string &name) {
    for (size_t at = head.find("\r\n"); at != std::string::npos; at = head.find("\r\n", at + 2)) {
        size_t colon = head.find(':', at + 2), end = head.find("\r\n", at + 2);
        if (colon == std::string::npos || colon > end) continue;
        std::string key = head.substr(at + 2, colon - at - 2);
        for (char &c : key) c = (char)tolower((unsigned char)c);
        if (key != name) continue;
        size_t v = head.find_first_not_of(' ', colon + 1);
        return v < end ? head.substr(v, end - v) : "";
    }
    return "";
}

// A file's version as static web servers give it: an ETag made of its time
// and size, and its Last-Modified.
void Version(const std::wstring &file, std::string &etag, std::string &modified) {
    WIN32_FILE_ATTRIBUTE_DATA d;
    etag.clear();
    modified.clear();
    if (!GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &d)) return;
    unsigned long long t = ((unsigned long long)d.ftLastWriteTime.dwHighDateTime << 32) |
                           d.ftLastWriteTime.dwLowDateTime;
    char buf[96];
    snprintf(buf, sizeof buf, "\"%llx-%llx\"", t, ((unsigned long long)d.nFileSizeHigh << 32) | d.nFileSizeLow);
    etag = buf;
    SYSTEMTIME st;
    FileTimeToSystemTime(&d.ftLastWriteTime, &st);
    static const char *days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char *months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[st.wDayOfWeek], st.wDay,
             months[st.wMonth - 1], st.wYear, st.wHour, st.wMinute, st.wSecond);
    modified = buf;
}

}  // namespace

Answer Answer::WithStatus(int code, const std::string &body) {
    Answer a;
    a.kind = Kind::Code;
    a.status = code;
    a.ownBody = true;
    a.body = body;
    return a;
}

Answer Answer::Body(const std::string &body) { return WithStatus(200, body); }

Answer Answer::CutAt(long long bytes, bool reset) {
    Answer a;
    a.kind = Kind::Cut;
    a.at = bytes;
    a.reset = reset;
    return a;
}

Answer Answer::StallAt(long long bytes) {
    Answer a;
    a.kind = Kind::Stall;
    a.at = bytes;
    return a;
}

Answer Answer::Trickle(size_t chunk, int everyMs) {
    Answer a;
    a.kind = Kind::Trickle;
    a.chunk = chunk ? chunk : 1;
    a.everyMs = everyMs;
    return a;
}

Answer Answer::RedirectTo(const std::string &location, int code) {
    Answer a;
    a.kind = Kind::Redirect;
    a.status = code;
    a.location = location;
    return a;
}

Answer Answer::Silent() {
    Answer a;
    a.kind = Kind::Silent;
    return a;
}

bool ParseAnswer(const std::string &rule, Answer &a) {
    size_t colon = rule.find(':');
    std::string kind = rule.substr(0, colon);
    std::string arg = colon == std::string::npos ? "" : rule.substr(colon + 1);
    long long n = atoll(arg.c_str());
    if (kind == "status" && n > 0) a = Answer::WithStatus((int)n);
    else if (kind == "empty") a = Answer::Empty();
    else if (kind == "body") a = Answer::Body(arg);
    else if (kind == "cut") a = Answer::CutAt(n);
    else if (kind == "reset") a = Answer::CutAt(n, true);
    else if (kind == "stall") a = Answer::StallAt(n);
    else if (kind == "trickle") {
        size_t colon2 = arg.find(':');
        a = Answer::Trickle((size_t)n, colon2 == std::string::npos ? 100 : atoi(arg.c_str() + colon2 + 1));
    } else if (kind == "redirect" && !arg.empty()) a = Answer::RedirectTo(arg);
    else if (kind == "silent") a = Answer::Silent();
    else return false;
    return true;
}

bool WebServer::Start(const std::wstring &root, int port) {
    Stop();
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa)) return false;
    root_ = root;
    if (!root_.empty() && root_.back() == L'\\') root_.pop_back();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return false;
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons((u_short)port);
    int len = sizeof a;
    if (bind(s, (sockaddr *)&a, sizeof a) || listen(s, SOMAXCONN) ||
        getsockname(s, (sockaddr *)&a, &len)) {
        closesocket(s);
        return false;
    }
    listen_ = s;
    port_ = ntohs(a.sin_port);
    stop_ = false;
    acceptor_ = std::thread(&WebServer::AcceptLoop, this);
    return true;
}

void WebServer::Stop() {
    if (listen_ == None) return;
    stop_ = true;
    if (acceptor_.joinable()) acceptor_.join();
    closesocket((SOCKET)listen_);
    listen_ = None;
    // Every handler notices stop_ within a tenth of a second.
    for (int i = 0; i < 1000 && active_ > 0; i++) Sleep(10);
    WSACleanup();
}

std::wstring WebServer::Base() const { return L"http://127.0.0.1:" + std::to_wstring(port_); }

void WebServer::On(const std::string &path, const Answer &a) {
    std::lock_guard<std::mutex> g(mu_);
    answers_[path] = a;
}

void WebServer::Forget() {
    std::lock_guard<std::mutex> g(mu_);
    answers_.clear();
    paths_.clear();
    heads_.clear();
}

std::vector<std::string> WebServer::Paths() const {
    std::lock_guard<std::mutex> g(mu_);
    return paths_;
}

std::vector<std::string> WebServer::Heads() const {
    std::lock_guard<std::mutex> g(mu_);
    return heads_;
}

void WebServer::AcceptLoop() {
    while (!stop_) {
        if (!Ready((SOCKET)listen_, false, 100)) continue;
        SOCKET c = accept((SOCKET)listen_, 0, 0);
        if (c == INVALID_SOCKET) continue;
        active_++;
        std::thread([this, c] {
            Handle((uintptr_t)c);
            active_--;
        }).detach();
    }
}

bool WebServer::Send(uintptr_t s, const char *p, size_t n) {
    while (n) {
        if (stop_) return false;
        if (!Ready((SOCKET)s, true, 100)) continue;
        int k = send((SOCKET)s, p, (int)(n < FileChunk ? n : FileChunk), 0);
        if (k <= 0) return false;
        p += k;
        n -= (size_t)k;
    }
    return true;
}

// Sends up to limit bytes of the body (own or the file's); piece by piece with
// pauses when trickling.
bool WebServer::SendBody(uintptr_t s, const Answer &a, const std::wstring &file, long long from,
                         long long limit, bool trickle) {
    size_t piece = trickle ? a.chunk : FileChunk;
    if (a.ownBody) {
        size_t end = (size_t)(limit < (long long)a.body.size() ? limit : (long long)a.body.size());
        for (size_t at = 0; at < end; at += piece) {
            size_t k = end - at < piece ? end - at : piece;
            if (!Send(s, a.body.data() + at, k)) return false;
            if (trickle && at + k < end)
                for (int w = 0; w < a.everyMs && !stop_; w += 10) Sleep(10);
        }
        return true;
    }
    HANDLE f = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           0, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, 0);
    if (f == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER to;
    to.QuadPart = from;
    SetFilePointerEx(f, to, 0, FILE_BEGIN);
    std::vector<char> buf(piece);
    bool ok = true;
    long long sent = 0;
    DWORD n;
    while (ok && sent < limit) {
        DWORD want = (DWORD)(limit - sent < (long long)piece ? limit - sent : (long long)piece);
        if (!ReadFile(f, buf.data(), want, &n, 0) || !n) break;
        ok = Send(s, buf.data(), n);
        sent += n;
        if (ok && trickle && sent < limit)
            for (int w = 0; w < a.everyMs && !stop_; w += 10) Sleep(10);
    }
    CloseHandle(f);
    return ok;
}

void WebServer::Quiet(uintptr_t s) {
    char sink[4096];
    for (DWORD start = GetTickCount(); !stop_ && GetTickCount() - start < QuietMaxMs;) {
        // Keep reading so that a client closing its end is noticed.
        if (Ready((SOCKET)s, false, 100) && recv((SOCKET)s, sink, sizeof sink, 0) <= 0) return;
    }
}

void WebServer::Handle(uintptr_t s) {
    SOCKET c = (SOCKET)s;
    std::string head;
    char buf[4096];
    DWORD start = GetTickCount();
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < (size_t)HeadMax && !stop_ &&
           GetTickCount() - start < HeadWaitMs) {
        if (!Ready(c, false, 100)) continue;
        int k = recv(c, buf, sizeof buf, 0);
        if (k <= 0) break;
        head.append(buf, (size_t)k);
    }
    size_t sp1 = head.find(' '), sp2 = sp1 == std::string::npos ? sp1 : head.find(' ', sp1 + 1);
    if (head.find("\r\n\r\n") == std::string::npos || sp2 == std::string::npos) {
        closesocket(c);
        return;
    }
    std::string target = head.substr(sp1 + 1, sp2 - sp1 - 1);
    Answer a;
    {
        std::lock_guard<std::mutex> g(mu_);
        paths_.push_back(target);
        heads_.push_back(head.substr(0, head.find("\r\n\r\n") + 4));
        auto it = answers_.find(target);
        if (it != answers_.end()) {
            a = it->second;
            if (it->second.times > 0 && --it->second.times == 0) answers_.erase(it);
        }
    }

    std::wstring file = a.ownBody ? L"" : FileFor(root_, target);
    long long size = a.ownBody ? (long long)a.body.size() : SizeOf(file);
    bool missing = !a.ownBody && (file.empty() || size < 0);
    using K = Answer::Kind;
    if (a.kind == K::Cut && a.at < 0) {
        if (a.reset) {
            linger l = {1, 0};
            setsockopt(c, SOL_SOCKET, SO_LINGER, (const char *)&l, sizeof l);
        }
        closesocket(c);
        return;
    } else if (a.kind == K::Silent) {
        Quiet(s);
    } else if (a.kind == K::Redirect) {
        std::string h = Head(a.status, 0, "Location: " + a.location + "\r\n" + a.headers);
        Send(s, h.data(), h.size());
    } else if (missing && a.kind != K::Code) {
        std::string h = Head(404, 9) + "not found";
        Send(s, h.data(), h.size());
    } else {
        int status = a.kind == K::Code ? a.status : 200;
        long long from = 0, length = size;
        std::string extra = a.headers;
        if (!a.ownBody) {
            std::string etag, modified, range = Field(head, "range"), since = Field(head, "if-range");
            Version(file, etag, modified);
            extra += "ETag: " + etag + "\r\nLast-Modified: " + modified + "\r\nAccept-Ranges: bytes\r\n";
            bool same = since.empty() || since == etag || since == modified;
            if (range.rfind("bytes=", 0) == 0 && range.back() == '-' && same) {
                from = atoll(range.c_str() + 6);
                if (from >= size) {
                    std::string h = Head(416, 0, "Content-Range: bytes */" + std::to_string(size) + "\r\n");
                    Send(s, h.data(), h.size());
                    shutdown(c, SD_SEND);
                    closesocket(c);
                    return;
                }
                status = 206;
                length = size - from;
                extra += "Content-Range: bytes " + std::to_string(from) + "-" + std::to_string(size - 1) +
                         "/" + std::to_string(size) + "\r\n";
            }
        }
        std::string h = Head(status, length, extra);
        if (Send(s, h.data(), h.size())) {
            long long limit = a.kind == K::Cut || a.kind == K::Stall ? a.at : length;
            bool sent = SendBody(s, a, file, from, limit, a.kind == K::Trickle);
            if (sent && a.kind == K::Stall) Quiet(s);
            if (a.kind == K::Cut && a.reset) {
                linger l = {1, 0};  // closesocket then resets the connection
                setsockopt(c, SOL_SOCKET, SO_LINGER, (const char *)&l, sizeof l);
                closesocket(c);
                return;
            }
        }
    }
    // A graceful end: the client reads everything sent before it sees the close.
    shutdown(c, SD_SEND);
    for (DWORD t = GetTickCount(); !stop_ && GetTickCount() - t < 2000;)
        if (!Ready(c, false, 100) || recv(c, buf, sizeof buf, 0) <= 0) break;
    closesocket(c);
}
