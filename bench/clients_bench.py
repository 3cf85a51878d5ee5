#!/usr/bin/env python3
"""Whole game clients, side by side with the usual tools on the same files,
the same nginx and the same link:

  fresh install   5,000 files of 4 KiB to 256 KiB (about 300 MiB) and two of
                  64 MiB into an empty folder, through a link that holds each
                  connection and each request 50 ms (tools/nginx.py's Link):
                  the launcher with 4 connections against curl --parallel
                  --parallel-max 4 fetching the same files (time ratio, goal
                  <= 1.1), and against itself with 1 (speed-up, goal >= 3)
  one large file  256 MiB on plain loopback: the launcher's download path
                  (lane 0 of the update run, as net_bench.py's download)
                  against curl (throughput ratio, goal >= 0.9); and the whole
                  update run of that file for scale, which also works out its
                  MD5 as it arrives and flushes it to the disk
  100,000 files   of 4 KiB to 64 KiB, all current, the site signed: the first
                  start (no record of verified files) against a minimal
                  Windows program that opens and reads every file once under
                  the same Wine (bench/programs/readall.c; time ratio, goal
                  <= 1.2); the second start against md5sum of the files (time
                  ratio, goal <= 0.1), beside the same readall.c listing
                  every folder, which reads the size, time and identity of
                  each file and nothing else (the least a second start must
                  learn; under Wine each file costs two system calls, and a
                  process lists one folder at a time); what nginx sent at the
                  second start
                  (goal: the signature and a 304); the second start's peak
                  working set against the same start over 256 files
                  (difference, goal <= 32 MiB)
  publishing      lista publishing the 100,000 files into an empty site
                  against md5sum plus cp -r of them (time ratio, goal <= 1.2)

The launcher is its own update run (bench/net_bench.exe update: no window, no
feed). Figures of a few seconds are the best of three, the two sides taken in
turn with the files in the page cache; the fresh installs, minutes each, are
measured once. Scratch files live under build/bench-clients and are deleted
afterwards."""
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from net_bench import BUILD, SOURCE, win, wine  # noqa: E402  (which puts tools/ on the path)
import nginx  # noqa: E402

BENCH = os.path.join(BUILD, "bench", "net_bench.exe")
READALL = os.path.join(BUILD, "bench", "readall.exe")
LISTA = os.path.join(SOURCE, "build", "native", "lista")
SCRATCH = os.path.join(SOURCE, "build", "bench-clients")
KIB, MIB = 1 << 10, 1 << 20
UPDATED = "Jogo atualizado! Pronto para jogar."
CURRENT = "Seu jogo está atualizado. Pronto para jogar."
ROUNDS = 3


def timed(cmd, **kw):
    start = time.perf_counter()
    subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True, **kw)
    return time.perf_counter() - start


def make_client(folder, count, low, high, seed, per_folder):
    """count files of low to high bytes (log-uniform) in folders of
    per_folder, each with bytes of its own; their names."""
    rng = random.Random(seed)
    pool = rng.randbytes(high + 4096)
    names = []
    for i in range(count):
        name = "dados/p%03d/f%06d.bin" % (i // per_folder, i)
        size = int(low * (high / low) ** rng.random())
        at = rng.randrange(4096)
        path = os.path.join(folder, *name.split("/"))
        if i % per_folder == 0:
            os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(b"%08d" % i + pool[at:at + size - 8])
        names.append(name)
    return names


def publish(client, site, *args):
    subprocess.run([LISTA, "-q", *args, client, site], check=True)


def update(game, url, *args):
    r = wine(BENCH, "update", win(game), url, *args, timeout=3600)
    return float(r["seconds"]), r["status"], int(r["hashed"]), int(r["peak"])


def fresh_install(site_root):
    client, site = os.path.join(SCRATCH, "client"), os.path.join(site_root, "site")
    make_client(client, 5000, 4 * KIB, 256 * KIB, 1, 100)
    for name, seed in (("a.pak", 2), ("b.pak", 3)):
        path = os.path.join(client, "pacotes", name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(random.Random(seed).randbytes(64 * MIB))
    publish(client, site)
    total = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(client) for f in fs)
    with open(os.path.join(site, "update", "lista.txt")) as f:
        names = [line.split("|")[0] for line in f]
    shutil.rmtree(client)

    server = nginx.Nginx(site_root, os.path.join(SCRATCH, "nginx-fresh"))
    link = nginx.Link(server.port, delay=0.05)
    game = os.path.join(SCRATCH, "game")
    try:
        url = link.url + "/site"

        def ours(lanes):
            shutil.rmtree(game, ignore_errors=True)
            os.makedirs(game)
            t, status, _, _ = update(game, url, "lanes=%d" % lanes)
            assert status == UPDATED, status
            return t

        def curl():
            out = os.path.join(SCRATCH, "curl")
            shutil.rmtree(out, ignore_errors=True)
            config = os.path.join(SCRATCH, "curl.cfg")
            with open(config, "w") as f:
                f.write('url = "%s/update/lista.txt"\noutput = "%s/lista.txt"\n' % (url, out))
                for n in names:
                    f.write('url = "%s/update/files/%s"\noutput = "%s/%s"\n' % (url, n, out, n))
            t = timed(["curl", "-s", "-f", "--create-dirs", "--parallel", "--parallel-max", "4", "-K", config])
            got = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(out) for f in fs)
            assert got >= total, "curl fetched %d of %d bytes" % (got, total)
            shutil.rmtree(out)
            return t

        t4, tc, t1 = ours(4), curl(), ours(1)
        print("fresh install, %d files, %.0f MiB, 50 ms a request: 4 connections %6.1f s   curl --parallel-max 4 "
              "%6.1f s   time ratio %.2f  (goal <= 1.1)" % (len(names), total / MIB, t4, tc, t4 / tc), flush=True)
        print("fresh install: 1 connection %6.1f s   4 connections %6.1f s   speed-up %.1f  (goal >= 3)"
              % (t1, t4, t1 / t4), flush=True)
    finally:
        link.stop()
        server.stop()
        shutil.rmtree(game, ignore_errors=True)
        shutil.rmtree(site, ignore_errors=True)


def one_large_file(site_root):
    client, site = os.path.join(SCRATCH, "client1"), os.path.join(site_root, "site1")
    os.makedirs(client)
    with open(os.path.join(client, "grande.pak"), "wb") as f:
        for _ in range(256):
            f.write(os.urandom(MIB))
    publish(client, site)
    shutil.rmtree(client)
    server = nginx.Nginx(site_root, os.path.join(SCRATCH, "nginx-large"))
    game, out = os.path.join(SCRATCH, "game1"), os.path.join(SCRATCH, "curl.out")
    try:
        url = server.url + "/site1"

        def run():
            shutil.rmtree(game, ignore_errors=True)
            os.makedirs(game)
            t, status, _, _ = update(game, url)
            assert status == UPDATED, status
            return t

        def path():
            r = wine(BENCH, "download", url + "/update/files/grande.pak", win(out))
            assert int(r["bytes"]) == 256 * MIB
            return float(r["seconds"])

        a, b, c = [], [], []
        for _ in range(ROUNDS):
            a.append(path())
            b.append(timed(["curl", "-s", "-f", "-o", out, url + "/update/files/grande.pak"]))
            c.append(run())
        print("one large file, 256 MiB: download path %5.0f MiB/s   curl %5.0f MiB/s   throughput ratio %.2f  "
              "(goal >= 0.9); the whole update run %5.0f MiB/s" % (256 / min(a), 256 / min(b), min(b) / min(a),
                                                                   256 / min(c)), flush=True)
    finally:
        server.stop()
        for p in (game, site):
            shutil.rmtree(p, ignore_errors=True)
        if os.path.exists(out):
            os.unlink(out)


def hundred_thousand(site_root):
    game, site, small = os.path.join(SCRATCH, "jogo"), os.path.join(site_root, "site100k"), os.path.join(SCRATCH, "jogo256")
    names = make_client(game, 100000, 4 * KIB, 64 * KIB, 4, 1000)
    files = [os.path.join(game, *n.split("/")) for n in names]
    # Written well before any start, as a player's game files are.
    old = time.time() - 3600
    for p in files:
        os.utime(p, (old, old))
    key, keys = os.path.join(SCRATCH, "bench.key"), os.path.join(SCRATCH, "keys.txt")
    with open(keys, "w") as out:
        subprocess.run([LISTA, "keygen", key], stdout=out, stderr=subprocess.DEVNULL, check=True)
    md5sum = ["sh", "-c", "find . -type f -print0 | xargs -0 md5sum", "md5sum"]
    subprocess.run(md5sum, cwd=game, stdout=subprocess.DEVNULL, check=True)  # into the cache

    # Publishing: lista into an empty site, against md5sum and cp -r, taking
    # turns, the best of two each, both writing into memory (/dev/shm) when
    # there is room: on a disk, a file system that has freed many inodes in
    # the last seconds (as this bench does) makes every creation slow, and
    # whichever side comes then pays several times the other's time.
    shm = "/dev/shm"
    room = os.path.isdir(shm) and shutil.disk_usage(shm).free > 3 * sum(map(os.path.getsize, files))
    out = tempfile.mkdtemp(prefix="velmora-publish-", dir=shm if room else SCRATCH)
    t_lista = t_tools = float("inf")
    try:
        for i in range(2):
            t_lista = min(t_lista, timed([LISTA, "-q", "--sign", key, game, os.path.join(out, "site")]))
            t_tools = min(t_tools, timed(md5sum, cwd=game) + timed(["cp", "-r", game, os.path.join(out, "copia")]))
            if i == 0:
                for p in ("site", "copia"):
                    shutil.rmtree(os.path.join(out, p))
        # The site the starts below ask: the files it would serve are not
        # needed, every start finds its files current.
        os.makedirs(site, exist_ok=True)
        shutil.copytree(os.path.join(out, "site", "update"), os.path.join(site, "update"),
                        ignore=shutil.ignore_patterns("files"))
    finally:
        shutil.rmtree(out, ignore_errors=True)
    print("publishing 100,000 files, %.1f GiB: lista %6.1f s   md5sum + cp -r %6.1f s   time ratio %.2f  (goal <= 1.2)"
          % (sum(map(os.path.getsize, files)) / (1 << 30), t_lista, t_tools, t_lista / t_tools), flush=True)

    os.makedirs(small)
    for n in names[:256]:
        dst = os.path.join(small, *n.split("/"))
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        shutil.copy2(os.path.join(game, *n.split("/")), dst)
    site256 = os.path.join(site_root, "site256")
    publish(small, site256, "--sign", key)
    shutil.rmtree(os.path.join(site256, "update", "files"))

    server = nginx.Nginx(site_root, os.path.join(SCRATCH, "nginx-100k"))
    try:
        url = server.url + "/site100k"
        firsts, reads, seconds, sums, lists = [], [], [], [], []
        for _ in range(ROUNDS):
            t, status, hashed, _ = update(game, url, "first", "keys=" + win(keys))
            assert status == CURRENT and hashed == len(files), (status, hashed)
            firsts.append(t)
            r = wine(READALL, win(game), timeout=3600)
            assert int(r["files"]) == len(files), r
            reads.append(float(r["seconds"]))
            before = len(server.log())
            t, status, hashed, peak = update(game, url, "keys=" + win(keys))
            assert status == CURRENT and hashed == 0, (status, hashed)
            seconds.append(t)
            sent = server.log()[before:]
            sums.append(timed(md5sum, cwd=game))
            r = wine(READALL, win(game), "list", timeout=3600)
            assert int(r["files"]) == len(files), r
            lists.append(float(r["seconds"]))
        print("100,000 files current, first start:  launcher %6.2f s   reading every file once %6.2f s   "
              "time ratio %.2f  (goal <= 1.2)" % (min(firsts), min(reads), min(firsts) / min(reads)), flush=True)
        print("100,000 files current, second start: launcher %6.2f s   md5sum %6.2f s   time ratio %.3f  (goal <= 0.1)"
              % (min(seconds), min(sums), min(seconds) / min(sums)), flush=True)
        print("100,000 files current, the least a second start must learn (every folder listed with each file's "
              "size, time and identity, one thread): %6.2f s   against md5sum: time ratio %.3f"
              % (min(lists), min(lists) / min(sums)), flush=True)
        print("100,000 files current, second start: nginx sent %s  (goal: the signature and a 304)"
              % ", ".join("%s %d, %d bytes" % (r["path"], r["status"], r["sent"]) for r in sent), flush=True)
        update(small, server.url + "/site256", "first", "keys=" + win(keys))
        _, status, _, peak256 = update(small, server.url + "/site256", "keys=" + win(keys))
        assert status == CURRENT, status
        print("peak working set, second start: 100,000 files %5.1f MiB   256 files %5.1f MiB   difference %5.1f MiB  "
              "(goal <= 32)" % (peak / MIB, peak256 / MIB, (peak - peak256) / MIB), flush=True)
    finally:
        server.stop()
        for d in (game, small):
            wine(BENCH, "forget", win(d))


def main():
    for exe in (BENCH, READALL, LISTA):
        if not os.path.exists(exe):
            raise SystemExit("missing %s: build first (make)" % exe)
    shutil.rmtree(SCRATCH, ignore_errors=True)
    # nginx serves as nobody: the site must be readable by all.
    site_root = os.path.join(SCRATCH, "www")
    os.makedirs(site_root)
    os.chmod(SCRATCH, 0o755)
    try:
        one_large_file(site_root)
        fresh_install(site_root)
        hundred_thousand(site_root)
    finally:
        shutil.rmtree(SCRATCH, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
