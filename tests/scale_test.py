"""The window at every scale the system can give it. A Wine session of its own
(its own prefix, a 1920 x 1080 screen) takes each scale in turn as the
system's DPI: Wine reads LogPixels (HKCU\\Control Panel\\Desktop) when a program
starts, so setting it between two programs is enough, with no new session.
At each scale the built launcher's window must open at its size there,
centred (app_test's Exe test), and the window must take its clicks, volume,
list rows and toast where it draws them and move to a monitor of another
scale (ui_test's Scaled tests). 100 % is make test's own session; 132 and
240 DPI stand for the scales between and above the art's."""
import os
import re
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
from launcher import BUILD, ROOT, winenv  # noqa: E402

SCALES = [120, 144, 168, 192, 132, 240]
RUNS = [("app_test.exe", "Exe.ABorderlessCentredWindow*"), ("ui_test.exe", "Scaled.*")]
DESKTOP = r"HKCU\Control Panel\Desktop"


class Scales(unittest.TestCase):
    def test_the_window_at_every_scale(self):
        logs = os.path.join(BUILD, "scale-test")
        os.makedirs(logs, exist_ok=True)
        prefix = os.path.join(ROOT, "wine", "prefix-scale")
        with winenv.session(ROOT, size="1920x1080", prefix=prefix) as env:
            try:
                for dpi in SCALES:
                    self.assertEqual(winenv.run(env, "reg", "add", DESKTOP, "/v", "LogPixels", "/t", "REG_DWORD",
                                                "/d", str(dpi), "/f"), 0)
                    for exe, tests in RUNS:
                        with self.subTest(dpi=dpi, tests=tests):
                            log = os.path.join(logs, "%s-%d.txt" % (exe[:-4], dpi))
                            if os.path.exists(log):
                                os.unlink(log)
                            rc = winenv.run(env, os.path.join(BUILD, "tests", exe), "--gtest_filter=" + tests,
                                            timeout=120, log=log)
                            with open(log, errors="replace") as f:
                                text = f.read()
                            self.assertIn("the system's scale: %d dpi" % dpi, text, "the scale did not reach " + exe)
                            self.assertEqual(rc, 0, "%s at %d dpi:\n%s" % (exe, dpi, text[-3000:]))
                            self.assertRegex(text, re.compile(r"\[  PASSED  \] [1-9]"))
            finally:
                winenv.run(env, "reg", "delete", DESKTOP, "/v", "LogPixels", "/f")


if __name__ == "__main__":
    unittest.main(verbosity=2)
