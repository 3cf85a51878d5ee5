"""The two backgrounds: one shared frame (border, logo, illustration, panels,
progress track) and each page's static labels."""
import math

import cairo
import numpy as np

import draw
import knight
import style as S

# Where the illustration sits: the figure's axis, the top of its helmet, its scale.
FIGURE_X, FIGURE_TOP, FIGURE_SCALE = 736, 150, 1.1
SUN = (738, 196)            # centre of the warm glow behind the figure
SKY_FROM_X = 430            # the sky fades in from the dark frame between these two
SKY_FULL_X = 600
STRIP_H = 86                # the darker top strip (tabs, links, window buttons)
BORDER_INSET = 4            # the gold line, this far inside the window edge

# ---- The illustration ----------------------------------------------------------------


def sky(cr):
    cr.set_source(draw.gradient(0, 0, 0, S.H, [(0, S.SKY_TOP), (0.5, S.SKY_MID), (0.85, S.SKY_HORIZON),
                                               (1, draw.mix(S.SKY_HORIZON, S.SUN_GLOW, 0.25))]))
    cr.paint()
    # The sun behind the figure: a wide warm haze and a bright core.
    for radius, alpha in ((330, 0.55), (170, 0.6), (70, 0.75)):
        g = cairo.RadialGradient(SUN[0], SUN[1], 0, SUN[0], SUN[1], radius)
        g.add_color_stop_rgba(0, *draw.with_alpha(S.SUN_GLOW, alpha))
        g.add_color_stop_rgba(0.4, *draw.with_alpha(S.SUN_GLOW, alpha * 0.35))
        g.add_color_stop_rgba(1, *draw.with_alpha(S.SUN_GLOW, 0))
        cr.set_source(g)
        cr.paint()
    # Rays fanning out of the glow.
    rays = draw.surface(S.W, S.H)
    rc = draw.context(rays)
    for k in range(14):
        a = math.radians(-160 + k * 23 + (k % 3) * 4)
        spread = math.radians(3 + (k % 4))
        rc.move_to(*SUN)
        rc.line_to(SUN[0] + math.cos(a - spread) * 600, SUN[1] + math.sin(a - spread) * 600)
        rc.line_to(SUN[0] + math.cos(a + spread) * 600, SUN[1] + math.sin(a + spread) * 600)
        rc.close_path()
        g = cairo.RadialGradient(SUN[0], SUN[1], 20, SUN[0], SUN[1], 380)
        g.add_color_stop_rgba(0, *draw.with_alpha(S.SUN_GLOW, 0.22))
        g.add_color_stop_rgba(1, *draw.with_alpha(S.SUN_GLOW, 0))
        rc.set_source(g)
        rc.fill()
    draw.blit(cr, draw.blurred(rays, 4))


def cloud(cr, blobs, lit, shade, soft):
    """A cloud from (x, y, r) blobs: lit from above, shaded below, softened."""
    layer = draw.surface(S.W, S.H)
    lc = draw.context(layer)
    top = min(y - r for x, y, r in blobs)
    bottom = max(y + r for x, y, r in blobs)
    for x, y, r in blobs:
        lc.arc(x, y, r, 0, 2 * math.pi)
        lc.new_sub_path()
    lc.set_source(draw.gradient(0, top, 0, bottom, [(0, lit), (0.45, draw.mix(lit, shade, 0.55)), (1, shade)]))
    lc.fill()
    draw.blit(cr, draw.blurred(layer, soft))


def clouds_far(cr):
    lit, shade = draw.with_alpha(S.CLOUD_LIT, 0.55), draw.with_alpha(S.CLOUD_SHADE, 0.5)
    cloud(cr, [(540, 250, 26), (575, 240, 34), (615, 252, 24), (505, 262, 18)], lit, shade, 6)
    cloud(cr, [(860, 230, 30), (890, 220, 36), (830, 244, 20)], lit, shade, 6)
    cloud(cr, [(610, 120, 14), (640, 114, 18), (672, 122, 12)], draw.with_alpha(S.CLOUD_LIT, 0.35),
          draw.with_alpha(S.CLOUD_SHADE, 0.3), 5)
    cloud(cr, [(850, 130, 12), (876, 124, 16), (900, 132, 12)], draw.with_alpha(S.CLOUD_LIT, 0.35),
          draw.with_alpha(S.CLOUD_SHADE, 0.3), 5)


def clouds_near(cr):
    """The cloud bank the figure stands above; the Play button rests on it."""
    lit, shade = draw.with_alpha(S.CLOUD_LIT, 0.95), draw.with_alpha(draw.mix(S.CLOUD_SHADE, S.SKY_TOP, 0.4), 0.98)
    cloud(cr, [(470, 470, 50), (530, 450, 56), (600, 440, 48), (650, 470, 60), (560, 500, 60)], lit, shade, 5)
    cloud(cr, [(820, 440, 46), (880, 425, 56), (930, 450, 50), (780, 480, 60)], lit, shade, 5)
    cloud(cr, [(640, 500, 50), (700, 482, 54), (760, 490, 56), (820, 505, 58), (900, 500, 60),
               (720, 540, 60), (560, 540, 60)], lit, shade, 4)


def figure(cr):
    """The figure with a thin warm rim light along its silhouette."""
    layer = draw.surface(S.W, S.H)
    fc = draw.context(layer)
    fc.translate(FIGURE_X, FIGURE_TOP)
    fc.scale(FIGURE_SCALE, FIGURE_SCALE)
    knight.figure(fc)
    alpha = draw.pixels(layer)[:, :, 3].astype(np.float32) / 255.0
    # Rim: where the silhouette ends toward the light (up and outward from the sun).
    inner = alpha.copy()
    for dy, dx in ((3, 0), (2, 2), (2, -2), (0, 2), (0, -2)):
        inner = np.minimum(inner, np.roll(np.roll(alpha, draw.dev(dy), 0), draw.dev(dx), 1))
    rim = np.clip(alpha - inner, 0, 1)
    rim_layer = np.zeros(draw.pixels(layer).shape, np.float32)
    r, g, b, _ = S.RIM
    rim_layer[:, :, 0], rim_layer[:, :, 1], rim_layer[:, :, 2] = rim * b, rim * g, rim * r
    rim_layer[:, :, 3] = rim
    rim_surf = draw.blurred(draw.from_pixels(np.rint(rim_layer * 255 * 0.85)), 1)
    # A halo of the sun around the whole silhouette, then the figure, then its rim.
    draw.blit(cr, draw.glow(layer, S.SUN_GLOW, 10, 0.5))
    draw.blit(cr, layer)
    fc2 = draw.context(rim_surf)
    fc2.set_operator(cairo.OPERATOR_DEST_IN)
    draw.source(fc2, layer)
    fc2.paint()
    draw.blit(cr, rim_surf)


def illustration():
    surf = draw.surface(S.W, S.H)
    cr = draw.context(surf)
    sky(cr)
    clouds_far(cr)
    figure(cr)
    clouds_near(cr)
    return surf

# ---- The frame -----------------------------------------------------------------------


def base(cr):
    cr.set_source_rgba(*S.BASE_DARK)
    cr.paint()
    g = cairo.RadialGradient(260, 300, 20, 260, 300, 420)
    g.add_color_stop_rgba(0, *draw.with_alpha(S.BASE_WARM, 0.9))
    g.add_color_stop_rgba(1, *draw.with_alpha(S.BASE_WARM, 0))
    cr.set_source(g)
    cr.paint()


def grain(surf, seed, amount):
    """A fixed fine grain, so large dark areas do not look flat or band. Its
    cells are the pixels of 100 %: at every scale the same grain, as fine on
    the screen, each cell covering the device pixels of its place."""
    rng = np.random.default_rng(seed)
    cells = rng.normal(0, amount, (S.H, S.W, 1)).astype(np.float32)
    rows = np.minimum((np.arange(surf.get_height()) / draw.K).astype(int), S.H - 1)
    cols = np.minimum((np.arange(surf.get_width()) / draw.K).astype(int), S.W - 1)
    noise = cells[rows][:, cols]
    px = draw.pixels(surf).astype(np.float32)
    px[:, :, :3] = np.clip(px[:, :, :3] + noise, 0, 255)
    draw.pixels(surf)[:] = np.rint(px).astype(np.uint8)
    surf.mark_dirty()


def top_strip(cr):
    cr.rectangle(0, 0, S.W, STRIP_H)
    cr.set_source(draw.gradient(0, 0, 0, STRIP_H, [(0, draw.with_alpha(S.STRIP_DARK, 0.95)),
                                                  (0.6, draw.with_alpha(S.STRIP_DARK, 0.78)),
                                                  (1, draw.with_alpha(S.STRIP_DARK, 0.0))]))
    cr.fill()
    # A quiet dark-gold line under the strip, fading out at both ends.
    cr.rectangle(300, STRIP_H - 1, S.W - 300 - BORDER_INSET - 2, 1)
    cr.set_source(draw.gradient(300, 0, S.W, 0, [(0, draw.with_alpha(S.GOLD_DARK, 0)),
                                                 (0.25, draw.with_alpha(S.GOLD_DARK, 0.6)),
                                                 (0.8, draw.with_alpha(S.GOLD_DARK, 0.6)),
                                                 (1, draw.with_alpha(S.GOLD_DARK, 0))]))
    cr.fill()


def panel(cr, box, radius, alpha):
    """A rounded dark translucent panel with a 1-pixel dark-gold inner line and
    a soft shadow, so the picture behind shows faintly at its edges."""
    l, t, r, b = box
    shadow = draw.surface(S.W, S.H)
    sc = draw.context(shadow)
    draw.rounded(sc, l, t + 3, r - l, b - t, radius)
    sc.set_source_rgba(0, 0, 0, 0.6)
    sc.fill()
    draw.blit(cr, draw.blurred(shadow, 6))
    draw.rounded(cr, l, t, r - l, b - t, radius)
    cr.set_source(draw.gradient(0, t, 0, b, [(0, draw.with_alpha(S.PANEL, alpha - 0.04)),
                                             (1, draw.with_alpha(S.PANEL, alpha + 0.04))]))
    cr.fill()
    draw.rounded(cr, l + 0.5, t + 0.5, r - l - 1, b - t - 1, radius)
    cr.set_source_rgba(*draw.with_alpha(S.GOLD_DARK, 0.9))
    cr.set_line_width(1)
    cr.stroke()
    draw.rounded(cr, l + 1.5, t + 1.5, r - l - 3, b - t - 3, radius - 1)
    cr.set_source_rgba(0, 0, 0, 0.5)
    cr.stroke()


def progress_track(cr):
    l, t, r, b = S.TRACK_BOX
    cr.rectangle(l, t, r - l, b - t)
    cr.set_source_rgba(*S.TRACK)
    cr.fill()
    # Recessed: dark above, a faint light below.
    cr.rectangle(l + 1, t + 1, r - l - 2, 2)
    cr.set_source_rgba(0, 0, 0, 0.6)
    cr.fill()
    cr.rectangle(l + 0.5, t + 0.5, r - l - 1, b - t - 1)
    cr.set_source_rgba(*draw.with_alpha(S.GOLD_DARK, 0.95))
    cr.set_line_width(1)
    cr.stroke()
    cr.rectangle(l - 0.5, b + 0.5, r - l + 1, 0)
    cr.set_source_rgba(*draw.with_alpha(S.TEXT_GOLD, 0.18))
    cr.stroke()
    for x in (l - 6, r + 5):
        draw.diamond(cr, x, (t + b) / 2.0, 3)
        cr.set_source(draw.gold(t, b))
        cr.fill()


def border(cr):
    i = BORDER_INSET
    # The 2-pixel gold line: light edge outside, darker inside.
    cr.rectangle(i + 0.5, i + 0.5, S.W - 2 * i - 1, S.H - 2 * i - 1)
    cr.set_source_rgba(*S.GOLD_LINE)
    cr.set_line_width(1)
    cr.stroke()
    cr.rectangle(i + 1.5, i + 1.5, S.W - 2 * i - 3, S.H - 2 * i - 3)
    cr.set_source_rgba(*S.GOLD_LINE_DARK)
    cr.stroke()
    cr.rectangle(i - 0.5, i - 0.5, S.W - 2 * i + 1, S.H - 2 * i + 1)
    cr.set_source_rgba(0, 0, 0, 0.7)
    cr.stroke()
    # Corner ornaments: a diamond with two small ones along each edge.
    for cx, cy in ((i + 1, i + 1), (S.W - i - 1, i + 1), (i + 1, S.H - i - 1), (S.W - i - 1, S.H - i - 1)):
        sx = 1 if cx < S.W / 2 else -1
        sy = 1 if cy < S.H / 2 else -1
        for dx, dy, r in ((0, 0, 7), (sx * 14, 0, 3), (0, sy * 14, 3)):
            draw.diamond(cr, cx + dx, cy + dy, r + 1.2)
            cr.set_source_rgba(0.05, 0.03, 0.01, 1)
            cr.fill()
            draw.diamond(cr, cx + dx, cy + dy, r)
            cr.set_source(draw.gold(cy + dy - r, cy + dy + r))
            cr.fill()
        draw.diamond(cr, cx, cy, 2.2)
        cr.set_source_rgba(*S.GOLD_EDGE_DARK)
        cr.fill()


def logo(cr):
    """The product name in struck gold with a dark outline and a soft shadow,
    the version beneath it in small capitals between two rules."""
    name = S.PRODUCT.upper()
    draw.font(cr, S.TITLE, 46)
    x0, y0, x1, y1 = draw.ink(cr, name, 1.5)
    x, base_y = 36 - x0, 84
    shadow = draw.surface(S.W, S.H)
    sc = draw.context(shadow)
    draw.font(sc, S.TITLE, 46)
    draw.text_path(sc, name, x + 1, base_y + 3, 1.5)
    sc.set_source_rgba(0, 0, 0, 0.85)
    sc.fill()
    draw.blit(cr, draw.blurred(shadow, 4))
    draw.text_path(cr, name, x, base_y, 1.5)
    cr.set_source_rgba(0.08, 0.04, 0.01, 1)
    cr.set_line_width(3)
    cr.set_line_join(cairo.LINE_JOIN_ROUND)
    cr.stroke()
    draw.struck(cr, name, x, base_y, 1.5)
    width = x1 - x0
    cx = 36 + width / 2.0
    # Version in small capitals: Cinzel's lower case are small capitals.
    draw.font(cr, S.TITLE, 15)
    text = S.VERSION
    vx0, vy0, vx1, vy1 = draw.ink(cr, text, 2.5)
    vy = base_y + 26
    vx = cx - (vx1 - vx0) / 2.0 - vx0
    draw.text_path(cr, text, vx + 0.5, vy + 1, 2.5)
    cr.set_source_rgba(0, 0, 0, 0.8)
    cr.fill()
    draw.struck(cr, text, vx, vy, 2.5)
    mid = vy + (vy0 + vy1) / 2.0
    for side in (-1, 1):
        near = cx + side * ((vx1 - vx0) / 2.0 + 10)
        far = cx + side * (width / 2.0 + 2)
        cr.rectangle(min(near, far), draw.snap(mid) - 0.5, abs(far - near), 1)
        cr.set_source(draw.gradient(near, 0, far, 0, [(0, S.GOLD_FILL), (1, draw.with_alpha(S.GOLD_FILL, 0))]))
        cr.fill()
        draw.diamond(cr, near + side * -3, draw.snap(mid), 2.5)
        cr.set_source(draw.gold(mid - 3, mid + 3))
        cr.fill()


def launcher_caption(cr):
    draw.font(cr, S.SANS, 11)
    x, y = draw.place(cr, S.LAUNCHER_CAPTION, (44, 512, 240, 527))
    draw.text_path(cr, S.LAUNCHER_CAPTION, x, y)
    cr.set_source_rgba(*S.TEXT_MUTED)
    cr.fill()

# ---- Page labels -----------------------------------------------------------------------

# Preferred sizes; each kind takes the largest size not above these that fits
# every one of its boxes, so one kind is set in one size on both pages.
KINDS = {
    "heading": (S.TITLE, 13.0, 1.0),    # family, preferred size, letter spacing
    "caption": (S.SANS_SB, 10.0, 1.1),
    "label": (S.SANS, 13.0, 0.0),
}


def label_sizes():
    # Measured in 100 % pixels whatever the scale: every scale sets a label in
    # the same size.
    cr = draw.context(draw.device_surface(4, 4), 1.0)
    sizes = {}
    for kind, (family, size, spacing) in KINDS.items():
        boxes = [(t, b) for t, b, k in S.HOME_LABELS + S.OPTION_LABELS if k == kind]
        while True:
            draw.font(cr, family, size)
            if all(draw.fits(cr, t, b if kind != "heading" else (b[0], b[1], b[2] - 30, b[3]), spacing)
                   for t, b in boxes):
                break
            size -= 0.25
        sizes[kind] = size
    return sizes


def heading(cr, text, box, size):
    family, _, spacing = KINDS["heading"]
    draw.font(cr, family, size)
    x, y = draw.place(cr, text, box, spacing=spacing)
    x0, y0, x1, y1 = draw.ink(cr, text, spacing)
    draw.text_path(cr, text, x + 0.6, y + 1, spacing)
    cr.set_source_rgba(0, 0, 0, 0.7)
    cr.fill()
    draw.text_path(cr, text, x, y, spacing)
    cr.set_source(draw.gold(y + y0, y + y1))
    cr.fill()
    # The rule runs on from the text to the box's right end, fading out.
    left = math.ceil(x + x1) + 10
    mid = y - 4
    cr.rectangle(left, mid, box[2] - left, 1)
    cr.set_source(draw.gradient(left, 0, box[2], 0, [(0, draw.with_alpha(S.GOLD_FILL, 0.95)),
                                                     (1, draw.with_alpha(S.GOLD_DARK, 0))]))
    cr.fill()
    draw.diamond(cr, left, mid + 0.5, 2.5)
    cr.set_source(draw.gold(mid - 2, mid + 3))
    cr.fill()


def label(cr, text, box, size, kind):
    family, _, spacing = KINDS[kind]
    draw.font(cr, family, size)
    x, y = draw.place(cr, text, box, spacing=spacing)
    assert draw.fits(cr, text, box, spacing, (x, y)), text
    if text in S.UNDER_WIDGETS:
        draw.text_path(cr, text, x, y, spacing)
        cr.set_source_rgba(*draw.with_alpha(S.TEXT_BODY, S.UNDER_WIDGET_ALPHA))
        cr.fill()
        return
    draw.text_path(cr, text, x, y + 1, spacing)
    cr.set_source_rgba(0, 0, 0, 0.6)
    cr.fill()
    draw.text_path(cr, text, x, y, spacing)
    cr.set_source_rgba(*(S.TEXT_GOLD if kind == "caption" else S.TEXT_BODY))
    cr.fill()


def framed_box(cr, box):
    l, t, r, b = box
    cr.rectangle(l, t, r - l, b - t)
    cr.set_source(draw.gradient(0, t, 0, b, [(0, (0, 0, 0, 0.38)), (1, (0, 0, 0, 0.22))]))
    cr.fill()
    cr.rectangle(l + 0.5, t + 0.5, r - l - 1, b - t - 1)
    cr.set_source_rgba(*draw.with_alpha(S.GOLD_DARK, 0.85))
    cr.set_line_width(1)
    cr.stroke()
    # Small corner accents in brighter gold.
    for x, y, sx, sy in ((l, t, 1, 1), (r - 1, t, -1, 1), (l, b - 1, 1, -1), (r - 1, b - 1, -1, -1)):
        cr.rectangle(min(x, x + sx * 6), y, 7 if sx > 0 else -7, 1)
        cr.rectangle(x, min(y, y + sy * 6), 1, 7 if sy > 0 else -7)
        cr.set_source_rgba(*S.TEXT_GOLD)
        cr.fill()


def page(cr, labels, boxes):
    sizes = label_sizes()
    l, t, r, b = S.PAGE_AREA
    cr.save()
    # Nothing of a page may reach beyond the area where the pages differ.
    cr.rectangle(l, t, r - l, b - t)
    cr.clip()
    for box in boxes:
        framed_box(cr, box)
    for text, box, kind in labels:
        if kind == "heading":
            heading(cr, text, box, sizes[kind])
        else:
            label(cr, text, box, sizes[kind], kind)
    cr.restore()

# ---- Both pages --------------------------------------------------------------------------


def frame():
    surf = draw.surface(S.W, S.H)
    cr = draw.context(surf)
    base(cr)
    grain(surf, 7, 2.2)
    # The illustration fades in from the dark frame.
    pic = illustration()
    mask = draw.gradient(SKY_FROM_X, 0, SKY_FULL_X, 0, [(0, (0, 0, 0, 0)), (1, (0, 0, 0, 1))])
    draw.source(cr, pic)
    cr.mask(mask)
    top_strip(cr)
    panel(cr, S.MAIN_PANEL, 8, 0.84)
    panel(cr, S.BOTTOM_PANEL, 8, 0.86)
    progress_track(cr)
    launcher_caption(cr)
    logo(cr)
    border(cr)
    return surf


def backgrounds():
    """(home, options): two opaque 900 x 560 surfaces."""
    common = frame()
    out = []
    for labels, boxes in ((S.HOME_LABELS, S.HOME_BOXES), (S.OPTION_LABELS, [])):
        surf = draw.surface(S.W, S.H)
        cr = draw.context(surf)
        draw.blit(cr, common)
        page(cr, labels, boxes)
        out.append(surf)
    return out
