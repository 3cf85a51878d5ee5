#!/usr/bin/env python3
"""Runs the built launcher under Wine and saves a screenshot of its window.

On the caller's display when DISPLAY is set (the person closes the window);
otherwise on a private Xvfb, where the demo ends the launcher by itself."""
import os
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import winenv  # noqa: E402

BUILD = os.path.join(ROOT, "build")
LAUNCHER = os.path.join(BUILD, "x64", "VelmoraLauncher.exe")
PROBE = os.path.join(BUILD, "x64", "testprograms", "probe.exe")
OUT = os.path.join(BUILD, "demo")


def wine(env, *args, timeout=60):
    with tempfile.TemporaryFile() as out:
        return subprocess.run(["wine", *args], env=env, stdout=out, stderr=out,
                              stdin=subprocess.DEVNULL, timeout=timeout).returncode


def window_rect(env):
    with tempfile.TemporaryDirectory() as tmp:
        f = os.path.join(tmp, "rect")
        if wine(env, PROBE, "rect", "Z:" + f.replace("/", "\\")) != 0:
            return None
        return tuple(map(int, open(f).read().split()))


def screenshot(env, name):
    rect = window_rect(env)
    if not rect:
        return None
    left, top, right, bottom = rect
    path = os.path.join(OUT, name)
    subprocess.run(["/usr/bin/import", "-display", env["DISPLAY"], "-window", "root",
                    "-crop", "%dx%d+%d+%d" % (right - left, bottom - top, max(left, 0), max(top, 0)),
                    "+repage", path], check=True, env=env)
    return path


def main():
    os.makedirs(OUT, exist_ok=True)
    interactive = bool(os.environ.get("DISPLAY"))
    with winenv.session(BUILD) as env:
        log = open(os.path.join(OUT, "launcher.log"), "wb")
        launcher = subprocess.Popen(["wine", LAUNCHER], env=env, stdout=log, stderr=log,
                                    stdin=subprocess.DEVNULL)
        time.sleep(3)
        shot = screenshot(env, "launcher.png")
        print("demo: window screenshot: %s" % (shot or "none (no window appeared)"))
        if interactive:
            print("demo: the launcher is open on your display; close it to end the demo")
            launcher.wait()
        else:
            wine(env, PROBE, "close")
            try:
                launcher.wait(15)
            except subprocess.TimeoutExpired:
                launcher.kill()
        print("demo: launcher ended with exit code %s" % launcher.returncode)
        return 0 if shot and launcher.returncode == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
