#!/usr/bin/python3
"""Draws all of the launcher's pictures at every display scale and writes them
in the formats its resources take.

    genart.py FONT_DIR OUT_DIR [PERCENT ...]

FONT_DIR holds the fonts made by fonts.py and their fonts.conf. For each scale
(100, 125, 150, 175 and 200 %, or the ones given) the same code draws the
backgrounds and the sprites anew at that resolution, and writes to OUT_DIR:
art-P.bin (the art set, artset.py), contact-P.png (all of it on one sheet for
review) and home-P.png (the home page as the launcher first shows it, its
texts left out: what the launcher's frame must match). Also icon.ico (PNG
images at every size the system asks for between 100 and 200 %) and the
fonts as the launcher embeds them (NAME.font, artset.font). The same
inputs give the same bytes; a file whose bytes would not change is left
untouched, so builds that share OUT_DIR do not rebuild each other. The scales
are drawn two at a time, each in a process of its own."""
import io
import math
import multiprocessing
import os
import struct
import subprocess
import sys
from output import write

HERE = os.path.dirname(os.path.abspath(__file__))

SCALES = [100, 125, 150, 175, 200]
FONTS = ["ZorunCinzel", "ZorunSans", "ZorunSansSemiBold"]  # made by fonts.py
# The sprites only the options page shows (save, shortcut, toggles, resolution
# box, window modes): the launcher decodes them after its first frame.
OPTIONS_ONLY = list(range(4, 10)) + list(range(26, 30)) + list(range(33, 43))

# Sprite sizes at 100 % in pack order; the launcher places each one at fixed
# coordinates, and at another scale gives it these sizes scaled (draw.dev).
SPRITE_SIZES = ([(230, 102)] * 4 + [(144, 52)] * 3 + [(282, 52)] * 3 + [(106, 50)] * 3 +
                [(132, 50)] * 3 + [(140, 64)] * 6 + [(30, 26)] * 4 + [(54, 32)] * 4 +
                [(152, 48)] * 3 + [(320, 54)] * 4 + [(170, 54)] * 6 + [(582, 8), (10, 10)])


def png(surf):
    buf = io.BytesIO()
    surf.write_to_png(buf)
    return buf.getvalue()


def ico(images):
    """An .ico whose entries are PNG images, 32 bits per pixel."""
    head = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, blobs = [], []
    for size, data in images:
        side = 0 if size >= 256 else size
        entries.append(struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset))
        blobs.append(data)
        offset += len(data)
    return head + b"".join(entries) + b"".join(blobs)


def contact_sheet(home, opt, sprites, icons):
    """At the current scale: both backgrounds, both pages as composed with
    their sprites, then every sprite over a dark and a light backdrop with its
    index and size, then the icons (at their own sizes)."""
    import draw
    import mockup
    import style as S
    pad = 20
    width = 2 * 900 + 3 * pad
    top = 2 * (560 + pad + 24)
    cells, x, y, row_h = [], pad, top + pad + 24, 0
    for i, surf in enumerate(sprites):
        w, h = surf.get_width() / draw.K, surf.get_height() / draw.K
        cw, ch = w * 2 + 30, h + 44
        if x + cw > width - pad:
            x, y, row_h = pad, y + row_h + 14, 0
        cells.append((i, surf, x, y))
        x += cw + 14
        row_h = max(row_h, ch)
    icon_y = y + row_h + 24
    height = int(math.ceil(icon_y + 256 + 60))
    sheet = draw.surface(width, height)
    cr = draw.context(sheet)
    cr.set_source_rgba(0.16, 0.16, 0.17, 1)
    cr.paint()

    def text(t, x, y, size=13, colour=(0.92, 0.92, 0.92, 1)):
        draw.font(cr, S.SANS_SB, size)
        cr.move_to(x, y)
        cr.set_source_rgba(*colour)
        cr.show_text(t)

    pages = [("home background", home), ("options background", opt),
             ("home page with its sprites (texts approximated)", mockup.home(home, sprites)),
             ("options page with its sprites", mockup.options(opt, sprites))]
    for k, (name, surf) in enumerate(pages):
        bx = pad + (k % 2) * (900 + pad)
        by = pad + (k // 2) * (560 + pad + 24)
        text(name, bx, by + 14)
        draw.blit(cr, surf, bx, by + 22)
    for i, surf, cx, cy in cells:
        w, h = surf.get_width(), surf.get_height()
        text("%d  (%d x %d)" % (i, w, h), cx, cy + 14)
        w, h = w / draw.K, h / draw.K
        for k, backdrop in enumerate(((0.05, 0.04, 0.03, 1), (0.88, 0.86, 0.82, 1))):
            bx = cx + k * (w + 10)
            cr.rectangle(bx - 5, cy + 22, w + 10, h + 12)
            cr.set_source_rgba(*backdrop)
            cr.fill()
            draw.blit(cr, surf, bx, cy + 28)
    text("icon 101", pad, icon_y)
    x = pad
    for size, surf in icons:
        draw.blit(cr, surf, x, icon_y + 12)
        text(str(size), x, icon_y + 12 + size / draw.K + 18, 11)
        x += max(size / draw.K, 30) + 18
    return sheet


def check_fonts(conf):
    """The three families must come from the build's own fonts, not a stand-in."""
    env = dict(os.environ, FONTCONFIG_FILE=conf)
    for family in ("Zorun Cinzel", "Zorun Sans", "Zorun Sans SemiBold"):
        got = subprocess.run(["fc-match", "-f", "%{family}", family], env=env, check=True,
                             capture_output=True, text=True).stdout
        if got != family:
            sys.exit("genart: font %r not found (fontconfig gives %r)" % (family, got))


def render(job):
    """One scale, in a process of its own: the art set, the contact sheet and
    the home page as first shown."""
    font_dir, percent, icons = job
    os.environ["FONTCONFIG_FILE"] = os.path.join(os.path.abspath(font_dir), "fonts.conf")
    sys.path.insert(0, HERE)
    import artset
    import draw
    import mockup
    import scene
    import style as S
    import widgets

    draw.set_scale(percent)
    home, opt = scene.backgrounds()
    sprites = widgets.sprites()
    sizes = [(s.get_width(), s.get_height()) for s in sprites]
    assert sizes == [(draw.dev(w), draw.dev(h)) for w, h in SPRITE_SIZES], "sprite sizes differ from the launcher's"
    for surf in sprites:
        px = draw.pixels(surf)
        assert (px[:, :, :3] <= px[:, :, 3:4]).all(), "colour above alpha"
    l, t, r, b = S.PAGE_AREA
    patch = (int(math.floor(l * draw.K)), int(math.floor(t * draw.K)), int(math.ceil(r * draw.K)),
             int(math.ceil(b * draw.K)))
    data = artset.build(96 * percent // 100, draw.pixels(home).copy(), draw.pixels(opt).copy(), patch,
                        [draw.pixels(s).copy() for s in sprites], OPTIONS_ONLY)
    icon_surfaces = [(size, draw.from_pixels(px)) for size, px in icons]
    sheet = png(contact_sheet(home, opt, sprites, icon_surfaces))
    first = png(mockup.first_frame(home, sprites))
    return percent, data, sheet, first


def main(font_dir, out, scales):
    conf = os.path.join(os.path.abspath(font_dir), "fonts.conf")
    check_fonts(conf)
    # Before cairo first asks fontconfig for a face.
    os.environ["FONTCONFIG_FILE"] = conf
    sys.path.insert(0, HERE)
    import draw
    import icon

    import artset

    os.makedirs(out, exist_ok=True)
    for name in FONTS:
        with open(os.path.join(font_dir, name + ".ttf"), "rb") as f:
            write(os.path.join(out, name + ".font"), artset.font(f.read()))
    icons = icon.icons()
    write(os.path.join(out, "icon.ico"), ico([(s, png(i)) for s, i in icons]))
    icon_pixels = [(s, draw.pixels(i).copy()) for s, i in icons]
    jobs = [(font_dir, p, icon_pixels) for p in scales]
    # The largest first: the two processes then end at about the same time.
    jobs.sort(key=lambda j: -j[1])
    with multiprocessing.get_context("spawn").Pool(min(2, len(jobs))) as pool:
        for percent, data, sheet, first in pool.imap_unordered(render, jobs):
            write(os.path.join(out, "art-%d.bin" % percent), data)
            write(os.path.join(out, "contact-%d.png" % percent), sheet)
            write(os.path.join(out, "home-%d.png" % percent), first)


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2], [int(p) for p in sys.argv[3:]] or SCALES)
