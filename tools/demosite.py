#!/usr/bin/env python3
"""Builds the demo site: build/demo/site, served by 'make demo'.

The demo client (demo/client, the stand-in game as main.exe, a generated
Data/texturas.pak, and 3,000 small generated files in Data/Mundo/, a whole
client's worth of names) goes through lista, which writes update/lista.txt,
update/files/ and the chunk map of the large archive, and signs the manifest
with the demo key, and 'lista verify' checks the result; the static pages of
demo/site are copied beside them. That is release 1. Release 2, which the
demo publishes while it runs, as an operator publishes a patch, changes a few
places of Data/texturas.pak and adds to its end: that version is written to
build/demo/texturas-2.pak.

  demosite.py        the site
  demosite.py key    only the demo key: build/demo/demo.key and its public
                     line in build/demo/keys.txt, the demo launcher's
                     VELMORA_KEYS (made once; never committed)"""
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
KEY = os.path.join(BUILD, "demo", "demo.key")
KEYS = os.path.join(BUILD, "demo", "keys.txt")
NEW_PAK = os.path.join(BUILD, "demo", "texturas-2.pak")
PAK_SIZE = 24 << 20  # big enough that the progress bar is seen moving
WORLD = 3000         # small files, as a whole client has thousands


def filler(seed, size):
    """Deterministic bytes: the same on every build."""
    out = bytearray()
    block = seed
    while len(out) < size:
        block = hashlib.sha512(block).digest()
        out += block
    return bytes(out[:size])


def pak(release):
    """Data/texturas.pak of release 1, or of release 2: three places
    rewritten and 1 MiB added at the end, as a patch changes an archive."""
    data = filler(b"velmora", PAK_SIZE)
    if release == 2:
        for n, at in enumerate((3 << 20, 11 << 20, 17 << 20)):
            data = data[:at] + filler(b"patch %d" % n, 64 << 10) + data[at + (64 << 10):]
        data += filler(b"nova area", 1 << 20)
    return data


def world(folder):
    """WORLD small files of 1 to 16 KiB in 30 folders: the same bytes on every
    build."""
    block = b"velmora"
    for i in range(WORLD):
        block = hashlib.sha512(block).digest()
        path = os.path.join(folder, "Data", "Mundo", "regiao%02d" % (i % 30), "bloco%04d.dat" % i)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(block * (16 + (i * 37) % 240))


def demo_key():
    """The demo operator's key pair, made once with lista keygen."""
    if os.path.exists(KEY) and os.path.exists(KEYS):
        return 0
    for path in (KEY, KEYS):
        if os.path.exists(path):
            os.unlink(path)
    os.makedirs(os.path.dirname(KEY), exist_ok=True)
    with open(KEYS + ".tmp", "w") as out:
        r = subprocess.run([LISTA, "keygen", KEY], stdout=out, stderr=subprocess.DEVNULL)
    if r.returncode:
        return r.returncode
    os.replace(KEYS + ".tmp", KEYS)
    return 0


def main():
    if demo_key():
        return 1
    if sys.argv[1:] == ["key"]:
        return 0
    shutil.rmtree(CLIENT, ignore_errors=True)
    shutil.copytree(os.path.join(ROOT, "demo", "client"), CLIENT)
    shutil.copy2(GAME, os.path.join(CLIENT, "main.exe"))
    world(CLIENT)
    shutil.rmtree(SITE, ignore_errors=True)
    shutil.copytree(os.path.join(ROOT, "demo", "site"), SITE)
    with open(os.path.join(CLIENT, "Data", "texturas.pak"), "wb") as f:
        f.write(pak(1))
    with open(NEW_PAK, "wb") as f:
        f.write(pak(2))
    r = subprocess.run([LISTA, "--quiet", "--sign", KEY, CLIENT, SITE])
    if r.returncode:
        return r.returncode
    # What players will get, checked as a launcher with the demo key sees it.
    r = subprocess.run([LISTA, "verify", "--quiet", "--keys", KEYS, SITE])
    if r.returncode:
        return r.returncode
    print("demo site: %s" % SITE)
    return 0


if __name__ == "__main__":
    sys.exit(main())
