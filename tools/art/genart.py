#!/usr/bin/python3
"""Draws all of the launcher's pictures and writes them in the formats its
resources take.

    genart.py FONT_DIR OUT_DIR

FONT_DIR holds the fonts made by fonts.py and their fonts.conf. Writes to
OUT_DIR: bg_home.bmp and bg_opt.bmp (900 x 560, 24-bit, bottom-up), sprites.bin
(the sprite pack), icon.ico (nine PNG images) and contact.png (all of it on one
sheet for review). The same inputs give the same bytes; a file whose bytes
would not change is left untouched, so builds that share OUT_DIR do not
rebuild each other."""
import io
import os
import struct
import subprocess
import sys
from output import write

HERE = os.path.dirname(os.path.abspath(__file__))

# Sprite sizes in pack order; the launcher places each one at fixed coordinates.
SPRITE_SIZES = ([(230, 102)] * 4 + [(144, 52)] * 3 + [(282, 52)] * 3 + [(106, 50)] * 3 +
                [(132, 50)] * 3 + [(140, 64)] * 6 + [(30, 26)] * 4 + [(54, 32)] * 4 +
                [(152, 48)] * 3 + [(320, 54)] * 4 + [(170, 54)] * 6 + [(582, 8), (10, 10)])
PACK_SIZE = 1642712


def bmp24(surf):
    """A BMP file: 24 bits per pixel, BI_RGB, rows bottom-up, 3780 pixels per metre."""
    import draw
    px = draw.pixels(surf)
    h, w = px.shape[0], px.shape[1]
    assert (w * 3) % 4 == 0, "rows would need padding"
    rows = px[::-1, :, :3].tobytes()
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(rows), 3780, 3780, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(rows), 0, 0, 14 + len(info))
    return head + info + rows


def pack(surfaces):
    """The sprite pack: count, then per sprite width, height and premultiplied
    B, G, R, A rows top to bottom."""
    import draw
    out = [struct.pack("<I", len(surfaces))]
    for surf in surfaces:
        px = draw.pixels(surf)
        assert (px[:, :, :3] <= px[:, :, 3:4]).all(), "colour above alpha"
        out.append(struct.pack("<HH", px.shape[1], px.shape[0]))
        out.append(px.tobytes())
    return b"".join(out)


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
    """Both backgrounds, both pages as composed with their sprites, then every
    sprite over a dark and a light backdrop with its index and size, then the
    icons."""
    import draw
    import mockup
    import style as S
    pad = 20
    width = 2 * 900 + 3 * pad
    top = 2 * (560 + pad + 24)
    cells, x, y, row_h = [], pad, top + pad + 24, 0
    for i, surf in enumerate(sprites):
        w, h = surf.get_width(), surf.get_height()
        cw, ch = w * 2 + 30, h + 44
        if x + cw > width - pad:
            x, y, row_h = pad, y + row_h + 14, 0
        cells.append((i, surf, x, y))
        x += cw + 14
        row_h = max(row_h, ch)
    icon_y = y + row_h + 24
    height = icon_y + 256 + 60
    sheet = draw.surface(width, height)
    cr = draw.context(sheet)
    cr.set_source_rgba(0.16, 0.16, 0.17, 1)
    cr.paint()

    def text(t, x, y, size=13, colour=(0.92, 0.92, 0.92, 1)):
        draw.font(cr, S.SANS_SB, size)
        cr.move_to(x, y)
        cr.set_source_rgba(*colour)
        cr.show_text(t)

    pages = [("201 home", home), ("202 options", opt),
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
        text(str(size), x, icon_y + 12 + size + 18, 11)
        x += max(size, 30) + 18
    return sheet


def check_fonts(conf):
    """The three families must come from the build's own fonts, not a stand-in."""
    env = dict(os.environ, FONTCONFIG_FILE=conf)
    for family in ("Zorun Cinzel", "Zorun Sans", "Zorun Sans SemiBold"):
        got = subprocess.run(["fc-match", "-f", "%{family}", family], env=env, check=True,
                             capture_output=True, text=True).stdout
        if got != family:
            sys.exit("genart: font %r not found (fontconfig gives %r)" % (family, got))


def main(font_dir, out):
    conf = os.path.join(os.path.abspath(font_dir), "fonts.conf")
    check_fonts(conf)
    # Before cairo first asks fontconfig for a face.
    os.environ["FONTCONFIG_FILE"] = conf
    sys.path.insert(0, HERE)
    import icon
    import scene
    import widgets

    os.makedirs(out, exist_ok=True)
    home, opt = scene.backgrounds()
    sprites = widgets.sprites()
    sizes = [(s.get_width(), s.get_height()) for s in sprites]
    assert sizes == SPRITE_SIZES, "sprite sizes differ from the launcher's table"
    data = pack(sprites)
    assert len(data) == PACK_SIZE, len(data)
    icons = icon.icons()
    write(os.path.join(out, "bg_home.bmp"), bmp24(home))
    write(os.path.join(out, "bg_opt.bmp"), bmp24(opt))
    write(os.path.join(out, "sprites.bin"), data)
    write(os.path.join(out, "icon.ico"), ico([(s, png(i)) for s, i in icons]))
    write(os.path.join(out, "contact.png"), png(contact_sheet(home, opt, sprites, icons)))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(*sys.argv[1:])
