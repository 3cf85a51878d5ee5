#!/usr/bin/env python3
"""Resume on a bad link: the update run fetching a 256 MiB file from nginx
through a link that drops the connection after every 32 MiB.

  resume     the launcher as shipped: each try asks for the rest (Range,
             If-Range); the bytes nginx sent over the file's size (goal <= 1.05)
  no resume  the same run against the same nginx with ranges turned off
             (max_ranges 0), as a launcher that cannot resume sees every site:
             each try starts from zero and can never get past 32 MiB

Both runs are the launcher's own update run (bench/net_bench.exe update) with
its real waits between tries, measured one after the other. Scratch files live
under build/ and are deleted afterwards."""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

SOURCE = os.environ.get("VELMORA_SOURCE") or os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("VELMORA_BUILD") or os.path.join(SOURCE, "build", "x64")
sys.path.insert(0, os.path.join(SOURCE, "tools"))
import nginx  # noqa: E402

BENCH = os.path.join(BUILD, "bench", "net_bench.exe")
SCRATCH = os.path.join(SOURCE, "build", "bench-resume")
MIB = 1 << 20
SIZE = 256 * MIB
CUT = 32 * MIB
NAME = "big.bin"


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine(*args, timeout=900):
    """Runs a Windows program; its output through a file (a pipe may hang)."""
    with tempfile.TemporaryFile() as out:
        rc = subprocess.run(["wine", *args], stdout=out, stderr=subprocess.DEVNULL,
                            stdin=subprocess.DEVNULL, timeout=timeout).returncode
        out.seek(0)
        text = out.read().decode("utf-8", "replace")
    if rc != 0:
        raise SystemExit("%s failed (%d): %s" % (" ".join(args), rc, text))
    return dict(line.split("=", 1) for line in text.splitlines() if "=" in line)


def run(site, ranges, digest):
    """One update run of an empty game folder through a dropping link; returns
    (bytes nginx sent for the file, requests, whether the file arrived whole, seconds)."""
    game = os.path.join(SCRATCH, "game")
    shutil.rmtree(game, ignore_errors=True)
    os.makedirs(game)
    site.set_ranges(ranges)
    before = len(site.log())
    with nginx.Link(site.port, cut=CUT) as link:
        r = wine(BENCH, "update", win(game), link.url)
    asked = [x for x in site.log()[before:] if x["path"] == "/update/files/" + NAME]
    got = os.path.join(game, NAME)
    whole = os.path.exists(got) and md5_file(got) == digest
    return sum(x["body"] for x in asked), len(asked), whole, float(r["seconds"])


def md5_file(path):
    h = hashlib.md5()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(MIB), b""):
            h.update(block)
    return h.hexdigest()


def main():
    if not os.path.exists(BENCH):
        raise SystemExit("missing %s: build first (make x64)" % BENCH)
    shutil.rmtree(SCRATCH, ignore_errors=True)
    root = os.path.join(SCRATCH, "site")
    os.makedirs(os.path.join(root, "update", "files"))
    big = os.path.join(root, "update", "files", NAME)
    with open(big, "wb") as f:
        for _ in range(SIZE // MIB):
            f.write(os.urandom(MIB))
    digest = md5_file(big)
    with open(os.path.join(root, "update", "lista.txt"), "w") as f:
        f.write("%s|%s|%d\n" % (NAME, digest, SIZE))
    try:
        # Over loopback the kernel lets a socket's send buffer grow to several
        # MiB, all of it "sent" by nginx and lost at each drop; a home link
        # holds far less in flight. A send buffer of 256 KiB stands for it.
        with nginx.Nginx(root, os.path.join(SCRATCH, "nginx"), sndbuf=256 << 10) as site:
            sent, tries, whole, secs = run(site, True, digest)
            if not whole:
                raise SystemExit("the resumed run did not bring the file whole")
            print("resume     %4d MiB file, a drop every %d MiB: %d requests, nginx sent %.1f MiB, "
                  "ratio %.3f (goal <= 1.05), %.0f s" % (SIZE // MIB, CUT // MIB, tries, sent / MIB,
                                                        sent / SIZE, secs), flush=True)
            sent0, tries0, whole0, secs0 = run(site, False, digest)
            print("no resume  the same link: %d tries, nginx sent %.1f MiB (%.2f x the file) and the file %s"
                  % (tries0, sent0 / MIB, sent0 / SIZE,
                     "arrived" if whole0 else "never arrived: no try can carry more than %d MiB" % (CUT // MIB)),
                  flush=True)
    finally:
        shutil.rmtree(SCRATCH, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
