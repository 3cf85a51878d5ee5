"""Drawing helpers shared by the pictures: surfaces, paths, struck gold,
soft glows and text in the launcher's fonts. Pixels are cairo's ARGB32:
premultiplied, and in memory the bytes blue, green, red, alpha.

Every picture is drawn at one display scale at a time (set_scale): the
pictures' code works in the launcher's 100 % pixels, the units of its layout,
and every context maps them onto the device pixels of that scale, so a scale
gets its own drawing, not an enlarged copy. Surfaces are device pixels; the
pixel operations (blurs, grain, rims) take their sizes in 100 % pixels and
scale them. At 100 % all of it is the identity."""
import math

import cairo
import numpy as np

import style

# ---- Scale ---------------------------------------------------------------------

K = 1.0  # device pixels per 100 % pixel


def set_scale(percent):
    global K
    K = percent / 100.0


def dev(v):
    """A length or place of 100 % pixels in whole device pixels: rounded half
    up, as the launcher's Scale rounds, so a sprite made here has the size the
    launcher gives it."""
    return int(math.floor(v * K + 0.5))


def snap(v):
    """v moved to the nearest whole device pixel (in 100 % units): a text
    baseline on a pixel boundary keeps its stems crisp."""
    return round(v * K) / K

# ---- Surfaces ------------------------------------------------------------------


def surface(w, h):
    """A transparent surface for w x h pixels at 100 %, at the current scale."""
    return cairo.ImageSurface(cairo.FORMAT_ARGB32, dev(w), dev(h))


def device_surface(w, h):
    return cairo.ImageSurface(cairo.FORMAT_ARGB32, w, h)


def context(surf, scale=None):
    """A context in 100 % pixels on a surface of the current scale (or of
    scale, a factor), whose text looks the same on every machine: grey
    antialiasing, no hinting, unhinted metrics."""
    cr = cairo.Context(surf)
    k = K if scale is None else scale
    if k != 1.0:
        cr.scale(k, k)
    fo = cairo.FontOptions()
    fo.set_antialias(cairo.ANTIALIAS_GRAY)
    fo.set_hint_style(cairo.HINT_STYLE_NONE)
    fo.set_hint_metrics(cairo.HINT_METRICS_OFF)
    cr.set_font_options(fo)
    cr.set_antialias(cairo.ANTIALIAS_GOOD)
    return cr


def pixels(surf):
    """The surface's pixels as an (h, w, 4) uint8 array (B, G, R, A), shared."""
    surf.flush()
    w, h, stride = surf.get_width(), surf.get_height(), surf.get_stride()
    a = np.ndarray((h, stride // 4, 4), np.uint8, surf.get_data())
    return a[:, :w, :]


def from_pixels(arr):
    h, w, _ = arr.shape
    s = device_surface(w, h)
    pixels(s)[:] = np.clip(arr, 0, 255).astype(np.uint8)
    s.mark_dirty()
    return s


def source(cr, src, x=0, y=0):
    """Sets a surface of device pixels as cr's source with its top-left at
    (x, y) (100 % pixels, taken to a whole device pixel as dev takes them):
    pixel for pixel, never resampled by the context's scale."""
    k = cr.get_matrix().xx
    p = cairo.SurfacePattern(src)
    p.set_matrix(cairo.Matrix(k, 0, 0, k, -math.floor(x * k + 0.5), -math.floor(y * k + 0.5)))
    cr.set_source(p)


def blit(cr, src, x=0, y=0, alpha=1.0):
    cr.save()
    source(cr, src, x, y)
    cr.paint_with_alpha(alpha)
    cr.restore()

# ---- Pixel operations (premultiplied colour stays at or below alpha) ------------


def blurred(surf, radius):
    """A soft copy of the surface: three box blurs, close to a Gaussian."""
    a = pixels(surf).astype(np.float32)
    r = max(1, int(round(radius * K / 1.7)))
    for _ in range(3):
        for axis in (0, 1):
            pad = [(0, 0)] * 3
            pad[axis] = (r + 1, r)
            p = np.pad(a, pad)
            c = np.cumsum(p, axis=axis, dtype=np.float64)
            n = a.shape[axis]
            hi = np.take(c, np.arange(2 * r + 1, 2 * r + 1 + n), axis=axis)
            lo = np.take(c, np.arange(0, n), axis=axis)
            a = ((hi - lo) / (2 * r + 1)).astype(np.float32)
    return from_pixels(np.rint(a))


def shaded(surf, light=1.0, grey=0.0, opacity=1.0, paler=True):
    """Lighter or darker (light), drained of colour (grey 0..1), fainter.
    Lighter is paler (toward white) for gold, or plain brighter for dark plates
    that must stay dark and warm."""
    a = pixels(surf).astype(np.float32)
    rgb, alpha = a[:, :, :3], a[:, :, 3:4]
    if grey:
        lum = rgb[:, :, 0:1] * 0.114 + rgb[:, :, 1:2] * 0.587 + rgb[:, :, 2:3] * 0.299
        rgb = rgb * (1 - grey) + lum * grey
    if light > 1 and paler:
        # Towards white, so gold turns paler instead of saturating to yellow.
        rgb = rgb + (alpha - rgb) * (light - 1)
    else:
        rgb = rgb * light
    rgb = np.minimum(rgb, alpha)
    out = np.concatenate([rgb, alpha], axis=2) * opacity
    return from_pixels(np.rint(out))


def tinted(mask_surf, colour):
    """The alpha of a surface filled with one colour."""
    a = pixels(mask_surf)[:, :, 3:4].astype(np.float32) / 255.0
    r, g, b, al = colour
    out = np.concatenate([a * b, a * g, a * r, a], axis=2) * al * 255.0
    return from_pixels(np.rint(out))


def glow(surf, colour, radius, strength=1.0):
    """A soft halo of the surface's shape in one colour, for drawing beneath it."""
    halo = blurred(tinted(surf, colour), radius)
    if strength != 1.0:
        arr = pixels(halo).astype(np.float32) * strength
        arr = np.minimum(arr, 255)
        arr[:, :, :3] = np.minimum(arr[:, :, :3], arr[:, :, 3:4])
        halo = from_pixels(np.rint(arr))
    return halo

# ---- Paths -----------------------------------------------------------------------


def rounded(cr, x, y, w, h, r):
    r = min(r, w / 2.0, h / 2.0)
    cr.new_sub_path()
    cr.arc(x + w - r, y + r, r, -math.pi / 2, 0)
    cr.arc(x + w - r, y + h - r, r, 0, math.pi / 2)
    cr.arc(x + r, y + h - r, r, math.pi / 2, math.pi)
    cr.arc(x + r, y + r, r, math.pi, 3 * math.pi / 2)
    cr.close_path()


def chamfered(cr, x, y, w, h, c, left=True, right=True):
    """A plate with cut corners, the metalwork shape of the gold buttons."""
    cr.new_sub_path()
    if left:
        cr.move_to(x + c, y)
    else:
        cr.move_to(x, y)
    if right:
        cr.line_to(x + w - c, y)
        cr.line_to(x + w, y + c)
        cr.line_to(x + w, y + h - c)
        cr.line_to(x + w - c, y + h)
    else:
        cr.line_to(x + w, y)
        cr.line_to(x + w, y + h)
    if left:
        cr.line_to(x + c, y + h)
        cr.line_to(x, y + h - c)
        cr.line_to(x, y + c)
    else:
        cr.line_to(x, y + h)
    cr.close_path()


def diamond(cr, cx, cy, rx, ry=None):
    ry = rx if ry is None else ry
    cr.move_to(cx, cy - ry)
    cr.line_to(cx + rx, cy)
    cr.line_to(cx, cy + ry)
    cr.line_to(cx - rx, cy)
    cr.close_path()

# ---- Paint -------------------------------------------------------------------------


def gradient(x0, y0, x1, y1, stops):
    g = cairo.LinearGradient(x0, y0, x1, y1)
    for off, c in stops:
        g.add_color_stop_rgba(off, *c)
    return g


def gold(y0, y1, light=1.0):
    """Struck gold from y0 to y1."""
    stops = style.GOLD_METAL
    if light != 1.0:
        stops = [(o, mix(c, (1, 1, 1, 1), light - 1) if light > 1 else scale(c, light))
                 for o, c in stops]
    return gradient(0, y0, 0, y1, stops)


def mix(a, b, t):
    return tuple(a[i] * (1 - t) + b[i] * t for i in range(4))


def scale(c, k):
    return (c[0] * k, c[1] * k, c[2] * k, c[3])


def with_alpha(c, a):
    return (c[0], c[1], c[2], a)

# ---- Text ---------------------------------------------------------------------------


def font(cr, family, size):
    cr.select_font_face(family, cairo.FONT_SLANT_NORMAL, cairo.FONT_WEIGHT_NORMAL)
    cr.set_font_size(size)


def ink(cr, text, spacing=0.0):
    """The ink box of a text drawn at the origin: (x0, y0, x1, y1)."""
    if not spacing:
        e = cr.text_extents(text)
        return (e.x_bearing, e.y_bearing, e.x_bearing + e.width, e.y_bearing + e.height)
    x, box = 0.0, None
    for ch in text:
        e = cr.text_extents(ch)
        if e.width:
            b = (x + e.x_bearing, e.y_bearing, x + e.x_bearing + e.width, e.y_bearing + e.height)
            box = b if box is None else (min(box[0], b[0]), min(box[1], b[1]),
                                         max(box[2], b[2]), max(box[3], b[3]))
        x += e.x_advance + spacing
    return box


def text_path(cr, text, x, y, spacing=0.0):
    """Adds the outline of a text with its baseline origin at (x, y)."""
    if not spacing:
        cr.move_to(x, y)
        cr.text_path(text)
        return
    for ch in text:
        cr.move_to(x, y)
        cr.text_path(ch)
        x += cr.text_extents(ch).x_advance + spacing


def place(cr, text, box, align="left", spacing=0.0, valign="centre"):
    """The baseline origin that puts the text's ink inside box, aligned, with
    its ink rounded to whole pixels vertically so stems stay crisp."""
    x0, y0, x1, y1 = ink(cr, text, spacing)
    bl, bt, br, bb = box
    if align == "left":
        x = bl - x0
    elif align == "right":
        x = br - x1
    else:
        x = (bl + br - (x1 - x0)) / 2.0 - x0
    if valign == "centre":
        y = snap((bt + bb - (y1 - y0)) / 2.0 - y0)
    else:
        y = bt - y0
    return x, y


def fits(cr, text, box, spacing=0.0, at=None):
    x0, y0, x1, y1 = ink(cr, text, spacing)
    x, y = at if at else place(cr, text, box, spacing=spacing)
    return (x + x0 >= box[0] - 0.01 and y + y0 >= box[1] - 0.5 and
            x + x1 <= box[2] + 0.01 and y + y1 <= box[3] + 0.5)


def struck(cr, text, x, y, spacing=0.0, light=1.0):
    """Text in struck gold: the metal gradient over its ink, a light edge on
    top and a dark one below, as if stamped from a gold sheet."""
    x0, y0, x1, y1 = ink(cr, text, spacing)
    cr.save()
    text_path(cr, text, x, y, spacing)
    cr.clip()
    cr.set_source_rgba(*style.GOLD_EDGE_DARK)
    cr.paint()
    text_path(cr, text, x, y - 1, spacing)
    cr.set_source_rgba(*style.GOLD_EDGE_LIGHT)
    cr.fill()
    text_path(cr, text, x, y - 0.4, spacing)
    cr.set_source(gold(y + y0, y + y1, light))
    cr.fill()
    cr.restore()
