#include "report.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

int Problems = 0, Refusals = 0, IoErrors = 0;
bool Quiet = false;

std::string Escaped(const std::string &name, bool (*escape)(unsigned char), const char *format) {
    std::string out;
    for (unsigned char c : name) {
        if (escape(c)) {
            char hex[8];
            snprintf(hex, sizeof hex, format, c);
            out += hex;
        } else {
            out += (char)c;
        }
    }
    return out;
}

std::string Shown(const std::string &name) {
    return Escaped(name, [](unsigned char c) { return c < 32 || c == 127; }, "\\x%02x");
}

static void Say(const char *kind, const std::string &name, const std::string &what) {
    if (name.empty()) fprintf(stderr, "lista: %s%s\n", kind, what.c_str());
    else fprintf(stderr, "lista: %s%s: %s\n", kind, Shown(name).c_str(), what.c_str());
}

void Problem(const std::string &name, const std::string &what) {
    Problems++;
    Say("", name, what);
}

void Refusal(const std::string &name, const std::string &what) {
    Refusals++;
    Say("", name, what);
}

void IoError(const std::string &name, const std::string &what) {
    IoErrors++;
    Say("", name, what);
}

void Warn(const std::string &name, const std::string &what) { Say("warning: ", name, what); }

void Note(const char *fmt, ...) {
    if (Quiet) return;
    va_list ap;
    va_start(ap, fmt);
    fputs("lista: ", stderr);
    vfprintf(stderr, fmt, ap);
    fputc('\n', stderr);
    va_end(ap);
}

int Status(bool allowSkips) {
    if (IoErrors) return ExitIo;
    if (Refusals || (Problems && !allowSkips)) return ExitRefused;
    return ExitDone;
}

std::string Utf8(const std::filesystem::path &p) {
#ifdef _WIN32
    auto u = p.generic_u8string();  // C++17: std::string of UTF-8
    return std::string(u.begin(), u.end());
#else
    return p.generic_string();  // the bytes as stored
#endif
}

std::string Reason(const std::error_code &ec) {
    // libstdc++ words errno values with strerror; Windows' own codes through
    // the system's message table, which ends in a full stop and a line break.
    std::string s = ec.message();
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '.')) s.pop_back();
    return s;
}

std::string Reason(int err) { return Reason(std::error_code(err, std::generic_category())); }
