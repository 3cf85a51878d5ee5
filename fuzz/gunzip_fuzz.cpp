// Gunzip, and the Inflate of zlib streams that shares its deflate, under
// libFuzzer and the sanitizers, checked against zlib, the reference every web
// server's gzip and every PNG writer come from: for any input taken as a gzip
// member or a zlib stream, both accept the same inputs and unpack them to the
// same bytes; an input that is compressed first (at the level its first byte
// picks) comes back whole; and no output ever goes past the room it is given.
#include <zlib.h>

#include "check.h"
#include "app/inflate.h"
#include "net/gzip.h"

namespace {

// zlib's verdict on in as one whole gzip member: the bytes it unpacks to, or
// false.
// With zlib 1, in as a zlib stream, which may have bytes behind it.
bool Reference(const uint8_t *in, size_t n, std::vector<uint8_t> &out, bool zlib = false) {
    z_stream z = {};
    if (inflateInit2(&z, zlib ? 15 : 15 + 16) != Z_OK) return false;
    z.next_in = (Bytef *)in;
    z.avail_in = (uInt)n;
    uint8_t buf[65536];
    int r;
    do {
        z.next_out = buf;
        z.avail_out = sizeof buf;
        r = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), buf, buf + (sizeof buf - z.avail_out));
    } while (r == Z_OK && out.size() < (64u << 20));
    bool whole = r == Z_STREAM_END && (zlib || z.avail_in == 0);
    inflateEnd(&z);
    return whole;
}

void Compare(const uint8_t *in, size_t n, size_t room) {
    std::vector<uint8_t> want;
    bool ok = Reference(in, n, want);
    // The exact room, one byte less, and plenty.
    for (size_t cap : {want.size(), want.size() ? want.size() - 1 : 0, room}) {
        uint8_t *out = (uint8_t *)malloc(cap ? cap : 1);
        long long got = Gunzip(in, n, out, cap);
        if (!ok || want.size() > cap) {
            CHECK(got == -1);
        } else {
            CHECK(got == (long long)want.size());
            CHECK(want.empty() || !memcmp(out, want.data(), want.size()));
        }
        free(out);
    }
    // The same bytes as a zlib stream, at the exact size the art knows.
    want.clear();
    ok = Reference(in, n, want, true);
    if (want.size() > room) return;
    uint8_t *out = (uint8_t *)malloc(want.size() + 1);
    CHECK(Inflate(in, n, out, want.size()) == ok);
    if (ok) CHECK(want.empty() || !memcmp(out, want.data(), want.size()));
    if (ok) CHECK(!Inflate(in, n, out, want.size() + 1));
    free(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Compare(data, size, 4 * size + 4096);
    if (size < 2) return 0;
    // The rest compressed, at a level and with a strategy the first byte picks.
    static const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
    z_stream z = {};
    // A gzip member, or a zlib stream as PNG holds, as the last byte picks.
    bool zlib = data[size - 1] & 1;
    if (deflateInit2(&z, data[0] % 10, Z_DEFLATED, zlib ? 15 : 15 + 16, 8, strategies[(data[0] / 10) % 5]) != Z_OK)
        return 0;
    std::vector<uint8_t> gz(deflateBound(&z, size) + 64);
    z.next_in = (Bytef *)data + 1;
    z.avail_in = (uInt)(size - 1);
    z.next_out = gz.data();
    z.avail_out = (uInt)gz.size();
    CHECK(deflate(&z, Z_FINISH) == Z_STREAM_END);
    gz.resize(z.total_out);
    deflateEnd(&z);
    uint8_t *out = (uint8_t *)malloc(size);
    if (zlib)
        CHECK(Inflate(gz.data(), gz.size(), out, size - 1));
    else
        CHECK(Gunzip(gz.data(), gz.size(), out, size - 1) == (long long)(size - 1));
    CHECK(!memcmp(out, data + 1, size - 1));
    free(out);
    // The same member cut short, and with one bit of it flipped.
    Compare(gz.data(), gz.size() - 1 - data[0] % gz.size(), size);
    gz[data[size - 1] % gz.size()] ^= (uint8_t)(1 << (data[0] & 7));
    Compare(gz.data(), gz.size(), size + 4096);
    return 0;
}
