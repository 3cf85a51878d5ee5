// Gzip, as a web server sends a document it keeps compressed (RFC 1952 around
// RFC 1951's deflate). Plain C++ with no platform calls. WinINet can unpack
// answers itself, but it takes a compressed body cut short (a dropped
// connection, a truncated file) for a whole one, without a word; here the
// member's own check value and length decide.
#pragma once
#include <stddef.h>

// Unpacks the one gzip member that in (n bytes) holds into out, at most cap
// bytes: their count, or -1 when in is not exactly one whole and intact
// member (another format, damaged or cut data, a CRC-32 or length that does
// not match what it unpacks to, anything behind it) or what it holds does
// not fit cap. out may have been written either way.
long long Gunzip(const unsigned char *in, size_t n, unsigned char *out, size_t cap);
