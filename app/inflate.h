// Inflating deflate data (RFC 1951): the zlib streams (RFC 1950) of PNG
// images, in which the launcher keeps its own art, and the gzip members
// (RFC 1952, net/gzip.h) in which a web server may send the manifest.
#pragma once
#include <stddef.h>

// Inflates the zlib stream in in[0, inSize) into out[0, outSize). True when
// the stream is whole and sound, fills out exactly and its Adler-32 matches;
// false for anything else (damage, a stream cut short, one that makes more or
// fewer bytes). Never reads or writes outside the two buffers, and ends in
// time proportional to their sizes.
bool Inflate(const unsigned char *in, size_t inSize, unsigned char *out, size_t outSize);

// Inflates the raw deflate data at the start of in[0, inSize) into
// out[0, outSize). True when its last block ends within in and what it makes
// fits out: *made is then how many bytes it made, *used how many bytes of in
// it took (the unused bits of its last byte are padding). False for damaged
// data, data cut short, or more than fits. The same bounds as Inflate's.
bool InflateRaw(const unsigned char *in, size_t inSize, unsigned char *out, size_t outSize, size_t *used,
                size_t *made);
