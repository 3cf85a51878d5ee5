"""The art set: everything the launcher draws at one display scale, in one
resource. The pictures are PNG images, lossless, of the kind the launcher
decodes itself (app/picture.cpp): 8 bits a sample, grey, RGB or RGBA, a
single IDAT chunk, not interlaced.

All numbers little-endian:

    u16  dpi            the scale's DPI: 96 at 100 %, 120, 144, 168, 192 at 200 %
    u16  count          sprites (45)
    u16  patch x, y     where the options page's patch lies on the background
    count x (u16 x, y, width, height)
                        each sprite's place in the atlas, in pack order
    u32  length, then a PNG: the home page's background (RGB)
    u32  length, then a PNG: the options page's patch (RGB): the options
                        background is the home background with, inside the
                        patch, each byte of the patch added to it (modulo
                        256). The pages differ only in their labels there,
                        so the patch is mostly zeros and costs little
    u32  length, then a PNG: the atlas's top part (RGBA): the sprites the home
                        page shows
    u32  length, then a PNG: the atlas's bottom part (RGBA): the sprites only
                        the options page shows (a sprite's place counts its
                        rows from the top part's first). The launcher
                        decodes the patch and this part after its first
                        frame, which is always the home page.

The atlas's bytes are the sprites' premultiplied blue, green, red and alpha
as the launcher's DIB sections take them: the PNG carries them unchanged, it
is not meant for viewers.

In every picture, blue and red are stored less green (modulo 256, as
lossless compressors do): where the channels move together, as in the grain,
two of them become almost flat, and the pictures a few per cent smaller. The
launcher adds green back.

The PNG images are written here (filters chosen per row, zlib at its
strongest) rather than by cairo, which would unpremultiply the sprites and
store an alpha channel in the opaque backgrounds.

The fonts ride in PNG images too, as grey pixels (fonts): the launcher
inflates them as it does the pictures."""
import struct
import zlib

import numpy as np

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"

# ---- PNG ---------------------------------------------------------------------------


def _chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def _filtered(rows, bpp):
    """Each row under the PNG filter that suits it best (the smallest sum of
    the filtered bytes taken as signed), as the rows of a PNG's data stream.
    Not Paeth's, which would be chosen for most rows: undoing it costs the
    launcher more at start-up than the 1.5 % it saves in size is worth."""
    x = rows.astype(np.int16)
    up = np.vstack([np.zeros((1, x.shape[1]), np.int16), x[:-1]])
    left = np.hstack([np.zeros((x.shape[0], bpp), np.int16), x[:, :-bpp]])
    candidates = np.stack([x, x - left, x - up, x - (left + up) // 2]) & 0xFF
    cost = np.abs(candidates.astype(np.int8).astype(np.int32)).sum(axis=2)
    best = cost.argmin(axis=0)
    out = np.empty((x.shape[0], x.shape[1] + 1), np.uint8)
    out[:, 0] = best
    out[:, 1:] = candidates[best, np.arange(x.shape[0])]
    return out.tobytes()


def _png(rows, w, h, colour_type, bpp, filtered=True):
    head = struct.pack(">IIBBBBB", w, h, 8, colour_type, 0, 0, 0)
    raw = _filtered(rows, bpp) if filtered else np.hstack([np.zeros((h, 1), np.uint8), rows]).tobytes()
    z = zlib.compressobj(9, zlib.DEFLATED, 15, 9, zlib.Z_FILTERED if filtered else zlib.Z_DEFAULT_STRATEGY)
    data = z.compress(raw) + z.flush()
    return PNG_SIGNATURE + _chunk(b"IHDR", head) + _chunk(b"IDAT", data) + _chunk(b"IEND", b"")


def less_green(px):
    """Blue and red less green, modulo 256: what the pictures store."""
    out = px.copy()
    out[:, :, 0] -= px[:, :, 1]
    out[:, :, 2] -= px[:, :, 1]
    return out


def png(px, alpha):
    """A PNG of an (h, w, 4) array of blue, green, red, alpha bytes, blue and
    red stored less green: RGBA with the bytes as they are when alpha, else
    RGB (the alpha bytes left out)."""
    h, w = px.shape[0], px.shape[1]
    order = [2, 1, 0, 3] if alpha else [2, 1, 0]
    rows = np.ascontiguousarray(less_green(px)[:, :, order]).reshape(h, w * len(order))
    return _png(rows, w, h, 6 if alpha else 2, len(order))


FONT_ROW = 16384


def font(data):
    """A font as the launcher's resource: its length (32 bits), then a PNG of
    grey pixels that are its bytes, rows of FONT_ROW, the last one padded
    with zeros."""
    h = (len(data) + FONT_ROW - 1) // FONT_ROW
    rows = np.frombuffer(data + bytes(h * FONT_ROW - len(data)), np.uint8).reshape(h, FONT_ROW)
    return struct.pack("<I", len(data)) + _png(rows, FONT_ROW, h, 0, 1, filtered=False)

# ---- The atlas ---------------------------------------------------------------------


def atlas(sprites, width):
    """The sprites on shelves of at most width pixels, tallest first: the
    atlas as a (h, w, 4) array and each sprite's (x, y, w, h) in pack order."""
    order = sorted(range(len(sprites)), key=lambda i: (-sprites[i].shape[0], i))
    places, x, y, shelf = [None] * len(sprites), 0, 0, 0
    for i in order:
        h, w = sprites[i].shape[:2]
        if x + w > width:
            x, y, shelf = 0, y + shelf, 0
        places[i] = (x, y, w, h)
        x += w
        shelf = max(shelf, h)
    out = np.zeros((y + shelf, width, 4), np.uint8)
    for (x, y, w, h), px in zip(places, sprites):
        out[y:y + h, x:x + w] = px
    return out, places

# ---- The set -----------------------------------------------------------------------


def build(dpi, home, opt, patch, sprites, later):
    """The art set of one scale. home and opt are (h, w, 4) arrays of the two
    backgrounds, patch the (left, top, right, bottom) outside which they are
    the same, sprites the 45 (h, w, 4) premultiplied arrays in pack order,
    later the indices of those the options page alone shows."""
    l, t, r, b = patch
    outside = np.ones(home.shape[:2], bool)
    outside[t:b, l:r] = False
    assert (home[outside] == opt[outside]).all(), "the pages differ outside the patch"
    width = max(s.shape[1] for s in sprites) * 2
    first = [i for i in range(len(sprites)) if i not in later]
    top, top_places = atlas([sprites[i] for i in first], width)
    bottom, bottom_places = atlas([sprites[i] for i in later], width)
    places = [None] * len(sprites)
    for i, p in zip(first, top_places):
        places[i] = p
    for i, (x, y, w, h) in zip(later, bottom_places):
        places[i] = (x, y + top.shape[0], w, h)
    head = struct.pack("<HHHH", dpi, len(sprites), l, t)
    head += b"".join(struct.pack("<HHHH", *p) for p in places)
    out = [head]
    difference = (opt[t:b, l:r].astype(np.int16) - home[t:b, l:r]).astype(np.uint8)
    for picture in (png(home, False), png(difference, False), png(top, True), png(bottom, True)):
        out.append(struct.pack("<I", len(picture)) + picture)
    return b"".join(out)


def parse(data):
    """The parts of an art set: dpi, patch origin, sprite places and the four
    PNG images (home, patch, the atlas's top and bottom parts)."""
    dpi, count, px, py = struct.unpack_from("<HHHH", data)
    at = 8
    places = [struct.unpack_from("<HHHH", data, at + 8 * i) for i in range(count)]
    at += 8 * count
    pictures = []
    for _ in range(4):
        n = struct.unpack_from("<I", data, at)[0]
        pictures.append(data[at + 4:at + 4 + n])
        at += 4 + n
    assert at == len(data), "bytes after the last picture"
    return {"dpi": dpi, "patch": (px, py), "places": places, "home": pictures[0], "patch_png": pictures[1],
            "atlas": pictures[2:]}
