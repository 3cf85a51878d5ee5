#!/usr/bin/env python3
"""Builds the demo site: build/demo/site, served by 'make demo'.

The demo client (demo/client, the stand-in game as main.exe, and a generated
Data/texturas.pak) goes through lista, which writes update/lista.txt and
update/files/; the static pages of demo/site are copied beside them."""
import hashlib
import os
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build")
CLIENT = os.path.join(BUILD, "demo", "client")
SITE = os.path.join(BUILD, "demo", "site")
LISTA = os.path.join(BUILD, "native", "lista")
GAME = os.path.join(BUILD, "x64", "game", "main.exe")
PAK_SIZE = 24 << 20  # big enough that the progress bar is seen moving


def pak():
    """Deterministic filler: the same bytes on every build."""
    out = bytearray()
    block = b"velmora"
    while len(out) < PAK_SIZE:
        block = hashlib.sha512(block).digest()
        out += block * 64
    return bytes(out[:PAK_SIZE])


def main():
    shutil.rmtree(CLIENT, ignore_errors=True)
    shutil.copytree(os.path.join(ROOT, "demo", "client"), CLIENT)
    shutil.copy2(GAME, os.path.join(CLIENT, "main.exe"))
    with open(os.path.join(CLIENT, "Data", "texturas.pak"), "wb") as f:
        f.write(pak())
    shutil.rmtree(SITE, ignore_errors=True)
    shutil.copytree(os.path.join(ROOT, "demo", "site"), SITE)
    r = subprocess.run([LISTA, "--quiet", CLIENT, SITE])
    if r.returncode:
        return r.returncode
    print("demo site: %s" % SITE)
    return 0


if __name__ == "__main__":
    sys.exit(main())
