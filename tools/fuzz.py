#!/usr/bin/env python3
"""Fuzzes the parsers of the site's documents and the gzip the manifest may
come in (make fuzz).

Builds fuzz/ natively with clang (libFuzzer, AddressSanitizer,
UndefinedBehaviorSanitizer) into build/fuzz, then runs each target for a
bounded time, both at once when there are two cores. A target starts from
its corpus in build/fuzz/corpus (kept between runs), the seeds taken from the
tests (fuzz/seeds) and every past finding (fuzz/regressions), and prints how
many inputs it ran. A finding is saved under build/fuzz/findings and ends the
run with exit code 1: copy it to fuzz/regressions/<target>/, add a test of the
same input to the parser's GoogleTest file, and mend the parser.

    fuzz.py [--seconds N] [--runs N] [--jobs N] [TARGET...]

FUZZ_SECONDS and FUZZ_RUNS in the environment give the defaults of --seconds
and --runs; the default time is 240 seconds a target.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCE = os.path.join(ROOT, "fuzz")
BUILD = os.path.join(ROOT, "build", "fuzz")

# The longest input each target is given. The feed is read up to 8191 bytes;
# the manifest up to 16 MiB, but its parser has nothing that depends on the
# length but the entry cap, which the target sets low, and shorter inputs run
# several times faster. Gunzip's input is a member, or data to compress.
TARGETS = {"feed": 8191, "manifest": 16384, "gunzip": 65536}


def build():
    cxx = shutil.which("clang++")
    if not cxx:
        raise SystemExit("fuzz: clang++ is missing: run 'make setup'")
    quiet = dict(stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "-S", SOURCE, "-B", BUILD, "-G", "Ninja", "-DCMAKE_CXX_COMPILER=" + cxx],
                   check=True, **quiet)
    subprocess.run(["cmake", "--build", BUILD], check=True, **quiet)


def start(name, seconds, runs):
    corpus = os.path.join(BUILD, "corpus", name)
    findings = os.path.join(BUILD, "findings")
    os.makedirs(corpus, exist_ok=True)
    os.makedirs(findings, exist_ok=True)
    # New inputs go to the first folder, the corpus; seeds and regressions
    # are only read.
    dirs = [corpus] + [d for d in (os.path.join(SOURCE, "seeds", name), os.path.join(SOURCE, "regressions", name))
                       if os.path.isdir(d)]
    cmd = [os.path.join(BUILD, name + "_fuzz"), *dirs,
           *(["-dict=" + os.path.join(SOURCE, name + ".dict")] if os.path.exists(os.path.join(SOURCE, name + ".dict")) else []),
           "-max_len=%d" % TARGETS[name],
           "-max_total_time=%d" % seconds,
           "-artifact_prefix=" + os.path.join(findings, name + "-"),
           "-print_final_stats=1"]
    if runs:
        cmd.append("-runs=%d" % runs)
    log = open(os.path.join(BUILD, name + ".log"), "wb")
    return subprocess.Popen(cmd, stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL), log


def report(name, proc, seconds):
    path = os.path.join(BUILD, name + ".log")
    text = open(path, encoding="utf-8", errors="replace").read()
    runs = re.search(r"stat::number_of_executed_units:\s*(\d+)", text)
    runs = int(runs.group(1)) if runs else 0
    took = re.search(r"Done \d+ runs in (\d+) second", text)
    took = int(took.group(1)) if took else seconds
    size = len(os.listdir(os.path.join(BUILD, "corpus", name)))
    if proc.returncode == 0:
        rate = runs // max(took, 1)
        print("fuzz: %s: %s runs in %d s (%s a second), corpus of %d inputs: no finding"
              % (name, "{:,}".format(runs), took, "{:,}".format(rate), size))
        return runs, True
    found = re.findall(r"Test unit written to (\S+)", text)
    print("fuzz: %s: FINDING after %s runs%s; log %s" % (
        name, "{:,}".format(runs), (": " + found[-1]) if found else "", os.path.relpath(path, ROOT)))
    for line in text.splitlines():
        if "ERROR:" in line or "runtime error" in line or "check failed" in line:
            print("fuzz:   " + line.strip())
    return runs, False


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--seconds", type=int, default=int(os.environ.get("FUZZ_SECONDS") or 240))
    ap.add_argument("--runs", type=int, default=int(os.environ.get("FUZZ_RUNS") or 0),
                    help="stop a target after this many runs (0: only the time bounds it)")
    ap.add_argument("--jobs", type=int, default=min(2, os.cpu_count() or 1),
                    help="targets run at once")
    ap.add_argument("targets", nargs="*", default=list(TARGETS))
    args = ap.parse_args()
    for t in args.targets:
        if t not in TARGETS:
            ap.error("no target %s (there are %s)" % (t, ", ".join(TARGETS)))
    build()
    print("fuzz: %s, %d s each%s" % (", ".join(args.targets), args.seconds,
                                      ", at most %d runs" % args.runs if args.runs else ""))
    ok = True
    pending = list(args.targets)
    running = []
    while pending or running:
        while pending and len(running) < max(args.jobs, 1):
            name = pending.pop(0)
            running.append((name,) + start(name, args.seconds, args.runs))
        name, proc, log = running.pop(0)
        try:
            # libFuzzer stops itself; the margin covers loading a large corpus.
            proc.wait(args.seconds + 300)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
        log.close()
        ok = report(name, proc, args.seconds)[1] and ok
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
