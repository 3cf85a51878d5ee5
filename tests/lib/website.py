"""The operator's web site for end-to-end tests: a client folder published with
lista (the operator's own tool), to be served by nginx (tools/nginx.py)."""
import hashlib
import os
import shutil
import subprocess

import nginx

FEED = ("status=1\nonline=1287\nservidor=Velmora - Servidor Aurora\n"
        "noticia=Evento de inverno começa no sábado!|06/12\n"
        "noticia=Manutenção concluída|04/12\n")


def md5(path):
    """The MD5 of a file, or None when it cannot be read."""
    try:
        h = hashlib.md5()
        with open(path, "rb") as f:
            for block in iter(lambda: f.read(1 << 20), b""):
                h.update(block)
        return h.hexdigest()
    except OSError:
        return None


def filler(size, seed=b"velmora"):
    """size bytes that are the same on every run and do not compress."""
    out = bytearray()
    block = seed
    while len(out) < size:
        block = hashlib.sha512(block).digest()
        out += block * 64
    return bytes(out[:size])


def publish(lista, client, root, feed=FEED):
    """Makes root a site for the client folder: the manifest and files by lista,
    and the status feed. Returns the manifest's entries as {name: md5}."""
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(os.path.join(root, "api"))
    with open(os.path.join(root, "api", "launcher"), "w", encoding="utf-8", newline="\n") as f:
        f.write(feed)
    r = subprocess.run([lista, "--quiet", "-x", "ZorunJanela.ini", client, root],
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if r.returncode:
        raise RuntimeError("lista failed: %s" % r.stdout.decode(errors="replace"))
    entries = {}
    with open(os.path.join(root, "update", "lista.txt"), encoding="utf-8") as f:
        for line in f.read().splitlines():
            fields = line.split("|")
            if len(fields) == 3:
                entries[fields[0]] = fields[1].lower()
    return entries


def refused_port():
    """A loopback port on which nothing listens: a site that is down."""
    return nginx.free_port()
