// The one web server of the tests, the demo and the benchmarks: HTTP/1.1 on
// 127.0.0.1 (a free port by default), serving the files of a folder, recording
// every request's whole head, and answering chosen paths by rules a real
// server would not follow. Files are served as static web servers serve them:
// with an ETag and a Last-Modified, one span of "Range: bytes=N-" or "bytes=N-M" answered with 206 (416
// past the end) unless "If-Range" names another version, a request naming
// the version served (If-None-Match, If-Modified-Since) answered 304, and
// "X.gz" beside a file sent for it, compressed, to a client that accepts gzip
// (as nginx's gzip_static). Connections stay open for further requests
// (HTTP/1.1 keep-alive) unless an answer is a fault; each connection runs on
// its own thread (a Windows thread: the detached threads of std::thread, made
// and ended by the hundred, now and then crash MinGW's thread library), and
// the server counts how many are open at once. Stop() ends them all, silent
// and idle ones included, and every wait is bounded.
// tests/programs/webserver.exe is its standalone front end.
#pragma once
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// How one path is answered: by default its file under the root (404 when there
// is none) with status 200.
struct Rule {
    enum class Kind { Plain, Cut, Reset, Stall, Trickle, Redirect, Silent, Endless };
    Kind kind;
    long long at;  // Cut, Reset, Stall: body bytes sent before the drop or the silence
                   // (Cut, Reset below 0: dropped before the head); Trickle: bytes a piece,
                   // everyMs apart; Endless: bytes sent before the server gives up
    int status, everyMs = 100;
    bool ownBody = false;  // body below instead of the file
    std::string body;
    std::string headers;   // "Name: value\r\n" lines; a name given here replaces the default one
    std::string location;  // Redirect
    int times = 0;         // answers this many requests, then the path is served as usual; 0 = all
    bool ranges = true;    // false: Range is ignored, the whole file sent with 200
    long long skew = 0;    // a Range is answered from this many bytes past the span asked (and says so)
    int afterMs = 0;       // waits this long before the answer (a far server's first byte)
    bool unconditional = false;  // 200 whatever version the request names (no 304)

    explicit Rule(Kind k = Kind::Plain, long long n = 0, int code = 200) : kind(k), at(n), status(code) {}
    static Rule Status(int code, const std::string &body = "") { return Rule(Kind::Plain, 0, code).With(body); }
    static Rule Body(const std::string &body) { return Status(200, body); }
    // The full length announced, then the connection closed, reset, or left silent.
    static Rule CutAt(long long bytes, bool reset = false) { return Rule(reset ? Kind::Reset : Kind::Cut, bytes); }
    static Rule StallAt(long long bytes) { return Rule(Kind::Stall, bytes); }
    static Rule Trickle(long long chunk, int everyMs) {
        Rule r(Kind::Trickle, chunk > 0 ? chunk : 1);
        r.everyMs = everyMs;
        return r;
    }
    static Rule RedirectTo(const std::string &location, int code = 302) {
        Rule r(Kind::Redirect, 0, code);
        r.location = location;
        return r;
    }
    static Rule Silent() { return Rule(Kind::Silent); }  // reads the request, never answers
    // A 200 whose body goes on and on, with no length announced (unless a
    // header gives one): bytes of it at most, as a bound for a client that
    // never stops reading.
    static Rule Endless(long long bytes) { return Rule(Kind::Endless, bytes); }
    Rule &With(const std::string &b) {  // this body rather than the file
        ownBody = true;
        body = b;
        return *this;
    }
    Rule &Times(int n) {
        times = n;
        return *this;
    }
    Rule &NoRanges() {
        ranges = false;
        return *this;
    }
    Rule &Skew(long long n) {
        skew = n;
        return *this;
    }
    Rule &Header(const std::string &line) {
        headers += line + "\r\n";
        return *this;
    }
    Rule &After(int ms) {
        afterMs = ms;
        return *this;
    }
    Rule &Unconditional() {
        unconditional = true;
        return *this;
    }
};

// The standalone forms: "status:CODE[:BODY]", "body:TEXT", "cut:N", "reset:N" (N -1: before the head),
// "stall:N", "trickle:CHUNK:MS", "redirect:URL", "silent", "endless:N", "after:MS". False for
// others.
bool ParseRule(const std::string &text, Rule &r);

// "http://127.0.0.1:PORT" of a port this process holds and nobody listens
// on: every connection to it is refused, and no other server can take it
// over while the tests run (as it could a port a stopped server let go).
std::wstring RefusedBase();

class WebServer {
public:
    WebServer() = default;
    ~WebServer() { Stop(); }
    WebServer(const WebServer &) = delete;
    WebServer &operator=(const WebServer &) = delete;

    // Serves root (empty: every file is missing) on 127.0.0.1:port, port 0 for
    // a free one. False when the port cannot be had.
    bool Start(const std::wstring &root, int port = 0);
    void Stop();
    int Port() const { return port_; }
    std::wstring Base() const;  // L"http://127.0.0.1:PORT"

    // The rule for a request path as sent ("/a%20b.txt"); a path ending in "*"
    // covers every path that starts with the rest, unless a rule names it exactly.
    void On(const std::string &path, const Rule &r);
    void Forget();  // no rules, no record

    std::vector<std::string> Heads() const;  // every request's head, in order of arrival
    std::vector<std::string> Paths() const;  // the path of each
    std::vector<int> Statuses() const;       // the status of each answer, in the order of the heads
    int Connections() const { return accepted_; }     // connections taken since Start or Forget
    int MostAtOnce() const { return most_; }          // the most open at one time since then

private:
    friend struct ServerThreads;
    void Accept();
    void Handle(uintptr_t s);
    enum class End { Keep, Close, Closed };
    End Answer(uintptr_t s, const std::string &head);
    bool Send(uintptr_t s, const char *p, size_t n);
    bool SendBody(uintptr_t s, const Rule &r, const std::wstring &file, long long from, long long limit);
    void Quiet(uintptr_t s);  // waits, saying nothing, until Stop or the client goes

    std::wstring root_;
    uintptr_t listen_ = ~(uintptr_t)0;
    int port_ = 0;
    void *acceptor_ = nullptr;  // its thread's handle
    std::atomic<bool> stop_{false};
    std::atomic<int> active_{0};  // handler threads
    std::atomic<int> open_{0}, accepted_{0}, most_{0};
    mutable std::mutex mu_;
    std::map<std::string, Rule> rules_;
    std::vector<std::string> heads_;
    std::vector<int> statuses_;
};
