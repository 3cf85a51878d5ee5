#include "net/gzip.h"

#include <string.h>

namespace {

enum { MaxBits = 15, MaxLit = 288, MaxDist = 30 };

// A canonical Huffman code: how many codes of each length, and the symbols
// in code order.
struct Code {
    short count[MaxBits + 1];
    short symbol[MaxLit];
};

struct Unpack {
    const unsigned char *in;
    size_t n, at;        // input, its size, the next byte
    unsigned bits, held;  // bits not yet used, and how many
    unsigned char *out;
    size_t cap, got;
    int bad;             // the data is damaged or cut
};

// need (0 .. 16) bits, low first; past the end of the input, zeros and bad.
unsigned Bits(Unpack *u, int need) {
    while (u->held < (unsigned)need) {
        if (u->at == u->n) {
            u->bad = 1;
            return 0;
        }
        u->bits |= (unsigned)u->in[u->at++] << u->held;
        u->held += 8;
    }
    unsigned v = u->bits & ((1u << need) - 1);
    u->bits >>= need;
    u->held -= need;
    return v;
}

// Builds c from n code lengths. Returns 0 for a complete code, above 0 for an
// incomplete one, below 0 for one with more codes than its lengths allow.
int Build(Code *c, const short *length, int n) {
    memset(c->count, 0, sizeof c->count);
    for (int i = 0; i < n; i++) c->count[length[i]]++;
    if (c->count[0] == n) return 0;  // no codes: complete, and nothing can be decoded
    int left = 1;
    for (int len = 1; len <= MaxBits; len++) {
        left <<= 1;
        left -= c->count[len];
        if (left < 0) return left;
    }
    short offs[MaxBits + 1];
    offs[1] = 0;
    for (int len = 1; len < MaxBits; len++) offs[len + 1] = (short)(offs[len] + c->count[len]);
    for (int i = 0; i < n; i++)
        if (length[i]) c->symbol[offs[length[i]]++] = (short)i;
    return left;
}

// The next symbol in code c, or -1 (bad) for a code it does not have.
int Decode(Unpack *u, const Code *c) {
    int code = 0, first = 0, index = 0;
    for (int len = 1; len <= MaxBits; len++) {
        code |= (int)Bits(u, 1);
        int count = c->count[len];
        if (code - count < first) return u->bad ? -1 : c->symbol[index + (code - first)];
        index += count;
        first = (first + count) << 1;
        code <<= 1;
    }
    u->bad = 1;
    return -1;
}

const short LenBase[29] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31,
                           35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const short LenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const unsigned short DistBase[30] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129,
                                     193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097,
                                     6145, 8193, 12289, 16385, 24577};
const short DistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// The symbols of one compressed block, up to its end.
int Inflate(Unpack *u, const Code *lit, const Code *dist) {
    for (;;) {
        int s = Decode(u, lit);
        if (s < 0) return 0;
        if (s < 256) {
            if (u->got == u->cap) return 0;
            u->out[u->got++] = (unsigned char)s;
        } else if (s == 256) {
            return 1;
        } else {
            s -= 257;
            if (s >= 29) return 0;
            size_t len = (size_t)LenBase[s] + Bits(u, LenExtra[s]);
            int d = Decode(u, dist);
            if (d < 0 || d >= 30) return 0;
            size_t back = (size_t)DistBase[d] + Bits(u, DistExtra[d]);
            if (u->bad || back > u->got || len > u->cap - u->got) return 0;
            // Byte by byte: the copy may overlap what it writes.
            unsigned char *p = u->out + u->got;
            u->got += len;
            for (; len; len--, p++) *p = *(p - back);
        }
    }
}

// A block stored as it is.
int Stored(Unpack *u) {
    u->bits = u->held = 0;  // to the next byte
    if (u->n - u->at < 4) return 0;
    unsigned len = u->in[u->at] | u->in[u->at + 1] << 8, inv = u->in[u->at + 2] | u->in[u->at + 3] << 8;
    u->at += 4;
    if (len != (~inv & 0xFFFF) || len > u->n - u->at || len > u->cap - u->got) return 0;
    memcpy(u->out + u->got, u->in + u->at, len);
    u->at += len;
    u->got += len;
    return 1;
}

int Fixed(Unpack *u) {
    Code lit, dist;
    short length[MaxLit];
    int i = 0;
    for (; i < 144; i++) length[i] = 8;
    for (; i < 256; i++) length[i] = 9;
    for (; i < 280; i++) length[i] = 7;
    for (; i < MaxLit; i++) length[i] = 8;
    Build(&lit, length, MaxLit);
    for (i = 0; i < MaxDist; i++) length[i] = 5;
    Build(&dist, length, MaxDist);
    return Inflate(u, &lit, &dist);
}

// A block with codes of its own, which it describes first in a code of code
// lengths.
int Dynamic(Unpack *u) {
    static const unsigned char order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    short length[MaxLit + MaxDist];
    int nlit = (int)Bits(u, 5) + 257, ndist = (int)Bits(u, 5) + 1, ncode = (int)Bits(u, 4) + 4;
    if (u->bad || nlit > 286 || ndist > 30) return 0;
    int i = 0;
    for (; i < ncode; i++) length[order[i]] = (short)Bits(u, 3);
    for (; i < 19; i++) length[order[i]] = 0;
    Code lit, dist;
    if (u->bad || Build(&lit, length, 19) != 0) return 0;  // a code of lengths must be complete
    for (i = 0; i < nlit + ndist;) {
        int s = Decode(u, &lit);
        if (s < 0) return 0;
        if (s < 16) {
            length[i++] = (short)s;
            continue;
        }
        short repeat = 0;
        int times;
        if (s == 16) {
            if (!i) return 0;
            repeat = length[i - 1];
            times = 3 + (int)Bits(u, 2);
        } else {
            times = s == 17 ? 3 + (int)Bits(u, 3) : 11 + (int)Bits(u, 7);
        }
        if (u->bad || i + times > nlit + ndist) return 0;
        while (times--) length[i++] = repeat;
    }
    if (!length[256]) return 0;  // no end of block: the data could not end
    // An incomplete code only of one symbol of one bit, as deflate writes a
    // code with a single distance.
    int left = Build(&lit, length, nlit);
    if (left < 0 || (left > 0 && !(lit.count[1] == 1 && nlit - lit.count[0] == 1))) return 0;
    left = Build(&dist, length + nlit, ndist);
    if (left < 0 || (left > 0 && !(dist.count[1] == 1 && ndist - dist.count[0] == 1))) return 0;
    return Inflate(u, &lit, &dist);
}

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

    Unpack u = {in, n, at, 0, 0, out, cap, 0, 0};
    int last;
    do {
        last = (int)Bits(&u, 1);
        int type = (int)Bits(&u, 2);
        int ok = !u.bad && (type == 0 ? Stored(&u) : type == 1 ? Fixed(&u) : type == 2 ? Dynamic(&u) : 0);
        if (!ok || u.bad) return -1;
    } while (!last);
    // The bits left in the last byte are padding; then CRC-32 and length,
    // and nothing after them.
    if (u.n - u.at != 8 || Le32(in + u.at) != Crc32(out, u.got) || Le32(in + u.at + 4) != (unsigned)u.got)
        return -1;
    return (long long)u.got;
}
