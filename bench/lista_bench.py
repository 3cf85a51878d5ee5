#!/usr/bin/env python3
"""lista publishing a 1 GiB client of 256 files (Linux build), measured side
by side with what the same work costs the system's own tools:

  publish     lista into an empty site, against md5sum of the client plus
              cp -r of it (goal <= 1.1)
  republish   lista again with nothing changed, against md5sum of the client
              alone (goal <= 1.1): an unchanged file is read once, never copied

Each figure is the best of three runs, the two sides taken in turn, all with
the client in the page cache. Scratch files live under build/ and are deleted
afterwards."""
import os
import shutil
import subprocess
import sys
import time

SOURCE = os.environ.get("VELMORA_SOURCE") or os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LISTA = os.path.join(SOURCE, "build", "native", "lista")
SCRATCH = os.path.join(SOURCE, "build", "bench-lista")
FILES, SIZE = 256, 4 << 20
ROUNDS = 3


def timed(*commands):
    start = time.perf_counter()
    for cmd in commands:
        subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def best(*sides):
    """Each side (a list of commands, and what to clear before it) run ROUNDS
    times in turn; the best time of each."""
    times = [[] for _ in sides]
    for _ in range(ROUNDS):
        for i, (commands, clear) in enumerate(sides):
            for path in clear:
                shutil.rmtree(path, ignore_errors=True)
            subprocess.run(["sync"])
            times[i].append(timed(*commands))
    return [min(t) for t in times]


def main():
    shutil.rmtree(SCRATCH, ignore_errors=True)
    client = os.path.join(SCRATCH, "client")
    try:
        names = []
        for i in range(FILES):
            name = os.path.join(client, "d%02d" % (i % 16), "f%03d.pak" % i)
            os.makedirs(os.path.dirname(name), exist_ok=True)
            with open(name, "wb") as f:
                f.write(os.urandom(SIZE))
            names.append(name)
        subprocess.run(["cat", *names], stdout=subprocess.DEVNULL, check=True)  # into the page cache
        site, copy = os.path.join(SCRATCH, "site"), os.path.join(SCRATCH, "copy")
        lista = [LISTA, "-q", client, site]
        publish, peers = best(([lista], [site]), ([["md5sum", *names], ["cp", "-r", client, copy]], [copy]))
        republish, md5 = best(([lista], []), ([["md5sum", *names]], []))
        print("lista publish, 1 GiB in %d files:   %6.2f s   md5sum + cp -r %6.2f s   ratio %.2f (goal <= 1.1)"
              % (FILES, publish, peers, publish / peers))
        print("lista republish, nothing changed: %6.2f s   md5sum         %6.2f s   ratio %.2f (goal <= 1.1)"
              % (republish, md5, republish / md5))
        return 0 if publish / peers <= 1.1 and republish / md5 <= 1.1 else 1
    finally:
        shutil.rmtree(SCRATCH, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
