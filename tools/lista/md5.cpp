#include "md5.h"

#include <cstring>

namespace {

const uint32_t K[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
const int S[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                   5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                   4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                   6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

void Transform(Md5 &m, const unsigned char *p) {
    uint32_t w[16];
    for (int i = 0; i < 16; i++)
        w[i] = p[i * 4] | p[i * 4 + 1] << 8 | p[i * 4 + 2] << 16 | (uint32_t)p[i * 4 + 3] << 24;
    uint32_t a = m.a, b = m.b, c = m.c, d = m.d;
    for (int i = 0; i < 64; i++) {
        uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        uint32_t t = d;
        d = c;
        c = b;
        b = b + Rotl(a + f + K[i] + w[g], S[i]);
        a = t;
    }
    m.a += a;
    m.b += b;
    m.c += c;
    m.d += d;
}

}  // namespace

void Md5::Update(const void *data, size_t n) {
    const unsigned char *p = static_cast<const unsigned char *>(data);
    length += n;
    if (used) {
        size_t take = n < 64 - used ? n : 64 - used;
        memcpy(block + used, p, take);
        used += take;
        p += take;
        n -= take;
        if (used < 64) return;
        Transform(*this, block);
        used = 0;
    }
    for (; n >= 64; p += 64, n -= 64) Transform(*this, p);
    memcpy(block, p, n);
    used = n;
}

std::string Md5::HexDigest() {
    uint64_t bits = length * 8;
    unsigned char pad[72] = {0x80};
    size_t padLen = used < 56 ? 56 - used : 120 - used;
    for (int i = 0; i < 8; i++) pad[padLen + i] = (unsigned char)(bits >> (8 * i));
    Update(pad, padLen + 8);
    const uint32_t words[4] = {a, b, c, d};
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (uint32_t w : words)
        for (int i = 0; i < 4; i++) {
            unsigned v = (w >> (8 * i)) & 0xff;
            out += hex[v >> 4];
            out += hex[v & 15];
        }
    return out;
}
