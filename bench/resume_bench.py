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
import os
import shutil
import sys

SOURCE = os.environ.get("VELMORA_SOURCE") or os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("VELMORA_BUILD") or os.path.join(SOURCE, "build", "x64")
sys.path.insert(0, os.path.join(SOURCE, "tools"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import nginx  # noqa: E402
from net_bench import md5_file, win, wine  # noqa: E402

BENCH = os.path.join(BUILD, "bench", "net_bench.exe")
SCRATCH = os.path.join(SOURCE, "build", "bench-resume")
MIB = 1 << 20
SIZE = 256 * MIB
CUT = 32 * MIB
NAME = "big.bin"


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
