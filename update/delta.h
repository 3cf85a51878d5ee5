// Delta downloads: a listed file that the player has in another version is
// built from the chunks of the new version that the old copy already holds,
// and only the rest is fetched, with Range requests, from the file's own
// address. Which chunks make the new file comes from its chunk map
// (update/chunkmap.h), fetched from the site; the map is only a hint: the
// file is placed only when its whole MD5 is the manifest's.
//
// The tables of a delta come from the heap, once per run (DeltaReserve), for
// one delta at a time (a lane that comes to another waits for it): 40 bytes for each ChunkMin bytes of the largest file
// that may need one (2.5 MiB a GiB; at most 10 MiB, for 4 GiB), and two read
// buffers of ScanLen bytes.
#pragma once
#include <stdint.h>

#include "update/chunkmap.h"
#include "update/manifest.h"

// Brings entry e's new version into temp (its "X.novo") from the player's
// copy at path and the site: the file's chunk map is fetched, the chunks the
// copy holds are copied from it and the others fetched from url with Range
// requests (adjacent ones in one), in file order, then the whole file is
// checked against e's MD5. A partial in temp whose record belongs to e is
// built on. A range lost on the way is asked again from where it stopped (as
// Download does, net/retry.h); a server that answers a range with the whole
// file (200) gets it saved whole. GotNoDelta, with temp as it was or
// deleted, when no delta can be made or it went wrong: a file smaller than
// DeltaMin, no copy at path or one of less than half its size, no usable map
// (missing, damaged, of another version or file, too large), a copy that
// holds less than half of the new file, a range answered with other bytes
// than asked, a file that does not have e's MD5. Otherwise what Download
// returns, and *size the bytes that came from the site (or were there). It
// runs on lane (its transfer buffer, its share of the status line and the
// progress, as Download does: update/lanes.h).
int Delta(int lane, const ManifestEntry *e, const wchar_t *url, const wchar_t *path, const wchar_t *temp,
          const wchar_t *name, unsigned long long *size);

enum : uint64_t {
    // Smaller files are always fetched whole: a map's round trip would cost
    // about what a delta could save. lista writes maps from 4 MiB on by
    // default, and never below this.
    DeltaMin = 1 << 20,
};
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
