#include "update/chunkmap.h"

#include <string.h>

#include "update/chunker.h"

static const unsigned char Magic[4] = {'V', 'M', 'A', 'P'};

static uint32_t Get32(const unsigned char *p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static void Put32(unsigned char *p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = (unsigned char)(v >> 8 * i);
}

MapFault ReadMap(const unsigned char *map, size_t n, MapView *v, MapMd5 md5) {
    if (n < MapHeadLen || memcmp(map, Magic, 4)) return MapNotMap;
    if (Get32(map + 4) != MapVersion) return MapOtherVersion;
    v->size = Get32(map + 8) | (uint64_t)Get32(map + 12) << 32;
    memcpy(v->md5, map + 16, 16);
    v->count = Get32(map + 32);
    v->rec = map + MapHeadLen;
    if (v->count > MapChunkMax || n - MapHeadLen != (size_t)v->count * MapRecLen) return MapBadCount;
    unsigned char sum[16];
    if (!md5(v->rec, n - MapHeadLen, sum)) return MapNoHash;
    if (memcmp(sum, map + 36, 16)) return MapDamaged;
    uint64_t total = 0;
    for (uint32_t i = 0; i < v->count; i++) {
        uint32_t len = ChunkLenAt(v, i);
        if (!len || len > ChunkMax) return MapBadChunks;
        total += len;
    }
    return total == v->size ? MapOk : MapBadChunks;
}

uint32_t ChunkLenAt(const MapView *v, uint32_t i) { return Get32(v->rec + (size_t)i * MapRecLen); }

const unsigned char *ChunkMd5At(const MapView *v, uint32_t i) { return v->rec + (size_t)i * MapRecLen + 4; }

void PutChunk(unsigned char out[MapRecLen], uint32_t len, const unsigned char md5[16]) {
    Put32(out, len);
    memcpy(out + 4, md5, 16);
}

int PutMapHead(unsigned char out[MapHeadLen], uint64_t size, const unsigned char fileMd5[16], uint32_t count,
               MapMd5 md5) {
    memcpy(out, Magic, 4);
    Put32(out + 4, MapVersion);
    Put32(out + 8, (uint32_t)size);
    Put32(out + 12, (uint32_t)(size >> 32));
    memcpy(out + 16, fileMd5, 16);
    Put32(out + 32, count);
    return md5(out + MapHeadLen, (size_t)count * MapRecLen, out + 36);
}

int HexBytes(const char *hex, unsigned char *out, int n) {
    for (int i = 0; i < 2 * n; i++) {
        char c = hex[i];
        int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0) return 0;
        if (i % 2) out[i / 2] = (unsigned char)(out[i / 2] << 4 | d);
        else out[i / 2] = (unsigned char)d;
    }
    return hex[2 * n] == 0;
}

int Md5Bytes(const char *hex, unsigned char out[16]) { return HexBytes(hex, out, 16); }
