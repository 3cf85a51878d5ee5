#!/usr/bin/env python3
"""A delta update of a large archive, side by side with Debian's zsync: a 1 GiB
file changed by ten scattered rewrites of 64 KiB, one 100-byte insertion near
the start and 16 MiB appended, brought from the old version to the new one
over the same nginx:

  launcher   the update run of a game folder holding the old file (placed and
             recorded by an earlier run, as a player's is), against the site
             lista published, chunk maps included
  zsync      zsync updating a copy of the same old file, with the control
             file zsyncmake made of the new one
  whole      the launcher's update run of a folder without the file: the whole
             download, for scale

For each: the bytes nginx sent (headers included; the map and the control file
counted) and the wall time. Goals: the launcher's bytes at most zsync's and at
most 2.5 % of the file; its time at most zsync's. The launcher's time is its
update run inside the process (bench/net_bench.exe update), zsync's the run of
its process. Scratch files (about 4 GiB) live under build/ and are deleted
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
URL = "/update/files/" + NAME


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


def publish(client, site):
    subprocess.run([LISTA, "-q", client, site], check=True)
    for d, _, files in os.walk(site):  # nginx serves as nobody
        os.chmod(d, 0o755)
        for f in files:
            os.chmod(os.path.join(d, f), 0o644)


def served(site, before):
    return sum(r["sent"] for r in site.log()[before:])


def launcher(site, game):
    """One update run of game against the site: (bytes nginx sent, seconds)."""
    before = len(site.log())
    r = wine(BENCH, "update", win(game), site.url, timeout=1200)
    if not r.get("status", "").startswith("Jogo atualizado"):
        raise SystemExit("the launcher's run ended with: %s" % r.get("status"))
    return served(site, before), float(r["seconds"])


def main():
    for path, what in ((BENCH, "make x64"), (LISTA, "make native"), ("/usr/bin/zsync", "make setup")):
        if not os.path.exists(path):
            raise SystemExit("missing %s: %s first" % (path, what))
    shutil.rmtree(SCRATCH, ignore_errors=True)
    client, game, root = (os.path.join(SCRATCH, d) for d in ("client", "game", "site"))
    os.makedirs(os.path.join(client, "Data"))
    os.makedirs(os.path.join(game, "Data"))
    old = os.path.join(SCRATCH, "old.pak")
    new_size = versions(old, os.path.join(SCRATCH, "new.pak"))
    try:
        with nginx.Nginx(root, os.path.join(SCRATCH, "nginx")) as site:
            # The old release, placed and recorded by the launcher as a player's is.
            shutil.copyfile(old, os.path.join(client, *NAME.split("/")))
            publish(client, root)
            shutil.copyfile(old, os.path.join(game, *NAME.split("/")))
            wine(BENCH, "update", win(game), site.url, timeout=1200)
            # The new release.
            os.replace(os.path.join(SCRATCH, "new.pak"), os.path.join(client, *NAME.split("/")))
            publish(client, root)
            new = os.path.join(root, "update", "files", *NAME.split("/"))
            digest = md5_file(new)
            ours, our_secs = launcher(site, game)
            if md5_file(os.path.join(game, *NAME.split("/"))) != digest:
                raise SystemExit("the launcher's update did not bring the new file")

            control = os.path.join(root, "zsync", "arquivo.pak.zsync")
            os.makedirs(os.path.dirname(control))
            subprocess.run(["zsyncmake", "-o", control, "-u", "../update/files/" + NAME, new],
                           check=True, stdout=subprocess.DEVNULL)
            os.chmod(control, 0o644)
            work = os.path.join(SCRATCH, "zsync-old.pak")
            shutil.copyfile(old, work)
            out = os.path.join(SCRATCH, "zsync-new.pak")
            before = len(site.log())
            start = time.perf_counter()
            subprocess.run(["zsync", "-q", "-i", work, "-o", out, site.url + "/zsync/arquivo.pak.zsync"],
                           check=True, stdout=subprocess.DEVNULL, cwd=SCRATCH)
            z_secs = time.perf_counter() - start
            z_bytes = served(site, before)
            if md5_file(out) != digest:
                raise SystemExit("zsync did not bring the new file")
            for f in (work, out, old):
                os.unlink(f)

            shutil.rmtree(os.path.join(game, "Data"))
            whole, whole_secs = launcher(site, game)
    finally:
        shutil.rmtree(SCRATCH, ignore_errors=True)

    print("delta      1 GiB archive, 10 rewrites of 64 KiB, 100 bytes inserted, 16 MiB appended")
    rows = (("launcher", ours, our_secs), ("zsync", z_bytes, z_secs), ("whole", whole, whole_secs))
    for what, n, secs in rows:
        print("  %-9s nginx sent %8.2f MiB (%5.2f %% of the file)  %6.2f s" % (what, n / MIB, 100.0 * n / new_size, secs))
    print("  launcher/zsync: bytes %.3f (goal <= 1), time %.2f (goal <= 1); bytes %.2f %% of the file (goal <= 2.5)"
          % (ours / z_bytes, our_secs / z_secs, 100.0 * ours / new_size), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
