"""The art as the build made it: the same bytes on every run of the
generators (fonts and pictures), and sprites a blend can use as they are:
premultiplied, and none of them empty."""
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
from launcher import BUILD, SOURCE  # noqa: E402

PY = "/usr/bin/python3"
with open(os.path.join(BUILD, "CMakeCache.txt")) as f:
    ART = re.search(r"^VELMORA_ART_DIR:PATH=(.*)$", f.read(), re.M).group(1)


def read(*path):
    with open(os.path.join(*path), "rb") as f:
        return f.read()


class Art(unittest.TestCase):
    def test_a_second_run_gives_the_same_bytes(self):
        with tempfile.TemporaryDirectory() as tmp:
            fonts = os.path.join(tmp, "fonts")
            tgz = [f for f in os.listdir(os.path.join(ART, "npm")) if f.endswith(".tgz")][0]
            sha = re.search(r"CINZEL_SHA256 ([0-9a-f]{64})", read(SOURCE, "cmake", "art.cmake").decode()).group(1)
            subprocess.run([PY, os.path.join(SOURCE, "tools", "art", "fonts.py"), os.path.join(ART, "npm", tgz), sha,
                            "/usr/share/fonts/truetype/open-sans", fonts], check=True)
            subprocess.run([PY, os.path.join(SOURCE, "tools", "art", "genart.py"), fonts, tmp], check=True)
            for name in os.listdir(fonts):
                if name.endswith(".ttf"):
                    self.assertEqual(read(fonts, name), read(ART, "fonts", name), name)
            for name in ("bg_home.bmp", "bg_opt.bmp", "sprites.bin", "icon.ico", "contact.png"):
                self.assertEqual(read(tmp, name), read(ART, name), name)

    def test_sprites_are_premultiplied_and_none_is_empty(self):
        data = read(ART, "sprites.bin")
        count, at = struct.unpack_from("<I", data)[0], 4
        for i in range(count):
            w, h = struct.unpack_from("<HH", data, at)
            px = data[at + 4:at + 4 + w * h * 4]
            at += 4 + w * h * 4
            alpha = px[3::4]
            self.assertTrue(any(alpha), "sprite %d is empty" % i)
            for c in range(3):
                self.assertFalse(any(v > a for v, a in zip(px[c::4], alpha)), "sprite %d: colour above its alpha" % i)
        self.assertEqual(at, len(data))


if __name__ == "__main__":
    unittest.main(verbosity=2)
