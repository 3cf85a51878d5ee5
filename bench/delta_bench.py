#!/usr/bin/env python3
"""A delta update of a large archive, side by side with Debian's zsync: a 1 GiB
file changed by ten scattered rewrites of 64 KiB, one 100-byte insertion near
the start and 16 MiB appended, brought from the old version to the new one
over the same nginx:

  launcher   the update run of a game folder holding the old file, placed and
             recorded by an earlier run as a player's is (its copy written an
             hour before), against the site lista published, chunk maps
             included (bench/net_bench.exe update: the run inside the process)
  zsync      zsync updating a copy of the same old file, with the control
             file zsyncmake made of the new one (the run of its process)
  whole      the launcher's update run of a folder without the file: the whole
             download, for scale

For each: the bytes nginx sent (headers included; the map and the control file
counted) and the wall time, the best of three rounds taken in turn. Goals: the
launcher's bytes at most zsync's and at most 2.5 % of the file; its time at
most zsync's. Scratch files (about 5 GiB) live under build/ and are deleted
afterwards."""
import os
import shutil
import subprocess
import sys
import time

import numpy

SOURCE = os.environ.get("VELMORA_SOURCE") or os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("VELMORA_BUILD") or os.path.join(SOURCE, "build", "x64")
sys.path.insert(0, os.path.join(SOURCE, "tools"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import nginx  # noqa: E402
from net_bench import md5_file, win, wine  # noqa: E402

BENCH = os.path.join(BUILD, "bench", "net_bench.exe")
LISTA = os.path.join(SOURCE, "build", "native", "lista")
SCRATCH = os.path.join(SOURCE, "build", "bench-delta")
MIB = 1 << 20
SIZE = 1024 * MIB
NAME = "Data/arquivo.pak"
ROUNDS = 3


def versions(old_path, new_path):
    """The old archive and the new one, from a fixed seed."""
    rng = numpy.random.default_rng(22)
    old = rng.bytes(SIZE)
    with open(old_path, "wb") as f:
        f.write(old)
    new = bytearray(old)
    del old
    for _ in range(10):
        at = int(rng.integers(MIB, SIZE - MIB))
        new[at:at + 65536] = rng.bytes(65536)
    new[1000:1000] = rng.bytes(100)
    new += rng.bytes(16 * MIB)
    with open(new_path, "wb") as f:
        f.write(new)
    return len(new)


def publish(file, site):
    """A release of the one file, published by lista into site."""
    client = os.path.join(SCRATCH, "client")
    shutil.rmtree(client, ignore_errors=True)
    os.makedirs(os.path.join(client, "Data"))
    os.link(file, os.path.join(client, *NAME.split("/")))
    subprocess.run([LISTA, "-q", client, site], check=True)
    shutil.rmtree(client)


def served(site, before):
    return sum(r["sent"] for r in site.log()[before:])


def launcher(site, game, url):
    """One update run of game against the site at url: (bytes nginx sent, seconds)."""
    before = len(site.log())
    r = wine(BENCH, "update", win(game), url, timeout=1200)
    if not r.get("status", "").startswith("Jogo atualizado"):
        raise SystemExit("the launcher's run ended with: %s" % r.get("status"))
    return served(site, before), float(r["seconds"])


def old_copy(old, game, site):
    """The game folder with the old file, recorded by a run against the old
    release as the launcher records what it checked."""
    shutil.rmtree(game, ignore_errors=True)
    path = os.path.join(game, *NAME.split("/"))
    os.makedirs(os.path.dirname(path))
    shutil.copyfile(old, path)
    hour_ago = time.time() - 3600
    os.utime(path, (hour_ago, hour_ago))
    r = wine(BENCH, "update", win(game), site.url + "/velho", timeout=1200)
    if "atualizado" not in r.get("status", ""):
        raise SystemExit("the run of the old release ended with: %s" % r.get("status"))


def main():
    for path, what in ((BENCH, "make x64"), (LISTA, "make native"), ("/usr/bin/zsync", "make setup")):
        if not os.path.exists(path):
            raise SystemExit("missing %s: %s first" % (path, what))
    shutil.rmtree(SCRATCH, ignore_errors=True)
    os.makedirs(SCRATCH)
    game, root = os.path.join(SCRATCH, "game"), os.path.join(SCRATCH, "site")
    old, new = os.path.join(SCRATCH, "old.pak"), os.path.join(SCRATCH, "new.pak")
    new_size = versions(old, new)
    try:
        publish(old, os.path.join(root, "velho"))
        publish(new, os.path.join(root, "novo"))
        served_new = os.path.join(root, "novo", "update", "files", *NAME.split("/"))
        digest = md5_file(new)
        control = os.path.join(root, "zsync", "arquivo.pak.zsync")
        os.makedirs(os.path.dirname(control))
        subprocess.run(["zsyncmake", "-o", control, "-u", "../novo/update/files/" + NAME, served_new],
                       check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["chmod", "-R", "a+rX", root], check=True)  # nginx serves as nobody
        ours, zs = [], []
        with nginx.Nginx(root, os.path.join(SCRATCH, "nginx")) as site:
            for _ in range(ROUNDS):
                old_copy(old, game, site)
                ours.append(launcher(site, game, site.url + "/novo"))
                if md5_file(os.path.join(game, *NAME.split("/"))) != digest:
                    raise SystemExit("the launcher's update did not bring the new file")

                work, out = os.path.join(SCRATCH, "zsync-old.pak"), os.path.join(SCRATCH, "zsync-new.pak")
                shutil.copyfile(old, work)
                before = len(site.log())
                start = time.perf_counter()
                subprocess.run(["zsync", "-q", "-i", work, "-o", out, site.url + "/zsync/arquivo.pak.zsync"],
                               check=True, stdout=subprocess.DEVNULL, cwd=SCRATCH)
                zs.append((served(site, before), time.perf_counter() - start))
                if md5_file(out) != digest:
                    raise SystemExit("zsync did not bring the new file")
                for f in (work, out, out + ".zs-old"):
                    if os.path.exists(f):
                        os.unlink(f)
            shutil.rmtree(game)
            os.makedirs(game)
            whole = launcher(site, game, site.url + "/novo")
    finally:
        shutil.rmtree(SCRATCH, ignore_errors=True)

    our_bytes, our_secs = min(n for n, _ in ours), min(t for _, t in ours)
    z_bytes, z_secs = min(n for n, _ in zs), min(t for _, t in zs)
    print("delta      1 GiB archive, 10 rewrites of 64 KiB, 100 bytes inserted, 16 MiB appended (best of %d)" % ROUNDS)
    for what, n, secs in (("launcher", our_bytes, our_secs), ("zsync", z_bytes, z_secs), ("whole", *whole)):
        print("  %-9s nginx sent %8.2f MiB (%6.2f %% of the file)  %6.2f s" % (what, n / MIB, 100.0 * n / new_size, secs))
    print("  launcher/zsync: bytes %.3f (goal <= 1), time %.2f (goal <= 1); bytes %.2f %% of the file (goal <= 2.5)"
          % (our_bytes / z_bytes, our_secs / z_secs, 100.0 * our_bytes / new_size), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
