#!/usr/bin/env python3
"""The share of test code in all code, printed at the end of 'make test': the
lines of the C++, Python, shell and CMake sources, the Makefile and configured
templates, without build/, demo data, fuzz seeds and findings. Code that exists
only for the tests counts as test code wherever it lives."""
import os

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SKIP = {"build", ".git", "demo", "fuzz/seeds", "fuzz/regressions"}
TEST_ONLY = {"cmake/wine-run", "tools/testshare.py"}
KINDS = {"tests": "tests", "app": "launcher", "net": "launcher", "update": "launcher", "ui": "launcher",
         "render": "launcher", "res": "launcher", "tools": "tools", "bench": "benchmarks", "fuzz": "fuzz targets"}

lines = dict.fromkeys(["tests", "launcher", "tools", "benchmarks", "fuzz targets", "build files"], 0)
for top, dirs, files in os.walk(ROOT):
    dirs[:] = [d for d in dirs if os.path.relpath(os.path.join(top, d), ROOT) not in SKIP]
    for f in files:
        rel = os.path.relpath(os.path.join(top, f), ROOT)
        if rel in TEST_ONLY or f in ("CMakeLists.txt", "Makefile") or f.endswith((".cpp", ".h", ".py", ".sh", ".cmake", ".in")):
            kind = "tests" if rel in TEST_ONLY else KINDS.get(rel.split(os.sep)[0], "build files")
            with open(os.path.join(ROOT, rel), "rb") as fh:
                lines[kind] += fh.read().count(b"\n")
total = sum(lines.values())
print("test share: %d of %d lines, %.1f %% (%s)" % (lines["tests"], total, 100.0 * lines["tests"] / total,
                                                   ", ".join("%s %d" % kv for kv in lines.items())))
