// Shared by the fuzz targets: the document as HttpGet hands it over, and a
// check that stops the run with a message libFuzzer reports as a finding.
#pragma once
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <climits>
#include <string>
#include <string_view>
#include <vector>

#include "net/utf8.h"

// The first cap - 1 bytes and a NUL, in a heap block of exactly that size, so
// that AddressSanitizer sees a parser that reads or writes one byte past it.
inline char *Document(const uint8_t *data, size_t size, size_t cap) {
    size_t n = size < cap - 1 ? size : cap - 1;
    char *doc = (char *)malloc(n + 1);
    memcpy(doc, data, n);
    doc[n] = 0;
    return doc;
}

#define CHECK(cond)                                                              \
    do {                                                                         \
        if (!(cond)) {                                                           \
            fprintf(stderr, "check failed at %s:%d: %s\n", __FILE__, __LINE__, #cond); \
            abort();                                                             \
        }                                                                        \
    } while (0)

// The text up to its first NUL, without a leading byte-order mark.
inline std::string_view Text(const char *doc) {
    std::string_view s(doc);
    if (s.substr(0, 3) == "\xEF\xBB\xBF") s.remove_prefix(3);
    return s;
}

// Calls each(line) for the document's lines as both parsers walk them: a
// final line feed opens no empty line, an empty text has none. each returns
// false to stop.
template <class F> void Lines(std::string_view s, F each) {
    if (s.empty()) return;
    for (size_t at = 0;;) {
        size_t lf = s.find('\n', at);
        if (!each(s.substr(at, lf == s.npos ? s.npos : lf - at))) return;
        if (lf == s.npos || lf + 1 == s.size()) return;
        at = lf + 1;
    }
}

// A field of cap units as the parser must leave it: terminated inside.
inline std::wstring_view Field(const wchar_t *f, size_t cap) {
    size_t n = 0;
    while (n < cap && f[n]) n++;
    CHECK(n < cap);
    return std::wstring_view(f, n);
}

// What a value becomes in a field of cap units (at most 260), in out: converted
// whole, or empty.
inline std::wstring_view Converted(std::string_view v, int cap, wchar_t (&out)[260]) {
    static char s[65536];  // static: a stack array this large costs ASan a lot per call
    if (v.size() >= sizeof s || cap > 260) abort();
    memcpy(s, v.data(), v.size());
    s[v.size()] = 0;
    if (!Utf8To16(s, out, cap)) out[0] = 0;
    return std::wstring_view(out);
}

inline bool Space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Leading white space, an optional sign, then the digits as a number clamped
// to [lo, hi]: atoi and strtoul without their overflow.
inline long long Number(std::string_view s, long long lo, long long hi, bool *negative) {
    size_t i = 0;
    while (i < s.size() && Space(s[i])) i++;
    *negative = i < s.size() && s[i] == '-';
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) i++;
    while (i < s.size() && s[i] == '0') i++;
    size_t from = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') i++;
    long long v = i - from > 12 ? LLONG_MAX / 2 : 0;
    for (size_t k = from; k < i && i - from <= 12; k++) v = v * 10 + (s[k] - '0');
    if (*negative) v = -v;
    return v < lo ? lo : v > hi ? hi : v;
}
