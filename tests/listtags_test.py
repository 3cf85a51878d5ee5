"""The open resolution list tags each row by comparing it with the screen:
render_test's List.TagsFollowTheScreenSize checks the tags for a 1920 x 1080
and a 1366 x 768 screen. Wine takes the screen size from the display its
server started on, so each size is its own session, and the test must run
(not skip) in each."""
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
import wine  # noqa: E402

RENDER_TEST = os.path.join(wine.BUILD, "tests", "render_test.exe")


class ListTags(unittest.TestCase):
    def run_on(self, size):
        with wine.session(size=size, name="render") as env:
            env = dict(env, VELMORA_SCREEN=size)
            with tempfile.TemporaryFile() as out:
                rc = subprocess.run(["wine", RENDER_TEST, "--gtest_filter=List.TagsFollowTheScreenSize"],
                                    env=env, stdout=out, stderr=out, stdin=subprocess.DEVNULL,
                                    timeout=120).returncode
                out.seek(0)
                text = out.read().decode("utf-8", "replace")
        return rc, text

    def test_tags_on_both_screens(self):
        for size in ("1920x1080", "1366x768"):
            with self.subTest(size=size):
                rc, text = self.run_on(size)
                self.assertEqual(rc, 0, text)
                self.assertIn("[  PASSED  ] 1 test", text)
                self.assertNotIn("SKIPPED", text, "no tag check ran on a %s screen" % size)


if __name__ == "__main__":
    unittest.main(verbosity=2)
