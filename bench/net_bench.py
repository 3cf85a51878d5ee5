#!/usr/bin/env python3
"""The updater side by side with the usual tools, on the same files and server:

  FileMd5 vs md5sum        over one 256 MiB file (throughput ratio, goal >= 0.9)
  download path vs curl    256 MiB from the same local server to the same disk
                           (throughput ratio, goal >= 0.8)
  comparison pass vs md5sum over 256 files of 4 MiB, 1 GiB (time ratios):
                           at a first start, with no record of verified files
                           (goal <= 1.15), and at a second start with nothing
                           changed (goal <= 0.05)
  flushing                 an update run fetching those 256 files into an empty
                           folder, each download flushed to the disk before it
                           is moved in, and the record after them, as shipped,
                           vs the same run without flushing (time ratio, goal
                           <= 1.25); the disk's pending writes are written out
                           before every run

Each figure is the best of a few runs of each side, taken alternately, with the
files in the page cache for both. Scratch files live under build/ and are
deleted afterwards."""
import hashlib
import os
import shutil
import subprocess
import sys
import time

SOURCE = os.environ.get("VELMORA_SOURCE") or os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("VELMORA_BUILD") or os.path.join(SOURCE, "build", "x64")
BENCH = os.path.join(BUILD, "bench", "net_bench.exe")
SERVER = os.path.join(BUILD, "testprograms", "webserver.exe")
SCRATCH = os.path.join(SOURCE, "build", "bench-net")
MIB = 1 << 20
ROUNDS = 5
sys.path.insert(0, os.path.join(SOURCE, "tools"))
import winenv  # noqa: E402


win = winenv.win_path


def wine(*args, timeout=600):
    """Runs a Windows program in the session this runs in; its key=value lines."""
    rc, text, _ = winenv.output(os.environ, *args, timeout=timeout)
    if rc != 0:
        raise SystemExit("%s failed (%d): %s" % (" ".join(args), rc, text))
    return dict(line.split("=", 1) for line in text.splitlines() if "=" in line)


def timed(cmd):
    start = time.perf_counter()
    subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start


def write_random(path, size):
    with open(path, "wb") as f:
        for _ in range(size // MIB):
            f.write(os.urandom(MIB))


def md5_file(path):
    h = hashlib.md5()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(MIB), b""):
            h.update(block)
    return h.hexdigest()


def best_pair(ours, theirs, rounds=ROUNDS):
    """Best time of each side over a few alternating rounds."""
    a, b = [], []
    for _ in range(rounds):
        a.append(ours())
        b.append(theirs())
    return min(a), min(b)


def bench_md5(big):
    digest = md5_file(big)
    subprocess.run(["md5sum", big], stdout=subprocess.DEVNULL, check=True)  # into the cache

    def ours():
        r = wine(BENCH, "md5", win(big))
        assert r["md5"] == digest, "FileMd5 disagrees with hashlib"
        return float(r["seconds"])

    t_ours, t_md5sum = best_pair(ours, lambda: timed(["md5sum", big]))
    mb = os.path.getsize(big) / MIB
    print("FileMd5   %7.0f MiB/s   md5sum %7.0f MiB/s   throughput ratio %.2f  (goal >= 0.9)"
          % (mb / t_ours, mb / t_md5sum, t_md5sum / t_ours), flush=True)


def bench_download(base, site_big):
    size = os.path.getsize(site_big)
    ours_out = os.path.join(SCRATCH, "ours.out")
    curl_out = os.path.join(SCRATCH, "curl.out")
    url = base + "/big.bin"

    def ours():
        r = wine(BENCH, "download", url, win(ours_out))
        assert int(r["bytes"]) == size and os.path.getsize(ours_out) == size
        return float(r["seconds"])

    def curl():
        t = timed(["curl", "-s", "-f", "-o", curl_out, url])
        assert os.path.getsize(curl_out) == size
        return t

    t_ours, t_curl = best_pair(ours, curl)
    mb = size / MIB
    print("download  %7.0f MiB/s   curl   %7.0f MiB/s   throughput ratio %.2f  (goal >= 0.8)"
          % (mb / t_ours, mb / t_curl, t_curl / t_ours), flush=True)
    os.unlink(ours_out)
    os.unlink(curl_out)


def bench_compare(base, game, files):
    subprocess.run(["md5sum", *files], stdout=subprocess.DEVNULL, check=True)

    def ours(first):
        r = wine(BENCH, "compare", win(game), base, *(["first"] if first else []))
        assert r["status"].startswith("Seu jogo"), r["status"]
        assert int(r["hashed"]) == (len(files) if first else 0), "%s files hashed" % r["hashed"]
        return float(r["seconds"])

    # Each second start follows the first start that wrote its record.
    firsts, seconds, md5sums = [], [], []
    for _ in range(ROUNDS):
        firsts.append(ours(True))
        seconds.append(ours(False))
        md5sums.append(timed(["md5sum", *files]))
    t_md5sum = min(md5sums)
    for what, t, goal in (("first start ", min(firsts), 1.15), ("second start", min(seconds), 0.05)):
        print("compare, %s %7.3f s   md5sum %7.3f s   time ratio %.3f   (goal <= %.2f)"
              % (what, t, t_md5sum, t / t_md5sum, goal), flush=True)
    wine(BENCH, "forget", win(game))


def bench_flush(base, site, files):
    served = os.path.join(site, "update", "files")
    os.makedirs(served)
    for f in files:
        os.symlink(f, os.path.join(served, os.path.basename(f)))
    dest = os.path.join(SCRATCH, "fetched")

    def run(flush):
        shutil.rmtree(dest, ignore_errors=True)
        os.makedirs(dest)
        subprocess.run(["sync"], check=True)
        r = wine(BENCH, "update", win(dest), base, *([] if flush else ["noflush"]))
        assert r["status"].startswith("Jogo atualizado"), r["status"]
        return float(r["seconds"])

    t_flush, t_plain = best_pair(lambda: run(True), lambda: run(False), rounds=3)
    print("fetch 256 files, 1 GiB: flushed %7.3f s   not flushed %7.3f s   time ratio %.3f   (goal <= 1.25)"
          % (t_flush, t_plain, t_flush / t_plain), flush=True)
    wine(BENCH, "forget", win(dest))


def main():
    for exe in (BENCH, SERVER):
        if not os.path.exists(exe):
            raise SystemExit("missing %s: build first (make x64)" % exe)
    shutil.rmtree(SCRATCH, ignore_errors=True)
    site = os.path.join(SCRATCH, "site")
    game = os.path.join(SCRATCH, "game")
    os.makedirs(os.path.join(site, "update"))
    os.makedirs(game)
    server = None
    try:
        big = os.path.join(site, "big.bin")
        write_random(big, 256 * MIB)
        lines, files = [], []
        for i in range(256):
            path = os.path.join(game, "dados%03d.bin" % i)
            write_random(path, 4 * MIB)
            # Written well before any start, as a player's game files are.
            os.utime(path, (time.time() - 3600, time.time() - 3600))
            files.append(path)
            lines.append("dados%03d.bin|%s|%d\n" % (i, md5_file(path), 4 * MIB))
        with open(os.path.join(site, "update", "lista.txt"), "w") as f:
            f.writelines(lines)

        server = winenv.Site(dict(os.environ), site, build=os.path.dirname(BUILD))
        base = server.url

        bench_md5(big)
        bench_download(base, big)
        bench_compare(base, game, files)
        bench_flush(base, site, files)
    finally:
        if server:
            server.stop()
        shutil.rmtree(SCRATCH, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
