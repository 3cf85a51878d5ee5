#include "app/picture.h"

#include <wincodec.h>

// ---- Decoding ------------------------------------------------------------------

IWICImagingFactory *BeginPictures() {
    // The multithreaded apartment: joining it costs nothing, where a
    // single-threaded one makes a window and a message queue first.
    if (FAILED(CoInitializeEx(0, COINIT_MULTITHREADED))) return 0;
    IWICImagingFactory *wic = 0;
    // The first factory's class: the second's exists only from Windows 8 on.
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory1, 0, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                (void **)&wic))) {
        CoUninitialize();
        return 0;
    }
    return wic;
}

void EndPictures(IWICImagingFactory *wic) {
    if (!wic) return;
    wic->Release();
    CoUninitialize();
}

// The first frame of the PNG in data converted to format, and the objects
// behind it, released together by Close.
struct Png {
    IWICStream *stream = 0;
    IWICBitmapDecoder *decoder = 0;
    IWICBitmapFrameDecode *frame = 0;
    IWICFormatConverter *pixels = 0;
    UINT w = 0, h = 0;

    bool Open(IWICImagingFactory *wic, const void *data, DWORD size, REFWICPixelFormatGUID format) {
        return wic && SUCCEEDED(wic->CreateStream(&stream)) &&
               SUCCEEDED(stream->InitializeFromMemory((BYTE *)data, size)) &&
               SUCCEEDED(wic->CreateDecoder(GUID_ContainerFormatPng, 0, &decoder)) &&
               SUCCEEDED(decoder->Initialize(stream, WICDecodeMetadataCacheOnDemand)) &&
               SUCCEEDED(decoder->GetFrame(0, &frame)) && SUCCEEDED(wic->CreateFormatConverter(&pixels)) &&
               SUCCEEDED(pixels->Initialize(frame, format, WICBitmapDitherTypeNone, 0, 0,
                                            WICBitmapPaletteTypeCustom)) &&
               SUCCEEDED(pixels->GetSize(&w, &h)) && w > 0 && h > 0 && w <= 32768 && h <= 32768;
    }
    bool Read(BYTE *out, UINT stride) {
        return SUCCEEDED(pixels->CopyPixels(0, stride, stride * h, out));
    }
    ~Png() {
        if (pixels) pixels->Release();
        if (frame) frame->Release();
        if (decoder) decoder->Release();
        if (stream) stream->Release();
    }
};

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

HBITMAP DecodePng(IWICImagingFactory *wic, const void *data, DWORD size, int *w, int *h, BYTE **bits) {
    Png png;
    if (!png.Open(wic, data, size, GUID_WICPixelFormat32bppBGRA)) return 0;
    HBITMAP bmp = NewDib((int)png.w, (int)png.h, bits);
    if (bmp && !png.Read(*bits, png.w * 4)) {
        DeleteObject(bmp);
        bmp = 0;
    }
    *w = (int)png.w;
    *h = (int)png.h;
    return bmp;
}

DWORD DecodeGrey(IWICImagingFactory *wic, const void *data, DWORD size, BYTE *out, DWORD cap) {
    Png png;
    if (!png.Open(wic, data, size, GUID_WICPixelFormat8bppGray)) return 0;
    unsigned long long n = (unsigned long long)png.w * png.h;
    return n <= cap && png.Read(out, png.w) ? (DWORD)n : 0;
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
