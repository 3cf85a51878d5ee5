"""The art as the build made it: the same bytes on every run, fonts under the
launcher's family names, and sprites that fit the places the launcher gives
them (the clickable rectangle of each element on the visible button, every
state of a widget distinct from the others)."""
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest

import numpy as np
from fontTools.ttLib import TTFont

SOURCE = os.environ.get("VELMORA_SOURCE") or os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("VELMORA_BUILD") or os.path.join(SOURCE, "build", "x64")
PY = "/usr/bin/python3"


def art_dir():
    with open(os.path.join(BUILD, "CMakeCache.txt")) as f:
        cache = f.read()
    return re.search(r"^VELMORA_ART_DIR:PATH=(.*)$", cache, re.M).group(1)


ART = art_dir()
OUTPUTS = ["bg_home.bmp", "bg_opt.bmp", "sprites.bin", "icon.ico", "contact.png"]


def read(*path):
    with open(os.path.join(*path), "rb") as f:
        return f.read()


def sprites():
    """The pack's sprites as (h, w, 4) arrays of B, G, R, A."""
    data = read(ART, "sprites.bin")
    count, at, out = struct.unpack_from("<I", data)[0], 4, []
    for _ in range(count):
        w, h = struct.unpack_from("<HH", data, at)
        at += 4
        out.append(np.frombuffer(data, np.uint8, w * h * 4, at).reshape(h, w, 4))
        at += w * h * 4
    return out


# Elements and their sprites: (name, element rectangle, sprite place, first index, states).
ELEMENTS = [
    ("BtnPlay", (666, 456, 876, 538), (656, 446), 0, 4),
    ("BtnSave", (420, 400, 544, 432), (410, 390), 4, 3),
    ("BtnShortcut", (44, 400, 306, 432), (34, 390), 7, 3),
    ("LinkSite", (622, 34, 708, 64), (612, 24), 10, 3),
    ("LinkRegister", (716, 34, 828, 64), (706, 24), 13, 3),
    ("TabHome", (318, 26, 438, 70), (308, 16), 16, 3),
    ("TabOptions", (446, 26, 566, 70), (436, 16), 19, 3),
    ("BtnMinimize", (832, 8, 862, 34), (832, 8), 22, 2),
    ("BtnClose", (864, 8, 894, 34), (864, 8), 24, 2),
    ("ResDropdown", (218, 190, 518, 224), (208, 180), 33, 4),
    ("ModeWindowed", (218, 236, 368, 270), (208, 226), 37, 3),
    ("ModeFullscreen", (368, 236, 518, 270), (358, 226), 40, 3),
]


class Art(unittest.TestCase):
    def test_a_second_run_gives_the_same_bytes(self):
        with tempfile.TemporaryDirectory() as tmp:
            fonts = os.path.join(tmp, "fonts")
            tgz = [f for f in os.listdir(os.path.join(ART, "npm")) if f.endswith(".tgz")][0]
            cmake = read(SOURCE, "cmake", "art.cmake").decode()
            sha = re.search(r"CINZEL_SHA256 ([0-9a-f]{64})", cmake).group(1)
            subprocess.run([PY, os.path.join(SOURCE, "tools", "art", "fonts.py"),
                            os.path.join(ART, "npm", tgz), sha, "/usr/share/fonts/truetype/open-sans", fonts],
                           check=True)
            for name in ("ZorunCinzel.ttf", "ZorunSans.ttf", "ZorunSansSemiBold.ttf"):
                with self.subTest(font=name):
                    self.assertEqual(read(fonts, name), read(ART, "fonts", name))
            subprocess.run([PY, os.path.join(SOURCE, "tools", "art", "genart.py"), fonts, tmp], check=True)
            for name in OUTPUTS:
                with self.subTest(output=name):
                    self.assertEqual(read(tmp, name), read(ART, name))

    def test_fonts_carry_the_launcher_family_names(self):
        for name, family, weight in (("ZorunCinzel.ttf", "Zorun Cinzel", 700),
                                     ("ZorunSans.ttf", "Zorun Sans", 400),
                                     ("ZorunSansSemiBold.ttf", "Zorun Sans SemiBold", 600)):
            with self.subTest(font=name):
                font = TTFont(os.path.join(ART, "fonts", name))
                names = font["name"].names
                self.assertEqual({n.toUnicode() for n in names if n.nameID == 1}, {family})
                self.assertEqual({n.toUnicode() for n in names if n.nameID == 2}, {"Regular"})
                self.assertFalse([n for n in names if n.nameID in (16, 17)], "typographic family left")
                self.assertEqual(font["OS/2"].usWeightClass, weight)
                self.assertNotIn("DSIG", font)

    def test_clickable_rectangles_lie_on_the_visible_buttons(self):
        spr = sprites()
        for name, (l, t, r, b), (px, py), first, states in ELEMENTS:
            for k in range(states):
                with self.subTest(element=name, sprite=first + k):
                    s = spr[first + k]
                    body = s[t - py:b - py, l - px:r - px, 3]
                    self.assertEqual(body.shape, (b - t, r - l), "rectangle outside the sprite")
                    # Rounded or cut corners leave a few pixels out; the rest is seen.
                    seen = (body >= 64).mean()
                    self.assertGreaterEqual(seen, 0.97, "%.1f%% of the rectangle visible" % (seen * 100))
        # The toggles: a pill-shaped switch fills (4, 4)-(50, 30) of its sprite
        # (a full pill covers 88% of its box).
        for k in range(26, 30):
            with self.subTest(sprite=k):
                self.assertGreaterEqual((spr[k][4:30, 4:50, 3] >= 64).mean(), 0.86)

    def test_every_state_of_a_widget_looks_different(self):
        spr = sprites()
        groups = [(first, states) for _, _, _, first, states in ELEMENTS]
        groups += [(26, 4), (30, 3)]
        for first, states in groups:
            for i in range(first, first + states):
                for j in range(i + 1, first + states):
                    with self.subTest(sprites=(i, j)):
                        diff = np.abs(spr[i].astype(np.int16) - spr[j].astype(np.int16)).mean()
                        self.assertGreater(diff, 4.0, "states %d and %d look alike" % (i, j))

    def test_contact_sheet_shows_all_of_it(self):
        png = read(ART, "contact.png")
        self.assertEqual(png[:8], b"\x89PNG\r\n\x1a\n")
        width, height = struct.unpack(">II", png[16:24])
        self.assertGreaterEqual(width, 2 * 900)
        self.assertGreater(height, 560 + 45 * 8)


if __name__ == "__main__":
    unittest.main(verbosity=2)
