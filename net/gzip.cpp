#include "net/gzip.h"

#include "app/inflate.h"

namespace {

unsigned Crc32(const unsigned char *p, size_t n) {
    static unsigned table[256];
    if (!table[1])
        for (unsigned i = 0; i < 256; i++) {
            unsigned c = i;
            for (int k = 0; k < 8; k++) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
    unsigned c = 0xFFFFFFFFu;
    while (n--) c = table[(c ^ *p++) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

unsigned Le32(const unsigned char *p) { return p[0] | p[1] << 8 | p[2] << 16 | (unsigned)p[3] << 24; }

// Past a zero-terminated field from at; n when it does not end.
size_t PastZero(const unsigned char *in, size_t n, size_t at) {
    while (at < n && in[at]) at++;
    return at < n ? at + 1 : n + 1;
}

}  // namespace

long long Gunzip(const unsigned char *in, size_t n, unsigned char *out, size_t cap) {
    enum { Text = 1, HeadCrc = 2, Extra = 4, Name = 8, Comment = 16 };
    // ID1 ID2, deflate, flags, time, extra flags, system.
    if (n < 18 || in[0] != 0x1F || in[1] != 0x8B || in[2] != 8 || (in[3] & 0xE0)) return -1;
    int flags = in[3];
    size_t at = 10;
    if (flags & Extra) {
        if (n - at < 2) return -1;
        at += 2 + (size_t)(in[at] | in[at + 1] << 8);
    }
    if (flags & Name) at = PastZero(in, n, at);
    if (flags & Comment) at = PastZero(in, n, at);
    if (flags & HeadCrc) {
        if (at > n || n - at < 2 || (Crc32(in, at) & 0xFFFF) != (unsigned)(in[at] | in[at + 1] << 8)) return -1;
        at += 2;
    }
    if (at > n) return -1;

    size_t used, made;
    if (!InflateRaw(in + at, n - at, out, cap, &used, &made)) return -1;
    // Then CRC-32 and length, and nothing after them.
    if (n - at - used != 8 || Le32(in + at + used) != Crc32(out, made) || Le32(in + at + used + 4) != (unsigned)made)
        return -1;
    return (long long)made;
}
