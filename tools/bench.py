#!/usr/bin/env python3
"""Runs every bench/*_bench.py inside the current Wine session (make bench)."""
import glob
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def main():
    scripts = sorted(glob.glob(os.path.join(ROOT, "bench", "*_bench.py")))
    if not scripts:
        print("bench: no benchmarks yet")
        return 0
    env = dict(os.environ, VELMORA_SOURCE=ROOT, VELMORA_BUILD=os.path.join(ROOT, "build", "x64"))
    failed = 0
    for script in scripts:
        print("== %s" % os.path.basename(script), flush=True)
        failed |= subprocess.run([sys.executable, script], env=env).returncode != 0
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
