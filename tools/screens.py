#!/usr/bin/env python3
"""make screens: the launcher's window in its key states at every scale (100,
125, 150, 175 and 200 %), as PNGs under build/screens/ for a person to review,
named after the state and the scale ("02-home-online-news-150.png").

build/x64/screens.exe draws each state through the launcher's own paint cycle
with the art of each scale. It runs on a 1920 x 1080 screen for every state
and once more on a 1366 x 768 screen for the open resolution list, whose tags
depend on the screen size; each screen size is its own Wine session.
docs/home-150.png, which the README shows, is 02-home-online-news-150.png."""
import glob
import os
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import winenv  # noqa: E402

BUILD = os.path.join(ROOT, "build")
EXE = os.path.join(BUILD, "x64", "screens.exe")
OUT = os.path.join(BUILD, "screens")
CONVERT = "/usr/bin/convert"


SCALES = ["100", "125", "150", "175", "200"]


def render(size, only=None):
    with winenv.session(BUILD, size=size, prefix=os.path.join(BUILD, "wine", "prefix-screens")) as env:
        log = os.path.join(OUT, "screens-%s.log" % size)
        args = [winenv.win_path(OUT)] + SCALES + (["--only", only] if only else [])
        if winenv.run(env, EXE, *args, timeout=300, log=log) != 0:
            raise SystemExit("screens.exe failed on a %s screen; see %s" % (size, log))
        os.unlink(log)


def main():
    if not os.path.exists(EXE):
        raise SystemExit("missing %s: build first (make x64)" % EXE)
    shutil.rmtree(OUT, ignore_errors=True)
    os.makedirs(OUT)
    render("1920x1080")
    render("1366x768", "07-list-open")
    for bmp in sorted(glob.glob(os.path.join(OUT, "*.bmp"))):
        png = bmp[:-4] + ".png"
        subprocess.run([CONVERT, bmp, png], check=True)
        os.unlink(bmp)
        print(os.path.relpath(png, ROOT))
    return 0


if __name__ == "__main__":
    sys.exit(main())
