"""The operator's site as operators host it: Debian's nginx serving a folder on a
loopback port, run unprivileged with a configuration written under build/, and
a flaky link to put in front of it. Shared by the tests, the demo and the
benchmark.

    site = Nginx(root, work)           # serves root; work holds conf, logs, temp
    site.url                           # "http://127.0.0.1:PORT"
    site.log()                         # every finished request, oldest first
    site.rate = 4 << 20                # game files at 4 MiB/s (None: full speed)
    site.stop()

    link = Link(site.port, cut=32 << 20)   # drops each connection after 32 MiB of body
    link = Link(site.port, delay=0.05)     # a far site: 50 ms before each answer's first byte
    link.url

The access log holds, per request: the path as asked, the status, the body
bytes and all bytes nginx sent, the Range and If-Range asked for, the ETag
sent, and the Content-Encoding sent (gzip for a .gz sent by gzip_static)."""
import os
import shutil
import signal
import socket
import subprocess
import threading
import time

NGINX = "/usr/sbin/nginx"
FIELDS = ("path", "status", "body", "sent", "range", "if_range", "etag", "encoding")

CONF = """\
worker_processes 1;
pid {work}/nginx.pid;
error_log {work}/error.log notice;
daemon off;
events {{ worker_connections 256; }}
http {{
    default_type application/octet-stream;
    log_format velmora escape=none '$request_uri\\t$status\\t$body_bytes_sent\\t$bytes_sent\\t$http_range\\t$http_if_range\\t$sent_http_etag\\t$sent_http_content_encoding';
    access_log {work}/access.log velmora;
    client_body_temp_path {work}/tmp/body;
    proxy_temp_path {work}/tmp/proxy;
    fastcgi_temp_path {work}/tmp/fastcgi;
    uwsgi_temp_path {work}/tmp/uwsgi;
    scgi_temp_path {work}/tmp/scgi;
    sendfile on;
    server {{
        listen 127.0.0.1:{port}{listen};
        root {root};
{server}
        location /update/files/ {{
{files}
        }}
    }}
}}
"""


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


class Nginx:
    """nginx serving root on 127.0.0.1 until stop(). work (a folder under build/)
    receives the configuration, the logs and nginx's temporary folders.
    rate: bytes per second for game files (update/files/), None for full speed.
    ranges: False makes nginx ignore Range, as some servers do. server: extra
    directives for the server block. sndbuf: the listening socket's send
    buffer in bytes (None: the system's)."""

    def __init__(self, root, work, rate=None, ranges=True, server="", sndbuf=None):
        if not os.path.exists(NGINX):
            raise FileNotFoundError("%s is missing: run 'make setup'" % NGINX)
        self.root = os.path.abspath(root)
        self.work = os.path.abspath(work)
        self._rate = rate
        self.ranges = ranges
        self.server = server
        self.sndbuf = sndbuf
        self.proc = None
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(os.path.join(self.work, "tmp"))
        # nginx started by root serves with the rights of nobody: the site must
        # be readable by all, as on a real host.
        for attempt in range(5):
            self.port = free_port()
            if self._start():
                break
        else:
            raise RuntimeError("nginx did not start: %s" % self.errors())
        self.url = "http://127.0.0.1:%d" % self.port

    # ---- Running -------------------------------------------------------------

    def _conf(self):
        files = []
        if self._rate:
            files.append("            limit_rate %d;" % self._rate)
        if not self.ranges:
            files.append("            max_ranges 0;")
        return CONF.format(work=self.work, port=self.port, root=self.root, server=self.server,
                           files="\n".join(files),
                           listen=" sndbuf=%d" % self.sndbuf if self.sndbuf else "")

    def _start(self):
        conf = os.path.join(self.work, "nginx.conf")
        with open(conf, "w") as f:
            f.write(self._conf())
        out = open(os.path.join(self.work, "stdout.log"), "ab")
        with out:
            self.proc = subprocess.Popen([NGINX, "-p", self.work, "-c", conf, "-e", os.path.join(self.work, "error.log")],
                                         stdout=out, stderr=out, stdin=subprocess.DEVNULL,
                                         start_new_session=True)
        deadline = time.time() + 20
        while time.time() < deadline:
            if self.proc.poll() is not None:
                return False
            with socket.socket() as s:
                if s.connect_ex(("127.0.0.1", self.port)) == 0:
                    return True
            time.sleep(0.02)
        self._halt()
        return False

    def _halt(self):
        if self.proc and self.proc.poll() is None:
            try:
                os.killpg(self.proc.pid, signal.SIGTERM)  # fast shutdown: open connections close
                self.proc.wait(10)
            except (ProcessLookupError, subprocess.TimeoutExpired):
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait()

    def stop(self):
        self._halt()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    @property
    def rate(self):
        return self._rate

    @rate.setter
    def rate(self, value):
        """A new speed for game files, from the next request on: nginx is started
        again with it, on the same port."""
        self._rate = value
        self._halt()
        if not self._start():
            raise RuntimeError("nginx did not start again: %s" % self.errors())

    def set_ranges(self, on):
        self.ranges = on
        self.rate = self._rate

    # ---- Looking ---------------------------------------------------------------

    def errors(self):
        try:
            with open(os.path.join(self.work, "error.log"), errors="replace") as f:
                return "".join(line for line in f if "[emerg]" in line or "[crit]" in line or "[alert]" in line)
        except OSError:
            return ""

    def log(self):
        """Every request nginx has finished, as dicts of FIELDS (body and sent
        as numbers; range, if_range and etag "" when there was none)."""
        try:
            with open(os.path.join(self.work, "access.log"), encoding="utf-8", errors="replace") as f:
                lines = f.read().splitlines()
        except FileNotFoundError:
            return []
        out = []
        for line in lines:
            parts = line.split("\t")
            if len(parts) != len(FIELDS):
                continue
            rec = dict(zip(FIELDS, parts))
            rec["status"] = int(rec["status"])
            rec["body"] = int(rec["body"])
            rec["sent"] = int(rec["sent"])
            for k in ("range", "if_range", "etag", "encoding"):
                if rec[k] == "-":
                    rec[k] = ""
            out.append(rec)
        return out

    def paths(self):
        return [r["path"] for r in self.log()]

    def sent(self, path=None):
        """Body bytes nginx sent, for one path or in all."""
        return sum(r["body"] for r in self.log() if path is None or r["path"] == path)

    def wait_for(self, path, count=1, timeout=30):
        """Waits until nginx has finished count requests for path; True if so."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            if self.paths().count(path) >= count:
                return True
            time.sleep(0.05)
        return False


class Link:
    """A loopback link in front of a server at port: forwards every connection,
    and drops it (closes both ends) once cut bytes of the response body have
    passed, as a Wi-Fi link that fails every so often. cuts: the cut for each
    connection in turn (None = not cut); after the list, cut applies. delay:
    seconds each connection takes to open and each request to reach the
    server, as over a link with that round trip (the same for every client)."""

    def __init__(self, port, cut=None, cuts=(), delay=0):
        self.port = port
        self.cut = cut
        self.delay = delay
        self.cuts = list(cuts)
        self.lock = threading.Lock()
        self.dropped = 0  # connections cut so far
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(64)
        self.listener.settimeout(0.1)
        self.url = "http://127.0.0.1:%d" % self.listener.getsockname()[1]
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self._accept, daemon=True)
        self.thread.start()

    def stop(self):
        self.stopping.set()
        self.thread.join(10)
        self.listener.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def _accept(self):
        while not self.stopping.is_set():
            try:
                client, _ = self.listener.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            with self.lock:
                cut = self.cuts.pop(0) if self.cuts else self.cut
            threading.Thread(target=self._carry, args=(client, cut), daemon=True).start()

    def _carry(self, client, cut):
        server = socket.socket()
        # A small receive buffer: what the server has sent but the link has not
        # passed on when it drops stays small, as on a real link.
        server.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 64 << 10)
        try:
            time.sleep(self.delay)
            server.connect(("127.0.0.1", self.port))
        except OSError:
            client.close()
            server.close()
            return
        for s in (client, server):
            s.settimeout(1.0)
        up = threading.Thread(target=self._pipe, args=(client, server, self.delay), daemon=True)
        up.start()
        head, body = b"", None
        try:
            while not self.stopping.is_set():
                want = 64 << 10
                if cut is not None and body is not None:
                    want = min(want, cut - body)
                    if want <= 0:
                        with self.lock:
                            self.dropped += 1
                        break
                try:
                    data = server.recv(want)
                except socket.timeout:
                    continue
                if not data:
                    break
                if body is None:
                    head += data
                    end = head.find(b"\r\n\r\n")
                    if end < 0:
                        client.sendall(data)
                        continue
                    body = len(head) - end - 4
                    if cut is not None and body > cut:  # the cut falls in this piece
                        data = data[:len(data) - (body - cut)]
                        body = cut
                else:
                    body += len(data)
                client.sendall(data)
        except OSError:
            pass
        finally:
            for s in (client, server):
                try:
                    s.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
                s.close()

    def _pipe(self, src, dst, delay=0):
        try:
            while not self.stopping.is_set():
                try:
                    data = src.recv(64 << 10)
                except socket.timeout:
                    continue
                if not data:
                    return
                # A request (clients send one at a time, each in one piece)
                # takes the link's round trip to be answered.
                if delay:
                    time.sleep(delay)
                dst.sendall(data)
        except OSError:
            return
