"""The operator's web site for end-to-end tests: a client folder published with
lista (the operator's own tool) and served from loopback by a threaded HTTP
server, which notes every request and can hand out game files slowly."""
import functools
import hashlib
import http.server
import os
import shutil
import socket
import subprocess
import threading
import time

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
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


class Site:
    """Serves root on 127.0.0.1 until stop(). rate, when set, is the speed in
    bytes per second at which game files (update/files/) go out; it may be
    changed while the site runs."""

    def __init__(self, root, rate=None):
        self.root = root
        self.rate = rate
        self.requests = []  # request paths, in the order they came
        self.lock = threading.Lock()
        self.stopping = threading.Event()
        handler = functools.partial(_Handler, self, directory=root)
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        self.server.daemon_threads = True
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()
        self.url = "http://127.0.0.1:%d" % self.server.server_address[1]

    def stop(self):
        self.stopping.set()
        self.server.shutdown()
        self.server.server_close()
        self.thread.join(10)

    def paths(self):
        with self.lock:
            return list(self.requests)

    def wait_for(self, path, count=1, timeout=30):
        """Waits until path has been asked for count times; True if it was."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            if self.paths().count(path) >= count:
                return True
            time.sleep(0.05)
        return False


class _Handler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, site, *args, **kwargs):
        self.site = site
        super().__init__(*args, **kwargs)

    def log_message(self, fmt, *args):
        pass

    def send_head(self):
        with self.site.lock:
            self.site.requests.append(self.path)
        return super().send_head()

    def copyfile(self, source, outputfile):
        if not self.path.startswith("/update/files/"):
            return super().copyfile(source, outputfile)
        # Slow or not, the loop ends with the file, or when the site stops, or
        # when the launcher goes away.
        try:
            while not self.site.stopping.is_set():
                rate = self.site.rate
                data = source.read(rate // 20 if rate else 1 << 20)
                if not data:
                    return
                outputfile.write(data)
                if rate:
                    time.sleep(0.05)
        except (BrokenPipeError, ConnectionResetError):
            pass
