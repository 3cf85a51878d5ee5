#include "app/picture.h"

#include <string.h>

#include "app/inflate.h"

// ---- Decoding ------------------------------------------------------------------
// The art's PNG images are decoded here rather than by the Windows Imaging
// Component: under Wine its set-up alone (COM, the codec's libraries) costs
// more than all the decoding at start-up, and the art is only ever our own
// PNG images: 8 bits a sample, grey, RGB or RGBA, not interlaced.

static unsigned Be32(const BYTE *p) { return (unsigned)p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

enum { PixelBytesMax = 64 << 20 };

// A PNG's header and compressed data.
struct Png {
    int w, h, channels;
    const BYTE *data;  // its IDAT data, one stream (the art's images have a single IDAT chunk)
    size_t size;
};

static bool Parse(const BYTE *d, size_t n, Png *png) {
    static const BYTE signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (n < 8 || memcmp(d, signature, 8)) return false;
    *png = Png();
    bool header = false;
    for (size_t at = 8; n - at >= 12;) {
        size_t len = Be32(d + at);
        const BYTE *type = d + at + 4, *body = d + at + 8;
        if (len > n - at - 12) return false;
        if (!memcmp(type, "IHDR", 4) && len == 13) {
            static const int channels[7] = {1, 0, 3, 0, 2, 0, 4};  // by colour type: grey, RGB, RGBA
            png->w = (int)Be32(body);
            png->h = (int)Be32(body + 4);
            png->channels = body[9] <= 6 ? channels[body[9]] : 0;
            // 8 bits a sample, deflate, the standard filters, no interlacing; no grey with alpha.
            header = body[8] == 8 && body[9] != 4 && body[10] == 0 && body[11] == 0 && body[12] == 0;
        } else if (!memcmp(type, "IDAT", 4)) {
            if (png->data) return false;  // a second IDAT: not one of ours
            png->data = body;
            png->size = len;
        } else if (!memcmp(type, "IEND", 4)) {
            break;
        }
        at += len + 12;
    }
    // At most 64 MiB of samples: the 32-bit build counts them in 32 bits.
    return header && png->data && png->channels && png->w > 0 && png->h > 0 &&
           (unsigned long long)png->w * png->h * png->channels <= PixelBytesMax;
}

// The predictor of the left (a), upper (b) and upper left (c) samples that
// is nearest a + b - c; the distances worked out without forming it.
static inline int Paeth(int a, int b, int c) {
    int pa = b - c, pb = a - c, pc = pa + pb;
    pa = pa < 0 ? -pa : pa;
    pb = pb < 0 ? -pb : pb;
    pc = pc < 0 ? -pc : pc;
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Undoes row's filter (PNG 9.2) in place, prev being the row above undone
// (zeros for the first); false for an unknown filter. Each sample depends on
// the one a pixel left, but a pixel's samples do not on each other: worked a
// pixel at a time, their chains run side by side.
template <int Bpp> static bool Unfilter(BYTE filter, BYTE *row, const BYTE *prev, size_t n) {
    switch (filter) {
    case 0: return true;
    case 1:
        for (size_t i = Bpp; i < n; i++) row[i] = (BYTE)(row[i] + row[i - Bpp]);
        return true;
    case 2:
        for (size_t i = 0; i < n; i++) row[i] = (BYTE)(row[i] + prev[i]);
        return true;
    case 3:
        for (size_t i = 0; i < Bpp; i++) row[i] = (BYTE)(row[i] + prev[i] / 2);
        for (size_t i = Bpp; i < n; i++) row[i] = (BYTE)(row[i] + (row[i - Bpp] + prev[i]) / 2);
        return true;
    case 4: {
        int a[Bpp], c[Bpp];
        for (int k = 0; k < Bpp; k++) {
            a[k] = row[k] = (BYTE)(row[k] + prev[k]);
            c[k] = prev[k];
        }
        for (size_t i = Bpp; i < n; i += Bpp)
            for (int k = 0; k < Bpp; k++) {
                int b = prev[i + k];
                a[k] = row[i + k] = (BYTE)(row[i + k] + Paeth(a[k], b, c[k]));
                c[k] = b;
            }
        return true;
    }
    }
    return false;
}

static bool Unfilter(BYTE filter, BYTE *row, const BYTE *prev, size_t n, int bpp) {
    return bpp == 4 ? Unfilter<4>(filter, row, prev, n) : bpp == 3 ? Unfilter<3>(filter, row, prev, n)
                                                                   : Unfilter<1>(filter, row, prev, n);
}

// The PNG's rows inflated and unfiltered, each handed to put(row, y) as its
// samples (grey, or red, green, blue and alpha when it has them).
template <typename Put> static bool Rows(const Png &png, Put put) {
    size_t stride = (size_t)png.w * png.channels, size = (stride + 1) * png.h;
    BYTE *raw = (BYTE *)VirtualAlloc(0, size + stride, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!raw) return false;
    BYTE *zeros = raw + size;  // the row above the first: the allocation comes zeroed
    bool ok = Inflate(png.data, png.size, raw, size);
    for (int y = 0; ok && y < png.h; y++) {
        BYTE *row = raw + y * (stride + 1);
        ok = Unfilter(row[0], row + 1, y ? row - stride : zeros, stride, png.channels);
        if (ok) put(row + 1, y);
    }
    VirtualFree(raw, 0, MEM_RELEASE);
    return ok;
}

HBITMAP NewDib(int w, int h, BYTE **bits) {
    if (w <= 0 || h <= 0) return 0;
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;  // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void *p = 0;
    HBITMAP bmp = CreateDIBSection(0, &bi, DIB_RGB_COLORS, &p, 0, 0);
    if (bmp && !p) {
        DeleteObject(bmp);
        bmp = 0;
    }
    *bits = (BYTE *)p;
    return bmp;
}

bool PngSize(const void *data, DWORD size, int *w, int *h) {
    Png png;
    if (!Parse((const BYTE *)data, size, &png) || png.channels == 1) return false;
    *w = png.w;
    *h = png.h;
    return true;
}

HBITMAP DecodePng(const void *data, DWORD size, int *w, int *h, BYTE **bits) {
    Png png;
    if (!Parse((const BYTE *)data, size, &png) || png.channels == 1) return 0;
    HBITMAP bmp = NewDib(png.w, png.h, bits);
    if (!bmp) return 0;
    BYTE *out = *bits;
    bool ok = Rows(png, [&](const BYTE *row, int y) {
        BYTE *px = out + (size_t)y * png.w * 4;
        for (int x = 0; x < png.w; x++, px += 4, row += png.channels) {
            px[0] = row[2];
            px[1] = row[1];
            px[2] = row[0];
            px[3] = png.channels == 4 ? row[3] : 255;
        }
    });
    if (!ok) {
        DeleteObject(bmp);
        return 0;
    }
    *w = png.w;
    *h = png.h;
    return bmp;
}

DWORD DecodeGrey(const void *data, DWORD size, BYTE *out, DWORD cap) {
    Png png;
    if (!Parse((const BYTE *)data, size, &png) || png.channels != 1 || (unsigned long long)png.w * png.h > cap)
        return 0;
    return Rows(png, [&](const BYTE *row, int y) { memcpy(out + (size_t)y * png.w, row, png.w); })
               ? (DWORD)png.w * png.h
               : 0;
}

// ---- Resampling ------------------------------------------------------------------

enum { One = 1 << 14, MaxTaps = 4 };
typedef ResampleSpace::Taps Taps;

// Output pixel o of dn from sn source pixels. Smaller: the source pixels its
// area [o, o + 1) * sn / dn overlaps, each by the length it overlaps. Larger
// or the same: its centre's two nearest source pixels, linearly.
static Taps TapsFor(int o, int sn, int dn) {
    Taps t = {};
    if (dn < sn) {
        // In units of 1 / dn of a source pixel: the area runs from o * sn to (o + 1) * sn.
        long long from = (long long)o * sn, to = from + sn;
        t.first = (int)(from / dn);
        unsigned left = One;
        for (int i = t.first; i < sn && (long long)i * dn < to && t.n < MaxTaps; i++) {
            long long a = from > (long long)i * dn ? from : (long long)i * dn;
            long long b = to < (long long)(i + 1) * dn ? to : (long long)(i + 1) * dn;
            unsigned w = (unsigned)((b - a) * One / sn);
            t.w[t.n++] = w < left ? w : left;
            left -= t.w[t.n - 1];
        }
        t.w[t.n - 1] += left;  // what the truncation left over
        return t;
    }
    // The centre of o, (o + 1/2) * sn / dn - 1/2, in units of 1 / (2 dn).
    long long c = (long long)(2 * o + 1) * sn - dn;
    if (c < 0) c = 0;
    t.first = (int)(c / (2 * dn));
    unsigned part = (unsigned)(c % (2 * dn) * One / (2 * dn));
    if (t.first >= sn - 1) {
        t.first = sn - 1;
        part = 0;
    }
    t.n = part ? 2 : 1;
    t.w[0] = One - part;
    t.w[1] = part;
    return t;
}

static void ResampleRow(const Taps *cols, const BYTE *row, int dw, unsigned short *out) {
    for (int x = 0; x < dw; x++) {
        const Taps &t = cols[x];
        const BYTE *p = row + t.first * 4;
        for (int c = 0; c < 4; c++) {
            unsigned sum = 32;
            for (int k = 0; k < t.n; k++) sum += t.w[k] * p[k * 4 + c];
            out[x * 4 + c] = (unsigned short)(sum >> 6);
        }
    }
}

bool Resample(ResampleSpace *space, const BYTE *src, int sw, int sh, int stride, BYTE *dst, int dw, int dh) {
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0 || sw > SideMax || sh > SideMax || dw > SideMax ||
        dh > SideMax || sw > 3 * dw || sh > 3 * dh)
        return false;
    for (int x = 0; x < dw; x++) space->cols[x] = TapsFor(x, sw, dw);
    for (int k = 0; k < MaxTaps; k++) space->acrossRow[k] = -1;
    for (int y = 0; y < dh; y++) {
        Taps t = TapsFor(y, sh, dh);
        const unsigned short *rows[MaxTaps];
        for (int k = 0; k < t.n; k++) {
            // The rows a destination row needs only move down: a slot is
            // taken again only by a row four further on.
            int sy = t.first + k, slot = sy % MaxTaps;
            if (space->acrossRow[slot] != sy) {
                ResampleRow(space->cols, src + (size_t)sy * stride, dw, space->across[slot]);
                space->acrossRow[slot] = sy;
            }
            rows[k] = space->across[slot];
        }
        BYTE *out = dst + (size_t)y * dw * 4;
        for (int i = 0; i < dw * 4; i++) {
            unsigned sum = 1u << 21;
            for (int k = 0; k < t.n; k++) sum += t.w[k] * rows[k][i];
            out[i] = (BYTE)(sum >> 22);
        }
    }
    return true;
}
