// The art's pictures: PNG images decoded (the art's kind: 8 bits a sample,
// grey, RGB or RGBA, one IDAT chunk, not interlaced), and pictures resampled
// to another size.
#pragma once
#include <windows.h>

// Decodes the RGB or RGBA PNG in data into a new 32-bit top-down DIB section,
// its pixels blue, green, red and alpha bytes as the image holds them (255
// for alpha when it has none); *bits gets the section's pixels, *w and *h its
// size. Null when data is no such PNG or does not decode whole.
HBITMAP DecodePng(const void *data, DWORD size, int *w, int *h, BYTE **bits);

// The size of the PNG in data, from its header alone; false when data is
// no PNG of the kind DecodePng decodes.
bool PngSize(const void *data, DWORD size, int *w, int *h);

// Decodes a PNG of 8-bit grey pixels into out, row after row; the number of
// pixels, or 0 when data is no such PNG, does not decode whole, or its pixels
// would not fit cap.
DWORD DecodeGrey(const void *data, DWORD size, BYTE *out, DWORD cap);

// A new 32-bit top-down DIB section of w x h (zeros); null when w or h is not
// positive or memory is short.
HBITMAP NewDib(int w, int h, BYTE **bits);

// The largest side Resample takes.
enum { SideMax = 4608 };

// What Resample works in: one for each thread that resamples at the same time.
// A destination pixel's sources along one axis are n source pixels from first
// on, with weights that add up to 1 << 14; a destination row blends at most 4
// source rows, each resampled across once, in 1/256 of a byte's unit.
struct ResampleSpace {
    struct Taps {
        int first, n;
        unsigned w[4];
    } cols[SideMax];
    unsigned short across[4][SideMax * 4];
    int acrossRow[4];
};

// src (sw x sh 32-bit pixels, rows stride bytes apart) resampled into dst
// (dw x dh, rows without padding), each of the four bytes of a pixel on its
// own: made smaller, every pixel of dst is the average of the area of src it
// covers (a box filter); made larger, the linear blend of its two nearest
// pixels on each axis. Premultiplied pixels stay premultiplied (no colour
// byte above its alpha). False, with dst untouched, when a side exceeds
// SideMax or shrinks to less than a third.
bool Resample(ResampleSpace *space, const BYTE *src, int sw, int sh, int stride, BYTE *dst, int dw, int dh);
