#include "app/inflate.h"

#include <string.h>

namespace {

typedef unsigned char Byte;
typedef unsigned long long Word;

// ---- Bits ------------------------------------------------------------------------------
// Deflate packs its bits from the low end of each byte up. The reader holds up
// to 64 of them. Past the end of the input it feeds zeros and counts them, so
// that the decoding loops never test for the end: a stream that needed them is
// refused when it ends, or sooner by the checks it then fails.

struct Bits {
    const Byte *p, *end;
    Word buf;    // bits above n may already hold the next bytes: the same bits a refill ORs in
    int n;       // bits held
    int padded;  // zero bits fed past the end
};

inline void Refill(Bits &b) {
    if (b.end - b.p >= 8) {
        Word v;
        memcpy(&v, b.p, 8);
        b.buf |= v << b.n;
        int take = (63 - b.n) >> 3;
        b.p += take;
        b.n += take << 3;
        return;
    }
    while (b.n <= 56) {
        if (b.p < b.end)
            b.buf |= (Word)*b.p++ << b.n;
        else
            b.padded += 8;
        b.n += 8;
    }
}

// The next k bits (k <= 32) as a number, the first bit lowest.
inline unsigned Take(Bits &b, int k) {
    if (b.n < k) Refill(b);
    unsigned v = (unsigned)(b.buf & (((Word)1 << k) - 1));
    b.buf >>= k;
    b.n -= k;
    return v;
}

// ---- Huffman codes -------------------------------------------------------------------------

enum { FastBits = 10, MaxBits = 15, MaxSymbols = 320 };

// A canonical code (RFC 1951, 3.2.2): symbols of codes up to FastBits long
// are found with one look-up of that many bits; longer ones, rare, bit by bit.
struct Huff {
    unsigned short fast[1 << FastBits];  // symbol << 4 | code length; 0: a longer code, or none
    unsigned short count[MaxBits + 1];   // codes of each length
    unsigned short symbol[MaxSymbols];   // the symbols in the order of their codes
};

// The code of the lengths of n symbols (0: the symbol has none). Returns
// below 0 when it has more codes than its lengths allow (and h is not made),
// 0 when it is complete or has no code at all, above 0 when it has fewer.
int Build(Huff &h, const Byte *lengths, int n) {
    memset(h.count, 0, sizeof h.count);
    for (int i = 0; i < n; i++) h.count[lengths[i]]++;
    int codes = n - h.count[0];
    h.count[0] = 0;
    int left = 1;
    for (int l = 1; l <= MaxBits; l++) {
        left = (left << 1) - h.count[l];
        if (left < 0) return left;
    }
    if (!codes) left = 0;
    unsigned short at[MaxBits + 2];
    at[1] = 0;
    for (int l = 1; l <= MaxBits; l++) at[l + 1] = (unsigned short)(at[l] + h.count[l]);
    for (int i = 0; i < n; i++)
        if (lengths[i]) h.symbol[at[lengths[i]]++] = (unsigned short)i;
    memset(h.fast, 0, sizeof h.fast);
    unsigned code = 0;
    for (int l = 1, k = 0; l <= FastBits; l++, code <<= 1)
        for (int c = 0; c < h.count[l]; c++, k++, code++) {
            // The code is read first bit first: its bits reversed index the table.
            unsigned r = 0;
            for (int i = 0; i < l; i++) r |= (code >> i & 1) << (l - 1 - i);
            for (unsigned f = r; f < (1u << FastBits); f += 1u << l) h.fast[f] = (unsigned short)(h.symbol[k] << 4 | l);
        }
    return left;
}

// Deflate allows a code with fewer codes than its lengths allow only when it
// has a single code, of one bit (a block with one distance); every other
// code is complete, as zlib, which wrote nearly every stream, has it.
bool Usable(Huff &h, const Byte *lengths, int n) {
    int left = Build(h, lengths, n);
    return left == 0 || (h.count[1] == 1 && left == 1 << (MaxBits - 1));
}

// A code longer than FastBits: its bits one by one, each code of a length
// compared with the first code of that length (as RFC 1951's puff does).
int Slow(Bits &b, const Huff &h) {
    Word buf = b.buf;
    int code = 0, first = 0, index = 0;
    for (int l = 1; l <= MaxBits; l++) {
        code |= (int)(buf & 1);
        buf >>= 1;
        int count = h.count[l];
        if (code - count < first) {
            b.buf >>= l;
            b.n -= l;
            return h.symbol[index + (code - first)];
        }
        index += count;
        first = (first + count) << 1;
        code <<= 1;
    }
    return -1;  // no code
}

inline int Decode(Bits &b, const Huff &h) {
    if (b.n < MaxBits) Refill(b);
    unsigned e = h.fast[b.buf & ((1u << FastBits) - 1)];
    if (!e) return Slow(b, h);
    b.buf >>= e & 15;
    b.n -= e & 15;
    return (int)(e >> 4);
}

// ---- Blocks ------------------------------------------------------------------------------

const unsigned short LengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                       31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const Byte LengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const unsigned short DistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                         193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const Byte DistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

struct Out {
    Byte *p;
    size_t size, at;
};

bool Stored(Bits &b, Out &o) {
    Take(b, b.n & 7);  // to the byte's end: every byte fed is whole
    unsigned len = Take(b, 16), nlen = Take(b, 16);
    if ((len ^ 0xFFFF) != nlen || len > o.size - o.at || b.padded > b.n) return false;
    // The bytes the reader holds, then the rest straight from the input;
    // the bits it may hold above them are those bytes' own, and go.
    for (; len && b.n >= 8; len--) o.p[o.at++] = (Byte)Take(b, 8);
    if (b.padded > b.n) return false;
    if (!len) return true;
    if (len > (size_t)(b.end - b.p)) return false;
    memcpy(o.p + o.at, b.p, len);
    o.at += len;
    b.p += len;
    b.buf = 0;
    return true;
}

void Fixed(Huff &lit, Huff &dist) {
    Byte lengths[288];
    memset(lengths, 8, 144);
    memset(lengths + 144, 9, 112);
    memset(lengths + 256, 7, 24);
    memset(lengths + 280, 8, 8);
    Build(lit, lengths, 288);
    memset(lengths, 5, 32);  // 30 and 31 are codes of no distance
    Build(dist, lengths, 32);
}

bool Dynamic(Bits &b, Huff &lit, Huff &dist) {
    static const Byte order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    int nlit = (int)Take(b, 5) + 257, ndist = (int)Take(b, 5) + 1, ncode = (int)Take(b, 4) + 4;
    if (nlit > 286 || ndist > 30) return false;
    Byte lengths[MaxSymbols] = {};
    for (int i = 0; i < ncode; i++) lengths[order[i]] = (Byte)Take(b, 3);
    Huff code;
    if (Build(code, lengths, 19) != 0) return false;
    for (int i = 0; i < nlit + ndist;) {
        int sym = Decode(b, code);
        if (sym < 0 || b.padded > 64) return false;
        if (sym < 16) {
            lengths[i++] = (Byte)sym;
            continue;
        }
        int repeat, value = 0;
        if (sym == 16) {
            if (i == 0) return false;
            value = lengths[i - 1];
            repeat = 3 + (int)Take(b, 2);
        } else if (sym == 17) {
            repeat = 3 + (int)Take(b, 3);
        } else {
            repeat = 11 + (int)Take(b, 7);
        }
        if (i + repeat > nlit + ndist) return false;
        while (repeat--) lengths[i++] = (Byte)value;
    }
    return lengths[256] && Usable(lit, lengths, nlit) && Usable(dist, lengths + nlit, ndist);
}

// The symbols of a compressed block, to its end.
bool Codes(Bits &b, const Huff &lit, const Huff &dist, Out &o) {
    for (;;) {
        int sym = Decode(b, lit);
        if (sym < 256) {
            if (sym < 0 || o.at == o.size) return false;
            o.p[o.at++] = (Byte)sym;
            continue;
        }
        if (sym == 256) return b.padded <= b.n;
        sym -= 257;
        if (sym >= 29) return false;
        size_t len = LengthBase[sym] + Take(b, LengthExtra[sym]);
        int ds = Decode(b, dist);
        if (ds < 0 || ds >= 30) return false;
        size_t d = DistanceBase[ds] + Take(b, DistanceExtra[ds]);
        if (d > o.at || len > o.size - o.at) return false;
        Byte *to = o.p + o.at;
        const Byte *from = to - d;
        o.at += len;
        if (d >= 8)  // eight at a time: a piece never reads what it writes
            for (; len >= 8; len -= 8, to += 8, from += 8) memcpy(to, from, 8);
        while (len--) *to++ = *from++;
    }
}

unsigned Adler32(const Byte *p, size_t n) {
    unsigned a = 1, b = 0;
    while (n) {
        size_t k = n < 5552 ? n : 5552;  // the most bytes before b can overflow 32 bits
        n -= k;
        while (k--) {
            a += *p++;
            b += a;
        }
        a %= 65521;
        b %= 65521;
    }
    return b << 16 | a;
}

}  // namespace

bool InflateRaw(const unsigned char *in, size_t inSize, unsigned char *out, size_t outSize, size_t *used,
                size_t *made) {
    Bits b = {in, in + inSize, 0, 0, 0};
    Out o = {out, outSize, 0};
    Huff lit, dist;
    for (unsigned last = 0; !last;) {
        last = Take(b, 1);
        unsigned type = Take(b, 2);
        if (type == 0) {
            if (!Stored(b, o)) return false;
            continue;
        }
        if (type == 1)
            Fixed(lit, dist);
        else if (type != 2 || !Dynamic(b, lit, dist))
            return false;
        if (!Codes(b, lit, dist, o)) return false;
    }
    *made = o.at;
    Take(b, b.n & 7);  // the last byte's unused bits
    if (b.padded > b.n) return false;
    *used = (size_t)(b.p - in) - (size_t)(b.n - b.padded) / 8;
    return true;
}

bool Inflate(const unsigned char *in, size_t inSize, unsigned char *out, size_t outSize) {
    if (inSize < 6) return false;
    unsigned cmf = in[0], flg = in[1];
    // Deflate, a window of at most 32 KiB, no preset dictionary, the header's check.
    if ((cmf & 15) != 8 || cmf >> 4 > 7 || (cmf << 8 | flg) % 31 || flg & 32) return false;
    size_t used, made;
    if (!InflateRaw(in + 2, inSize - 2, out, outSize, &used, &made) || made != outSize || inSize - 2 - used < 4)
        return false;
    const Byte *a = in + 2 + used;
    return ((unsigned)a[0] << 24 | a[1] << 16 | a[2] << 8 | a[3]) == Adler32(out, outSize);
}
