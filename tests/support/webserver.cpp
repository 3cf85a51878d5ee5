#include "support/webserver.h"

#include <winsock2.h>
#include <windows.h>

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

const uintptr_t None = ~(uintptr_t)0;
const size_t HeadMax = 64 * 1024, Piece = 256 * 1024;
const DWORD HeadWaitMs = 30000;   // a client that never finishes its request, or leaves its connection idle
const DWORD QuietMaxMs = 600000;  // a silent answer lasts until Stop, at most this

// Waits up to ms for s to become readable (write = false) or writable.
bool Ready(SOCKET s, bool write, int ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv = {ms / 1000, (ms % 1000) * 1000};
    return select(0, write ? 0 : &set, write ? &set : 0, 0, &tv) == 1;
}

int Hex(char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// The file under root that a request path names (%XX decoded); empty for none.
std::wstring FileFor(const std::wstring &root, const std::string &target) {
    if (root.empty() || target.empty() || target[0] != '/') return L"";
    std::string path = target.substr(0, target.find_first_of("?#")), plain;
    for (size_t i = 0; i < path.size(); i++) {
        if (path[i] == '%' && i + 2 < path.size() && Hex(path[i + 1]) >= 0 && Hex(path[i + 2]) >= 0) {
            plain += (char)(Hex(path[i + 1]) * 16 + Hex(path[i + 2]));
            i += 2;
        } else {
            plain += path[i] == '/' ? '\\' : path[i];
        }
    }
    if (plain.find("..") != std::string::npos || plain.find(':') != std::string::npos) return L"";
    wchar_t w[1024];
    int n = MultiByteToWideChar(CP_UTF8, 0, plain.c_str(), -1, w, 1024);
    std::wstring file = root + (n > 0 ? w : L"");
    DWORD attr = n > 0 ? GetFileAttributesW(file.c_str()) : INVALID_FILE_ATTRIBUTES;
    return attr == INVALID_FILE_ATTRIBUTES || (attr & FILE_ATTRIBUTE_DIRECTORY) ? L"" : file;
}

bool HasHeader(const std::string &lines, const char *name) {
    std::string l = "\n" + lines, n = std::string("\n") + name + ":";
    for (char &c : l) c = (char)tolower((unsigned char)c);
    for (char &c : n) c = (char)tolower((unsigned char)c);
    return l.find(n) != std::string::npos;
}

// The head of an answer: the rule's own header lines, then each default the
// rule does not name.
std::string Head(int code, long long length, const std::string &extra, bool keep = false) {
    std::string h = "HTTP/1.1 " + std::to_string(code) + (code == 200 ? " OK\r\n" : " Status\r\n") + extra;
    const std::string defaults[][2] = {{"Content-Length", std::to_string(length)},
                                       {"Content-Type", "application/octet-stream"},
                                       {"Connection", keep ? "keep-alive" : "close"}};
    for (auto &d : defaults)
        if (!HasHeader(extra, d[0].c_str())) h += d[0] + ": " + d[1] + "\r\n";
    return h + "\r\n";
}

// The value of a request header ("range"), "" when absent.
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

// A file's version as static web servers give it: an ETag of its time and
// size, and its Last-Modified.
void Version(const std::wstring &file, std::string &etag, std::string &modified) {
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &d)) return;
    unsigned long long t = ((unsigned long long)d.ftLastWriteTime.dwHighDateTime << 32) | d.ftLastWriteTime.dwLowDateTime;
    char buf[96];
    snprintf(buf, sizeof buf, "\"%llx-%llx\"", t, ((unsigned long long)d.nFileSizeHigh << 32) | d.nFileSizeLow);
    etag = buf;
    SYSTEMTIME st;
    FileTimeToSystemTime(&d.ftLastWriteTime, &st);
    static const char *days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char *months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[st.wDayOfWeek], st.wDay, months[st.wMonth - 1],
             st.wYear, st.wHour, st.wMinute, st.wSecond);
    modified = buf;
}

long long SizeOf(const std::wstring &file) {
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (file.empty() || !GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &d)) return -1;
    return ((long long)d.nFileSizeHigh << 32) | d.nFileSizeLow;
}

}  // namespace

bool ParseRule(const std::string &text, Rule &r) {
    size_t colon = text.find(':');
    std::string kind = text.substr(0, colon), arg = colon == std::string::npos ? "" : text.substr(colon + 1);
    long long n = atoll(arg.c_str());
    size_t colon2 = arg.find(':');
    std::string rest = colon2 == std::string::npos ? "" : arg.substr(colon2 + 1);
    if (kind == "status" && n > 0) r = Rule::Status((int)n, rest);
    else if (kind == "body") r = Rule::Body(arg);
    else if (kind == "cut" || kind == "reset") r = Rule::CutAt(n, kind == "reset");
    else if (kind == "stall") r = Rule::StallAt(n);
    else if (kind == "trickle") r = Rule::Trickle(n, rest.empty() ? 100 : atoi(rest.c_str()));
    else if (kind == "redirect" && !arg.empty()) r = Rule::RedirectTo(arg);
    else if (kind == "silent") r = Rule::Silent();
    else if (kind == "after") r = Rule().After((int)n);
    else if (kind == "endless" && n > 0) r = Rule::Endless(n);
    else return false;
    return true;
}

// A socket bound to 127.0.0.1:port (0: a free one), its port in *got;
// INVALID_SOCKET when either cannot be had.
static SOCKET Bound(int port, int *got) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons((u_short)port);
    int len = sizeof a;
    if (s != INVALID_SOCKET && (bind(s, (sockaddr *)&a, sizeof a) || getsockname(s, (sockaddr *)&a, &len))) {
        closesocket(s);
        s = INVALID_SOCKET;
    }
    *got = ntohs(a.sin_port);
    return s;
}

std::wstring RefusedBase() {
    static int port;
    if (!port) {
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);  // never cleaned up: the socket lives as long as the process
        if (Bound(0, &port) == INVALID_SOCKET) port = 0;
    }
    return L"http://127.0.0.1:" + std::to_wstring(port);
}

struct ServerThreads {
    struct Conn {
        WebServer *server;
        SOCKET socket;
    };
    static DWORD WINAPI Acceptor(LPVOID server) {
        ((WebServer *)server)->Accept();
        return 0;
    }
    static DWORD WINAPI Answer(LPVOID conn) {
        Conn *c = (Conn *)conn;
        c->server->open_++;
        for (int most = c->server->most_; most < c->server->open_ && !c->server->most_.compare_exchange_weak(most, c->server->open_);) {
        }
        c->server->Handle((uintptr_t)c->socket);
        c->server->open_--;
        c->server->active_--;
        delete c;
        return 0;
    }
};

void WebServer::Accept() {
    while (!stop_) {
        if (!Ready((SOCKET)listen_, false, 100)) continue;
        SOCKET c = accept((SOCKET)listen_, 0, 0);
        if (c == INVALID_SOCKET) continue;
        active_++;
        accepted_++;
        ServerThreads::Conn *conn = new ServerThreads::Conn{this, c};
        HANDLE t = CreateThread(0, 0, ServerThreads::Answer, conn, 0, 0);
        if (t) {
            CloseHandle(t);
        } else {
            closesocket(c);  // the client sees the connection close, as from a server out of threads
            delete conn;
            active_--;
        }
    }
}

bool WebServer::Start(const std::wstring &root, int port) {
    Stop();
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa)) return false;
    root_ = root;
    if (!root_.empty() && root_.back() == L'\\') root_.pop_back();
    SOCKET s = Bound(port, &port_);
    if (s == INVALID_SOCKET || listen(s, SOMAXCONN)) {
        if (s != INVALID_SOCKET) closesocket(s);
        WSACleanup();
        return false;
    }
    listen_ = s;
    stop_ = false;
    acceptor_ = CreateThread(0, 0, ServerThreads::Acceptor, this, 0, 0);
    if (!acceptor_) {
        closesocket(s);
        listen_ = None;
        WSACleanup();
        return false;
    }
    return true;
}

void WebServer::Stop() {
    if (listen_ == None) return;
    stop_ = true;
    WaitForSingleObject(acceptor_, 10000);  // it looks at stop_ every tenth of a second
    CloseHandle(acceptor_);
    acceptor_ = nullptr;
    closesocket((SOCKET)listen_);
    listen_ = None;
    // Every handler notices stop_ within a tenth of a second.
    for (int i = 0; i < 1000 && active_ > 0; i++) Sleep(10);
    WSACleanup();
}

std::wstring WebServer::Base() const { return L"http://127.0.0.1:" + std::to_wstring(port_); }

void WebServer::On(const std::string &path, const Rule &r) {
    std::lock_guard<std::mutex> g(mu_);
    rules_[path] = r;
}

void WebServer::Forget() {
    std::lock_guard<std::mutex> g(mu_);
    rules_.clear();
    heads_.clear();
    statuses_.clear();
    accepted_ = 0;
    most_ = open_.load();
}

std::vector<int> WebServer::Statuses() const {
    std::lock_guard<std::mutex> g(mu_);
    return statuses_;
}

std::vector<std::string> WebServer::Heads() const {
    std::lock_guard<std::mutex> g(mu_);
    return heads_;
}

std::vector<std::string> WebServer::Paths() const {
    std::vector<std::string> out;
    for (const std::string &h : Heads()) {
        size_t sp = h.find(' ');
        out.push_back(h.substr(sp + 1, h.find(' ', sp + 1) - sp - 1));
    }
    return out;
}

bool WebServer::Send(uintptr_t s, const char *p, size_t n) {
    while (n) {
        if (stop_) return false;
        if (!Ready((SOCKET)s, true, 100)) continue;
        int k = send((SOCKET)s, p, (int)(n < Piece ? n : Piece), 0);
        if (k <= 0) return false;
        p += k;
        n -= (size_t)k;
    }
    return true;
}

// Up to limit bytes of the body (own or the file's); piece by piece with
// pauses when trickling.
bool WebServer::SendBody(uintptr_t s, const Rule &r, const std::wstring &file, long long from, long long limit) {
    bool trickle = r.kind == Rule::Kind::Trickle, own = r.ownBody || r.kind == Rule::Kind::Endless;
    size_t piece = trickle ? (size_t)r.at : Piece;
    HANDLE f = own ? INVALID_HANDLE_VALUE
                         : CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       0, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, 0);
    if (!own && f == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER to;
    to.QuadPart = from;
    if (f != INVALID_HANDLE_VALUE) SetFilePointerEx(f, to, 0, FILE_BEGIN);
    std::vector<char> buf(piece);
    bool ok = true;
    for (long long sent = 0; ok && sent < limit;) {
        size_t want = (size_t)(limit - sent < (long long)piece ? limit - sent : (long long)piece);
        DWORD n = (DWORD)want;
        if (r.kind == Rule::Kind::Endless) memset(buf.data(), 'x', want);
        else if (r.ownBody) memcpy(buf.data(), r.body.data() + sent, want);
        else if (!ReadFile(f, buf.data(), (DWORD)want, &n, 0) || !n) break;
        ok = Send(s, buf.data(), n);
        sent += n;
        if (ok && trickle && sent < limit)
            for (int w = 0; w < r.everyMs && !stop_; w += 10) Sleep(10);
    }
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    return ok;
}

void WebServer::Quiet(uintptr_t s) {
    char sink[4096];
    for (DWORD start = GetTickCount(); !stop_ && GetTickCount() - start < QuietMaxMs;)
        if (Ready((SOCKET)s, false, 100) && recv((SOCKET)s, sink, sizeof sink, 0) <= 0) return;
}

// Requests one after another on one connection, until the client closes it,
// an answer ends it, or it stays idle too long.
void WebServer::Handle(uintptr_t s) {
    SOCKET c = (SOCKET)s;
    std::string in;
    char buf[4096];
    for (End end = End::Keep; end == End::Keep;) {
        size_t at;
        for (DWORD start = GetTickCount(); (at = in.find("\r\n\r\n")) == std::string::npos && in.size() < HeadMax &&
                                           !stop_ && GetTickCount() - start < HeadWaitMs;) {
            if (!Ready(c, false, 100)) continue;
            int k = recv(c, buf, sizeof buf, 0);
            if (k <= 0) break;
            in.append(buf, (size_t)k);
        }
        if (at == std::string::npos) break;
        std::string head = in.substr(0, at + 4);
        in.erase(0, at + 4);
        end = Answer(s, head);
        if (end == End::Closed) return;
    }
    // A graceful end: the client reads everything sent before it sees the close.
    shutdown(c, SD_SEND);
    for (DWORD t = GetTickCount(); !stop_ && GetTickCount() - t < 2000;)
        if (!Ready(c, false, 100) || recv(c, buf, sizeof buf, 0) <= 0) break;
    closesocket(c);
}

WebServer::End WebServer::Answer(uintptr_t s, const std::string &whole) {
    SOCKET c = (SOCKET)s;
    size_t end = whole.size() - 4, sp1 = whole.find(' '), sp2 = whole.find(' ', sp1 + 1);
    if (sp2 == std::string::npos || sp2 > end) return End::Close;
    std::string target = whole.substr(sp1 + 1, sp2 - sp1 - 1), head = whole.substr(0, end);
    std::string connection = Field(head, "connection");
    for (char &ch : connection) ch = (char)tolower((unsigned char)ch);
    bool keep = head.find(" HTTP/1.1\r\n") != std::string::npos && connection != "close";
    Rule r;
    size_t seq;
    {
        std::lock_guard<std::mutex> g(mu_);
        seq = heads_.size();
        heads_.push_back(whole);
        statuses_.push_back(0);
        auto it = rules_.find(target);
        for (auto p = rules_.begin(); it == rules_.end() && p != rules_.end(); ++p)
            if (p->first.size() && p->first.back() == '*' &&
                !target.compare(0, p->first.size() - 1, p->first, 0, p->first.size() - 1))
                it = p;
        if (it != rules_.end()) {
            r = it->second;
            if (it->second.times > 0 && --it->second.times == 0) rules_.erase(it);
        }
    }
    auto answered = [&](int code) {
        std::lock_guard<std::mutex> g(mu_);
        if (seq < statuses_.size()) statuses_[seq] = code;
    };
    for (int w = 0; w < r.afterMs && !stop_; w += 10) Sleep(10);
    using K = Rule::Kind;
    // Only an answer given whole leaves the connection for the next request.
    keep = keep && (r.kind == K::Plain || r.kind == K::Trickle || r.kind == K::Redirect) &&
           !HasHeader(r.headers, "Connection");
    std::wstring file = r.ownBody ? L"" : FileFor(root_, target);
    std::string headers = r.headers;
    // gzip_static: the compressed copy beside the file, for a client that takes it.
    std::string accept = Field(head, "accept-encoding");
    if (!file.empty() && accept.find("gzip") != std::string::npos && Field(head, "range").empty() &&
        SizeOf(file + L".gz") >= 0) {
        file += L".gz";
        headers += "Content-Encoding: gzip\r\n";
    }
    long long size = r.ownBody ? (long long)r.body.size() : SizeOf(file);
    std::string h;
    if ((r.kind == K::Cut || r.kind == K::Reset) && r.at < 0) {
        if (r.kind == K::Reset) {
            linger l = {1, 0};
            setsockopt(c, SOL_SOCKET, SO_LINGER, (const char *)&l, sizeof l);
        }
        closesocket(c);
        return End::Closed;
    }
    long long from = 0, length = size;
    bool ranged = false;
    if (!r.ownBody && size >= 0 && r.status == 200 && r.kind != K::Silent && r.kind != K::Redirect &&
        r.kind != K::Endless) {
        std::string etag, modified, range = Field(head, "range"), since = Field(head, "if-range");
        Version(file, etag, modified);
        const std::string version[][2] = {{"ETag", etag}, {"Last-Modified", modified}, {"Accept-Ranges", "bytes"}};
        for (auto &v : version)
            if (!HasHeader(r.headers, v[0].c_str())) headers += v[0] + ": " + v[1] + "\r\n";
        std::string match = Field(head, "if-none-match"), changed = Field(head, "if-modified-since");
        if (!r.unconditional && (match.empty() ? !changed.empty() && changed == modified : match == etag)) {
            h = Head(304, 0, headers, keep);
            size_t cl = h.find("Content-Length: 0\r\n");  // a 304 has no body to measure
            if (cl != std::string::npos) h.erase(cl, 19);
            answered(304);
            return Send(s, h.data(), h.size()) && keep ? End::Keep : End::Close;
        }
        // One span, "bytes=A-" or "bytes=A-B", as static web servers serve it.
        size_t dash = range.find('-');
        if (r.ranges && range.rfind("bytes=", 0) == 0 && dash != std::string::npos &&
            range.find(',') == std::string::npos && (since.empty() || since == etag || since == modified)) {
            from = atoll(range.c_str() + 6) + r.skew;
            long long last = dash + 1 < range.size() ? atoll(range.c_str() + dash + 1) + r.skew : size - 1;
            if (last >= size) last = size - 1;
            if (from >= size || last < from) {
                h = Head(416, 0, "Content-Range: bytes */" + std::to_string(size) + "\r\n", keep);
                answered(416);
                return Send(s, h.data(), h.size()) && keep ? End::Keep : End::Close;
            }
            ranged = true;
            length = last + 1 - from;
            headers += "Content-Range: bytes " + std::to_string(from) + "-" + std::to_string(last) + "/" +
                       std::to_string(size) + "\r\n";
        }
    }
    bool sent = false;
    if (r.kind == K::Silent) {
        Quiet(s);
    } else if (r.kind == K::Endless) {
        h = "HTTP/1.1 200 OK\r\n" + r.headers + "Connection: close\r\n\r\n";
        if (Send(s, h.data(), h.size())) SendBody(s, r, L"", 0, r.at);
    } else if (r.kind == K::Redirect) {
        h = Head(r.status, 0, "Location: " + r.location + "\r\n" + r.headers, keep);
        answered(r.status);
        sent = Send(s, h.data(), h.size());
    } else if (size < 0) {
        h = Head(404, 9, r.headers, keep) + "not found";
        answered(404);
        sent = Send(s, h.data(), h.size());
    } else if (h = Head(ranged ? 206 : r.status, length, headers, keep), answered(ranged ? 206 : r.status),
               Send(s, h.data(), h.size())) {
        sent = SendBody(s, r, file, from, r.kind == K::Cut || r.kind == K::Reset || r.kind == K::Stall ? r.at : length);
        if (sent && r.kind == K::Stall) Quiet(s);
        if (r.kind == K::Reset) {
            linger l = {1, 0};  // closesocket then resets the connection
            setsockopt(c, SOL_SOCKET, SO_LINGER, (const char *)&l, sizeof l);
            closesocket(c);
            return End::Closed;
        }
    }
    return sent && keep ? End::Keep : End::Close;
}
