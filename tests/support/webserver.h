// A small HTTP/1.1 server for tests, benchmarks and the standalone
// tests/programs/webserver.exe: it listens on 127.0.0.1 (an ephemeral port by
// default), serves the files of a folder, records every request, and answers
// any chosen path in a chosen bad way. Files are served as web servers serve
// static files: with an ETag and a Last-Modified, and "Range: bytes=N-"
// answered with 206 (416 past the end) unless "If-Range" names another
// version. Every connection is closed after one answer. Each connection runs on its own thread; Stop() ends them all, silent
// ones included, and every wait inside is bounded.
#pragma once
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct Answer {
    enum class Kind { File, Code, Cut, Trickle, Redirect, Silent, Stall };
    Kind kind = Kind::File;
    int status = 200;
    bool ownBody = false;  // body below instead of the file at the path
    std::string body;
    long long at = 0;      // Cut, Stall: body bytes sent before the drop or the silence;
                           // Cut below 0: dropped before the head
    bool reset = false;    // Cut: drop with a TCP reset rather than a close
    size_t chunk = 1;      // Trickle: bytes per piece ...
    int everyMs = 100;     // ... and the pause between pieces
    std::string location;  // Redirect
    std::string headers;   // extra header lines, each ending in CR LF
    int times = 0;         // answers this many requests, then the path is served as usual; 0 = all

    static Answer WithStatus(int code, const std::string &body = "");  // this status and body
    static Answer Body(const std::string &body);                       // 200 with this body
    static Answer Empty() { return Body(""); }                         // 200, no body
    static Answer CutAt(long long bytes, bool reset = false);  // full length announced, then dropped
    static Answer StallAt(long long bytes);                    // full length announced, then silence
    static Answer Trickle(size_t chunk, int everyMs);
    static Answer RedirectTo(const std::string &location, int code = 302);
    static Answer Silent();  // reads the request, never answers
    Answer &Times(int n) {
        times = n;
        return *this;
    }
    Answer &WithHeaders(const std::string &h) {
        headers = h;
        return *this;
    }
    // The same body from a string rather than the file (Cut, Stall, Trickle).
    Answer &With(const std::string &b) {
        ownBody = true;
        body = b;
        return *this;
    }
};

// "status:404", "empty", "body:TEXT", "cut:N", "reset:N", "stall:N",
// "trickle:CHUNK:MS", "redirect:URL", "silent". False when rule is none of them.
bool ParseAnswer(const std::string &rule, Answer &a);

class WebServer {
public:
    WebServer() = default;
    ~WebServer() { Stop(); }
    WebServer(const WebServer &) = delete;
    WebServer &operator=(const WebServer &) = delete;

    // Serves root (may be empty: every file is then 404) on 127.0.0.1:port,
    // port 0 = a free one. False when the port cannot be had.
    bool Start(const std::wstring &root, int port = 0);
    void Stop();
    int Port() const { return port_; }
    std::wstring Base() const;  // L"http://127.0.0.1:PORT", no trailing slash

    // How to answer a request whose path (as sent, e.g. "/a%20b.txt") is path.
    void On(const std::string &path, const Answer &a);
    void Forget();  // no special answers, no recorded requests

    std::vector<std::string> Paths() const;  // request paths in order of arrival
    std::vector<std::string> Heads() const;  // whole request heads, same order
    int Busy() const { return active_; }     // connections being answered now

private:
    void AcceptLoop();
    void Handle(uintptr_t s);
    bool Send(uintptr_t s, const char *p, size_t n);
    bool SendBody(uintptr_t s, const Answer &a, const std::wstring &file, long long from,
                  long long limit, bool trickle);
    void Quiet(uintptr_t s);  // waits, saying nothing, until Stop

    std::wstring root_;
    uintptr_t listen_ = ~(uintptr_t)0;
    int port_ = 0;
    std::thread acceptor_;
    std::atomic<bool> stop_{false};
    std::atomic<int> active_{0};
    mutable std::mutex mu_;
    std::map<std::string, Answer> answers_;
    std::vector<std::string> paths_, heads_;
};
