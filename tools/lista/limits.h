// What a launcher reads, which lista never publishes past: the update run
// takes a manifest of at most MaxManifest bytes and MaxEntries entries (and
// refuses a longer one whole), skips names longer than MaxName bytes, and
// counts each file's size in 32 bits (update/manifest.h). Every check of
// lista and of 'lista verify' uses these, and --help and the README say them.
#pragma once
#include <cstddef>
#include <cstdint>

const size_t MaxManifest = 16 << 20;
const size_t MaxEntries = 100000;
const size_t MaxName = 199;
const uintmax_t MaxSize = 0xFFFFFFFF;

// A release serial has at most 19 decimal digits (so it fits 64 bits); one of
// 19 digits leaves later releases almost no room above it, so lista takes one
// only with --force.
const unsigned long long MaxSerial = 9999999999999999999ULL;
const unsigned long long RoomySerial = 999999999999999999ULL;

// The signature file as launchers read it: at most this many bytes.
const size_t MaxSignature = 511;

// Files from MapMinDefault bytes on get a chunk map unless --map-min says
// otherwise; launchers never ask for the map of a file under MapMinLeast.
const uint64_t MapMinDefault = 4 << 20;
const uint64_t MapMinLeast = 1 << 20;
