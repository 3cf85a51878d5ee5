"""The art as the build made it: the same bytes on every run of the
generators; at 100 % the very pixels drawn before the art had scales; at
every scale sprites a blend can use as they are (premultiplied, none empty)
and pictures drawn anew at that resolution by the same code, not enlarged
from 100 %; and the fonts, stored as PNG images, byte for byte the fonts."""
import hashlib
import io
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
from launcher import BUILD, SOURCE  # noqa: E402

sys.path.insert(0, os.path.join(SOURCE, "tools", "art"))
import artset  # noqa: E402

PY = "/usr/bin/python3"
SCALES = [100, 125, 150, 175, 200]
with open(os.path.join(BUILD, "CMakeCache.txt")) as f:
    ART = re.search(r"^VELMORA_ART_DIR:PATH=(.*)$", f.read(), re.M).group(1)


def read(*path):
    with open(os.path.join(*path), "rb") as f:
        return f.read()


def pixels(png):
    """A picture of an art set as (h, w, 4) blue, green, red, alpha bytes,
    green added back to blue and red as the launcher does."""
    im = Image.open(io.BytesIO(png))
    a = np.array(im.convert("RGBA") if im.mode == "RGB" else im)
    out = a[:, :, [2, 1, 0, 3]].copy()
    out[:, :, 0] += out[:, :, 1]
    out[:, :, 2] += out[:, :, 1]
    return out


def art(percent):
    """The art set of a scale: its parts, both backgrounds and the sprites."""
    s = artset.parse(read(ART, "art-%d.bin" % percent))
    home = pixels(s["home"])
    opt, (x, y) = home.copy(), s["patch"]
    patch = pixels(s["patch_png"])
    opt[y:y + patch.shape[0], x:x + patch.shape[1], :3] += patch[:, :, :3]
    atlas = np.concatenate([pixels(part) for part in s["atlas"]])
    sprites = [atlas[py:py + h, px:px + w] for px, py, w, h in s["places"]]
    return s, home, opt, sprites


def edges(grey):
    """The squares of the changes between neighbouring pixels: softer edges,
    smaller squares."""
    return float((np.diff(grey, axis=0) ** 2).sum() + (np.diff(grey, axis=1) ** 2).sum())


class Art(unittest.TestCase):
    def test_a_second_run_gives_the_same_bytes(self):
        # One scale besides the files every run makes: each scale is drawn by
        # a process of its own from the same code.
        with tempfile.TemporaryDirectory() as tmp:
            fonts = os.path.join(tmp, "fonts")
            tgz = [f for f in os.listdir(os.path.join(ART, "npm")) if f.endswith(".tgz")][0]
            sha = re.search(r"CINZEL_SHA256 ([0-9a-f]{64})", read(SOURCE, "cmake", "art.cmake").decode()).group(1)
            subprocess.run([PY, os.path.join(SOURCE, "tools", "art", "fonts.py"), os.path.join(ART, "npm", tgz), sha,
                            "/usr/share/fonts/truetype/open-sans", fonts], check=True)
            subprocess.run([PY, os.path.join(SOURCE, "tools", "art", "genart.py"), fonts, tmp, "150"], check=True)
            for name in os.listdir(fonts):
                if name.endswith(".ttf"):
                    self.assertEqual(read(fonts, name), read(ART, "fonts", name), name)
            for name in ("art-150.bin", "contact-150.png", "home-150.png", "icon.ico", "ZorunCinzel.font",
                         "ZorunSans.font", "ZorunSansSemiBold.font"):
                self.assertEqual(read(tmp, name), read(ART, name), name)

    def test_at_100_per_cent_the_art_is_the_art_of_before(self):
        want = dict(line.split() for line in read(SOURCE, "tests", "reference", "art-100.txt").decode().splitlines()
                    if line and not line.startswith("#"))
        s, home, opt, sprites = art(100)
        self.assertEqual(s["dpi"], 96)
        self.assertEqual(hashlib.sha256(home[:, :, :3].tobytes()).hexdigest(), want["bg_home"])
        self.assertEqual(hashlib.sha256(opt[:, :, :3].tobytes()).hexdigest(), want["bg_opt"])
        pack = struct.pack("<I", len(sprites)) + b"".join(
            struct.pack("<HH", p.shape[1], p.shape[0]) + p.tobytes() for p in sprites)
        self.assertEqual(hashlib.sha256(pack).hexdigest(), want["sprites"])

    def test_every_scale_has_sprites_of_its_size_premultiplied_and_none_empty(self):
        base = art(100)[3]
        for percent in SCALES:
            s, home, opt, sprites = art(percent)
            self.assertEqual(s["dpi"], 96 * percent // 100)
            self.assertEqual(home.shape[:2], (560 * percent // 100, 900 * percent // 100), percent)
            for i, (px, small) in enumerate(zip(sprites, base)):
                # The launcher places a sprite at its size at 100 % scaled, half up.
                want = tuple((v * percent + 50) // 100 for v in small.shape[:2])
                self.assertEqual(px.shape[:2], want, "sprite %d at %d %%" % (i, percent))
                self.assertTrue(px[:, :, 3].any(), "sprite %d at %d %% is empty" % (i, percent))
                self.assertFalse((px[:, :, :3] > px[:, :, 3:4]).any(),
                                 "sprite %d at %d %%: colour above its alpha" % (i, percent))

    def test_each_scale_is_drawn_anew_by_the_same_code(self):
        # Made small again (an area average), a scale's background is the 100 %
        # one: the same drawing. Yet it is no enlargement of the 100 % one: its
        # edges are much sharper than those of the 100 % background enlarged.
        small = art(100)[1][:, :, :3].astype(np.float64)
        for percent in SCALES[1:]:
            home = art(percent)[1][:, :, :3]
            h, w = home.shape[:2]
            back = np.array(Image.fromarray(home).resize((900, 560), Image.BOX)).astype(np.float64)
            self.assertLess(np.abs(back - small).mean(), 2.5, "%d %% is another drawing" % percent)
            enlarged = np.array(Image.fromarray(small.astype(np.uint8)).resize((w, h), Image.BILINEAR))
            self.assertGreater(edges(home.mean(axis=2)), 1.4 * edges(enlarged.mean(axis=2)),
                               "%d %% is as soft as 100 %% enlarged" % percent)

    def test_the_fonts_are_stored_byte_for_byte(self):
        for name in ("ZorunCinzel", "ZorunSans", "ZorunSansSemiBold"):
            data = read(ART, name + ".font")
            length = struct.unpack_from("<I", data)[0]
            grey = np.array(Image.open(io.BytesIO(data[4:])))
            self.assertEqual(grey.dtype, np.uint8)
            self.assertEqual(grey.tobytes()[:length], read(ART, "fonts", name + ".ttf"), name)
            self.assertFalse(grey.tobytes()[length:].strip(b"\0"), name + ": more than the font")


if __name__ == "__main__":
    unittest.main(verbosity=2)
