// Chunk maps: what lista publishes beside a large file ("update/maps/<md5>.map",
// named by the file's MD5) so that a launcher with an older copy can find the
// pieces it already holds. Little-endian binary:
//
//   offset  bytes  field
//   0       4      "VMAP"
//   4       4      version, 1
//   8       8      the file's size
//   16     16      the file's MD5
//   32      4      the number of chunks, at most MapChunkMax
//   36     16      the MD5 of everything from offset 52 to the end
//   52     20 each the chunks in file order: length (4), MD5 of the chunk (16)
//
// The chunks are those of update/chunker.h; their lengths add up to the file's
// size. Plain C++ with no platform calls (lista and the launcher hash with
// their own libraries and pass the function in).
#pragma once
#include <stddef.h>
#include <stdint.h>

enum : uint32_t {
    MapVersion = 1,
    MapHeadLen = 52,
    MapRecLen = 20,
    // A file of 4 GiB cut into chunks of ChunkMin: no map of ours has more.
    MapChunkMax = 262144,
};

// MD5 of n bytes into out; 0 when the library fails.
typedef int (*MapMd5)(const void *data, size_t n, unsigned char out[16]);

struct MapView {
    uint64_t size;
    unsigned char md5[16];
    uint32_t count;
    const unsigned char *rec;  // count records of MapRecLen bytes
};

enum MapFault {
    MapOk = 0,
    MapNotMap,    // too short, or another magic
    MapOtherVersion,
    MapBadCount,  // a count above MapChunkMax or that the length disagrees with
    MapDamaged,   // the records do not have their MD5
    MapBadChunks, // a length of 0 or above ChunkMax, or lengths that do not add up to the size
    MapNoHash,    // the hash function failed
};

// Checks the n bytes of map and, on MapOk, describes them in v (which points
// into map). Says nothing about which file the map belongs to: the caller
// compares v->size and v->md5 with what it expects.
MapFault ReadMap(const unsigned char *map, size_t n, MapView *v, MapMd5 md5);

uint32_t ChunkLenAt(const MapView *v, uint32_t i);
const unsigned char *ChunkMd5At(const MapView *v, uint32_t i);

// One record: len and the chunk's MD5 into out.
void PutChunk(unsigned char out[MapRecLen], uint32_t len, const unsigned char md5[16]);
// The header of a map whose records (count of them) are at rec, which follow
// it: out must be the map's first MapHeadLen bytes. 0 when md5 fails.
int PutMapHead(unsigned char out[MapHeadLen], uint64_t size, const unsigned char fileMd5[16], uint32_t count,
               MapMd5 md5);

// The n bytes that 2n hexadecimal digits (either case) at hex say, the text
// ending there; 0 when it is not that.
int HexBytes(const char *hex, unsigned char *out, int n);
// The 16 bytes of a 32-digit hex MD5; 0 when it is not one.
int Md5Bytes(const char *hex, unsigned char out[16]);
