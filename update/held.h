// Which chunks of a file's new version the player's old copy holds, and
// where: the chunk map taken from the site (update/chunkmap.h) and the old
// copy read chunk by chunk with the same cuts (update/chunker.h). The plan
// of a delta download (update/delta.h).
//
// The tables come from the heap, once per run (DeltaReserve), for one file
// at a time: 40 bytes for each ChunkMin bytes of the largest file that may
// need them (2.5 MiB a GiB; at most 10 MiB, for 4 GiB), and two read buffers
// of ScanLen bytes.
#pragma once
#include <windows.h>

#include <stddef.h>
#include <stdint.h>

#include "update/chunkmap.h"

enum { ScanLen = 1 << 20 };

// Reserves the tables for files of up to largest bytes; 0 when the memory
// cannot be had (every file is then fetched whole). DeltaRelease frees them.
int DeltaReserve(uint64_t largest);
void DeltaRelease();

// Takes the n bytes of map as the chunk map of the entry's new version:
// 1 when it is a map of this version, of a file of the entry's size and MD5,
// with no more chunks than the chunker can make of that size (one per
// ChunkMin bytes; which bounds a map at about 1/800 of its file) and that
// fits the reserved tables. 0 otherwise; there is then no map.
int TakeMap(const unsigned char *map, size_t n, uint64_t size, const char *md5);

// The map's address: the site's "/update/maps/" and the lowercase MD5 with
// ".map" (its own folder, immutable: a new file has a new name).
int MapUrl(wchar_t *url, int cap, const char *md5);

// Reads the local file at path chunk by chunk and notes, for each chunk of
// the map, where the file holds the same bytes (at any offset). Returns the
// bytes of the new file it holds, -1 when it cannot be read. A file of
// DeltaSplit bytes or more is read by this thread and one more, a half each.
int64_t IndexLocal(const wchar_t *path);
extern uint64_t DeltaSplit;  // 64 MiB; tests lower it

// Chunk i of the map: its offset in the new file, its length, and where the
// local file holds it (HeldNowhere when it does not). Valid after IndexLocal.
enum : uint64_t { HeldNowhere = ~0ULL };
uint32_t MapChunks();
void MapChunk(uint32_t i, uint64_t *at, uint32_t *len, uint64_t *from);

// The first span of the new file from offset at on that the local file does
// not hold, adjacent missing chunks joined: [*from, *to). 0 when none is left.
int NextMissing(uint64_t at, uint64_t *from, uint64_t *to);

// The chunk that holds offset at of the new file.
uint32_t ChunkAt(uint64_t at);

// The reserved buffer to fetch the map of a file of size bytes into, and in
// *cap the most it may take (one byte more than the largest map the chunker
// can make of that size, within the tables); null when nothing is reserved.
unsigned char *MapRoom(uint64_t size, size_t *cap);

// One of the two read buffers of ScanLen bytes (half 0 or 1). IndexLocal
// uses both; a build copies through 0 while its check reads through 1.
unsigned char *ScanRoom(int half);

// Opens the old copy at path for reading, as a game may still have it open.
HANDLE OpenLocal(const wchar_t *path);
