// Content-defined chunks: where a file is cut into the pieces of its chunk
// map. lista cuts the files it publishes and the launcher its old copies with
// this same code, so that equal bytes give equal chunks on both sides. Plain
// C++ with no platform calls: it builds into the launcher, lista and lista.exe.
//
// A cut falls where a rolling hash of the last 64 bytes meets a condition, so
// it depends on the content around it and on nothing before the chunk's
// start: bytes inserted or removed early in a file move the later cuts with
// their content, and the later chunks keep their length and hash. Chunks are
// ChunkMin to ChunkMax bytes, about 64 KiB on average (the last may be
// shorter); a cut is unlikely before ChunkNormal and likely soon after, which
// keeps most chunks near the average.
#pragma once
#include <stddef.h>
#include <stdint.h>

enum : uint32_t {
    ChunkMin = 16384,
    ChunkNormal = 45056,  // 44 KiB: with the two conditions, a mean of about 66 KiB
    ChunkMax = 262144,
};

// The length of the chunk that starts at data[0]. n is the number of bytes
// there: at least ChunkMax, or all that is left of the file.
uint32_t ChunkLen(const unsigned char *data, size_t n);

// Reads a stream chunk by chunk through the caller's buffer.
typedef long (*ChunkRead)(void *src, unsigned char *to, size_t n);  // bytes read; 0 at the end, < 0 failed

struct ChunkScan {
    unsigned char *buf;  // the caller's buffer, at least 2 * ChunkMax bytes
    size_t cap;
    size_t at, end;      // bytes read but not yet cut: buf[at..end)
    int eof;             // the stream has no more
    uint64_t offset;     // the stream offset of buf[at]
    ChunkRead read;
    void *src;
};

// Starts a scan of src (read by read) with buf of cap bytes.
void ScanStart(ChunkScan *s, unsigned char *buf, size_t cap, ChunkRead read, void *src);

// The next chunk: its bytes (*data, valid until the next call), length and
// offset in the stream. 1; 0 when the stream has ended; -1 when a read failed.
int NextChunk(ChunkScan *s, const unsigned char **data, uint32_t *len, uint64_t *at);
