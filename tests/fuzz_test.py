"""A short run of the parsers' and gzip's fuzz build (make fuzz runs the long one): it
builds natively with clang and the sanitizers, replays the seeds taken from
the tests and every past finding, and fuzzes each parser for a few seconds."""
import os
import re
import subprocess
import unittest

FUZZ = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools", "fuzz.py")


class Fuzz(unittest.TestCase):
    def test_both_parsers_run_without_a_finding(self):
        out = subprocess.run(["/usr/bin/python3", FUZZ, "--seconds", "8"], capture_output=True, text=True,
                             timeout=600)
        print(out.stdout, end="")
        self.assertEqual(out.returncode, 0, out.stdout + out.stderr)
        for name in ("feed", "manifest", "gunzip"):
            m = re.search(r"^fuzz: %s: ([\d,]+) runs .*: no finding$" % name, out.stdout, re.M)
            self.assertTrue(m, "no report for %s:\n%s" % (name, out.stdout))
            # Far more than the seeds: the fuzzer itself ran.
            self.assertGreater(int(m.group(1).replace(",", "")), 10000)


if __name__ == "__main__":
    unittest.main(verbosity=2)
