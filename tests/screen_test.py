"""The launcher centres its window on screens of several sizes, smaller ones included.

Each size is its own X screen (Xvfb) and its own Wine session, since Wine takes
the screen size from the display its server started on."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
import wine  # noqa: E402


class Centring(unittest.TestCase):
    def place(self, size):
        with wine.session(size=size, name="screen") as env:
            launcher = wine.start(env, wine.LAUNCHER)
            try:
                with tempfile.TemporaryDirectory() as tmp:
                    out = os.path.join(tmp, "rect.txt")
                    rc = wine.run(env, os.path.join(wine.PROGRAMS, "probe.exe"), "rect", wine.win_path(out))
                    self.assertEqual(rc, 0, "no launcher window on a %s screen" % size)
                    left, top, right, bottom = map(int, open(out).read().split())
                wine.run(env, os.path.join(wine.PROGRAMS, "probe.exe"), "close")
                self.assertEqual(launcher.wait(20), 0)
            finally:
                if launcher.poll() is None:
                    launcher.kill()
        self.assertEqual((right - left, bottom - top), (900, 560))
        return left, top

    def test_sizes(self):
        for size, at in [("1366x768", (233, 104)), ("1365x768", (232, 104)), ("800x600", (-50, 20))]:
            with self.subTest(size=size):
                self.assertEqual(self.place(size), at)


if __name__ == "__main__":
    unittest.main(verbosity=2)
