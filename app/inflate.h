// Inflating a zlib stream (RFC 1950 around deflate, RFC 1951): what PNG
// images hold. The launcher decodes its own art with it.
#pragma once
#include <stddef.h>

// Inflates the zlib stream in in[0, inSize) into out[0, outSize). True when
// the stream is whole and sound, fills out exactly and its Adler-32 matches;
// false for anything else (damage, a stream cut short, one that makes more or
// fewer bytes). Never reads or writes outside the two buffers, and ends in
// time proportional to their sizes.
bool Inflate(const unsigned char *in, size_t inSize, unsigned char *out, size_t outSize);
