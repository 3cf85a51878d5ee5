// The native stand-in for net/utf8.cpp in the fuzzing build: the contract that
// MultiByteToWideChar(CP_UTF8, 0) gives the launcher on Windows, in plain C++.
// Malformed bytes become U+FFFD (one for each maximal ill-formed part).
#include "net/utf8.h"

// The code point at s and, in *len, the bytes it takes.
static unsigned Next(const unsigned char *s, int *len) {
    unsigned c = s[0];
    *len = 1;
    if (c < 0x80) return c;
    int more;
    unsigned lo = 0x80, hi = 0xBF;  // the second byte's range
    if (c >= 0xC2 && c <= 0xDF) {
        more = 1;
        c &= 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        more = 2;
        if (c == 0xE0) lo = 0xA0;  // no overlong forms
        if (c == 0xED) hi = 0x9F;  // no surrogates
        c &= 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        more = 3;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;  // nothing past U+10FFFF
        c &= 0x07;
    } else {
        return 0xFFFD;
    }
    for (int i = 1; i <= more; i++) {
        unsigned b = s[i];
        if (b < (i == 1 ? lo : 0x80) || b > (i == 1 ? hi : 0xBF)) {
            *len = i;
            return 0xFFFD;
        }
        c = c << 6 | (b & 0x3F);
    }
    *len = more + 1;
    return c;
}

int Utf8To16(const char *src, wchar_t *dst, int cap) {
    if (cap < 1) return 0;
    int n = 0;
    for (const unsigned char *s = (const unsigned char *)src; *s;) {
        int len;
        unsigned c = Next(s, &len);
        s += len;
        int units = c >= 0x10000 ? 2 : 1;
        if (n + units >= cap) {
            dst[0] = 0;
            return 0;
        }
        if (units == 2) {
            c -= 0x10000;
            dst[n++] = (wchar_t)(0xD800 + (c >> 10));
            dst[n++] = (wchar_t)(0xDC00 + (c & 0x3FF));
        } else {
            dst[n++] = (wchar_t)c;
        }
    }
    dst[n] = 0;
    return 1;
}
