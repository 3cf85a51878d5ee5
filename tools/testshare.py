#!/usr/bin/env python3
"""The share of test code in all code, printed at the end of 'make test'.

Counts the lines of the source files (C++, Python, shell, CMake, the Makefile,
configured templates) the same way every time: without the build folder,
generated files, demo data, fuzz seeds and findings, and licences. Code that
exists only for the tests counts as test code wherever it lives."""
import os

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SKIP = {"build", ".git", "demo", os.path.join("fuzz", "seeds"), os.path.join("fuzz", "regressions")}
TEST_ONLY = {os.path.join("cmake", "wine-run"), os.path.join("tools", "testshare.py")}
KINDS = [("tests", ("tests",)), ("launcher", ("app", "net", "update", "ui", "render", "res")),
         ("tools", ("tools",)), ("benchmarks", ("bench",)), ("fuzz targets", ("fuzz",))]


def counted(rel):
    name = os.path.basename(rel)
    return rel in TEST_ONLY or name in ("CMakeLists.txt", "Makefile") or \
        name.endswith((".cpp", ".h", ".py", ".sh", ".cmake", ".in"))


def main():
    lines = {}
    for top, dirs, files in os.walk(ROOT):
        dirs[:] = [d for d in dirs if os.path.relpath(os.path.join(top, d), ROOT) not in SKIP]
        for f in files:
            rel = os.path.relpath(os.path.join(top, f), ROOT)
            if not counted(rel):
                continue
            kind = "tests" if rel in TEST_ONLY else next(
                (k for k, folders in KINDS if rel.split(os.sep)[0] in folders), "build files")
            with open(os.path.join(ROOT, rel), "rb") as fh:
                lines[kind] = lines.get(kind, 0) + fh.read().count(b"\n")
    total = sum(lines.values())
    tests = lines.get("tests", 0)
    print("test share: %d of %d lines, %.1f %% (%s)" % (
        tests, total, 100.0 * tests / total,
        ", ".join("%s %d" % (k, lines.get(k, 0)) for k in [k for k, _ in KINDS] + ["build files"])))


if __name__ == "__main__":
    main()
