#include "update/chunker.h"

#include <string.h>

namespace {

// The rolling hash: h = 2h + Gear[byte] over 64-bit words. Each step shifts
// older bytes one bit further out, so h depends on the last 64 bytes only,
// and its top bits, which the cut conditions test, on all 64 of them.
struct GearTable {
    uint64_t v[256];
};

// 256 fixed pseudo-random words from a fixed seed (the SplitMix64 sequence),
// made by the compiler: the table is part of the map format, and every
// build must have the very same one.
constexpr GearTable MakeGear() {
    GearTable t{};
    uint64_t s = 0x56656C6D6F7261ULL;  // "Velmora"
    for (int i = 0; i < 256; i++) {
        s += 0x9E3779B97F4A7C15ULL;
        uint64_t z = s;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        t.v[i] = z ^ (z >> 31);
    }
    return t;
}

constexpr GearTable Gear = MakeGear();

// A cut where the top 17 bits of h are zero (one in 131,072) up to
// ChunkNormal, and where the top 15 are (one in 32,768) after it. Stricter
// pairs keep chunk lengths closer to the mean but make the cuts after an edit
// slower to fall back into step with the old ones; this one costs least for a
// rewritten range (its chunks and the two around it).
const uint64_t Hard = ~0ULL << 47, Easy = ~0ULL << 49;
const uint32_t Window = 64;

}  // namespace

uint32_t ChunkLen(const unsigned char *data, size_t n) {
    if (n <= ChunkMin) return (uint32_t)n;
    uint32_t limit = n < ChunkMax ? (uint32_t)n : ChunkMax;
    uint32_t normal = limit < ChunkNormal ? limit : ChunkNormal;
    // No cut before ChunkMin: the hash starts a window before it, which gives
    // the value it would have had from the chunk's start.
    uint64_t h = 0;
    uint32_t i = ChunkMin - Window;
    for (; i < ChunkMin; i++) h = (h << 1) + Gear.v[data[i]];
    for (; i < normal; i++) {
        h = (h << 1) + Gear.v[data[i]];
        if (!(h & Hard)) return i + 1;
    }
    for (; i < limit; i++) {
        h = (h << 1) + Gear.v[data[i]];
        if (!(h & Easy)) return i + 1;
    }
    return limit;
}

void ScanStart(ChunkScan *s, unsigned char *buf, size_t cap, ChunkRead read, void *src) {
    s->buf = buf;
    s->cap = cap;
    s->at = s->end = 0;
    s->eof = 0;
    s->offset = 0;
    s->read = read;
    s->src = src;
}

int NextChunk(ChunkScan *s, const unsigned char **data, uint32_t *len, uint64_t *at) {
    // A cut needs ChunkMax bytes ahead, or the stream's end.
    if (s->end - s->at < ChunkMax && !s->eof) {
        memmove(s->buf, s->buf + s->at, s->end - s->at);
        s->end -= s->at;
        s->at = 0;
        // Until a cut can be made: a source that hands over what it has
        // (another thread's pieces) is cut as soon as there is enough.
        while (s->end < ChunkMax) {
            long n = s->read(s->src, s->buf + s->end, s->cap - s->end);
            if (n < 0) return -1;
            if (!n) {
                s->eof = 1;
                break;
            }
            s->end += (size_t)n;
        }
    }
    if (s->at == s->end) return 0;
    *data = s->buf + s->at;
    *len = ChunkLen(*data, s->end - s->at);
    *at = s->offset;
    s->at += *len;
    s->offset += *len;
    return 1;
}
