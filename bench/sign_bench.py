#!/usr/bin/env python3
"""The signature check beside what an update run already does, on a signed
site of 256 files (lista --sign) served from loopback, all in one process
(sign_bench.exe): the check of a 256-entry manifest against the manifest's own
fetch, and whole runs over a current game folder with and without the key built
in. The check should be invisible beside the network."""
import os
import shutil
import subprocess
import sys

SOURCE = os.environ.get("VELMORA_SOURCE") or os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("VELMORA_BUILD") or os.path.join(SOURCE, "build", "x64")
BENCH = os.path.join(BUILD, "bench", "sign_bench.exe")
LISTA = os.path.join(os.path.dirname(BUILD), "native", "lista")
SCRATCH = os.path.join(SOURCE, "build", "bench-sign")
sys.path.insert(0, os.path.join(SOURCE, "tools"))
import winenv  # noqa: E402

win = winenv.win_path


def main():
    for exe in (BENCH, LISTA):
        if not os.path.exists(exe):
            raise SystemExit("missing %s: build first (make build)" % exe)
    shutil.rmtree(SCRATCH, ignore_errors=True)
    client, site, game = (os.path.join(SCRATCH, n) for n in ("client", "site", "game"))
    try:
        for i in range(256):
            path = os.path.join(client, "dados", "pasta %02d" % (i // 32), "arquivo%03d.bin" % i)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(os.urandom(4096))
        keys = os.path.join(SCRATCH, "keys.txt")
        with open(keys, "w") as out:
            subprocess.run([LISTA, "keygen", os.path.join(SCRATCH, "bench.key")], stdout=out,
                           stderr=subprocess.DEVNULL, check=True)
        subprocess.run([LISTA, "-q", "--sign", os.path.join(SCRATCH, "bench.key"), client, site], check=True)
        shutil.copytree(client, game)
        rc, text, _ = winenv.output(os.environ, BENCH, win(site), win(game), win(keys))
        if rc != 0:
            raise SystemExit("sign_bench failed (%d): %s" % (rc, text))
        r = dict(line.split("=", 1) for line in text.splitlines() if "=" in line)
        us = {k: float(v) * 1e6 for k, v in r.items() if k not in ("status", "manifest_bytes")}
        print("check     %7.0f us   manifest fetch %7.0f us   ratio %.2f   (256 entries, %s bytes;"
              " first check %.0f us)" % (us["check"], us["fetch"], us["check"] / us["fetch"],
                                         r["manifest_bytes"], us["first_check"]), flush=True)
        print("with fetch %6.0f us   manifest fetch %7.0f us   ratio %.2f   (signature fetched, checked,"
              " serial kept)" % (us["whole_check"], us["fetch"], us["whole_check"] / us["fetch"]))
        print("run signed %6.0f us   run unsigned   %7.0f us   ratio %.2f   (256 current files)"
              % (us["run_signed"], us["run_plain"], us["run_signed"] / us["run_plain"]))
    finally:
        shutil.rmtree(SCRATCH, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
