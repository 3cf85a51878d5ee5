"""The launcher's network side over HTTPS: local HTTPS servers whose
certificates come from a test authority trusted only in a Wine prefix of this
test's own (a fresh clone, so nothing leaks into the other tests), or from one
nobody trusts, for another host, or out of date; net_test's Https tests run
the network thread against them there. The certificates are made at every run,
with python3-cryptography."""
import datetime
import functools
import hashlib
import http.server
import ipaddress
import os
import shutil
import ssl
import sys
import threading
import unittest

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.x509.oid import NameOID

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
from launcher import BUILD, PROGRAMS, ROOT, session, winenv, write  # noqa: E402

HTTPS = os.path.join(BUILD, "https")
NET_TEST = os.path.join(BUILD, "tests", "net_test.exe")
TRUSTCA = os.path.join(PROGRAMS, "trustca.exe")
DAY = datetime.timedelta(days=1)


# ---- Certificates --------------------------------------------------------------

def name(text):
    return x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, text)])


def certificate(subject, issuer=None, hosts=(), valid_from=None, valid_to=None):
    """(key, certificate): an authority when issuer is None (signing itself), else
    a server certificate for hosts (addresses and names) from issuer (key, cert)."""
    key = rsa.generate_private_key(public_exponent=65537, key_size=2048)
    now = datetime.datetime.now(datetime.timezone.utc)
    sign_key, issuer_name = (issuer[0], issuer[1].subject) if issuer else (key, name(subject))
    b = (x509.CertificateBuilder().subject_name(name(subject)).issuer_name(issuer_name).public_key(key.public_key())
         .serial_number(x509.random_serial_number()).not_valid_before(valid_from or now - DAY)
         .not_valid_after(valid_to or now + 30 * DAY))
    if not issuer:
        b = (b.add_extension(x509.BasicConstraints(ca=True, path_length=0), critical=True)
             .add_extension(x509.KeyUsage(digital_signature=True, content_commitment=False, key_encipherment=False,
                                          data_encipherment=False, key_agreement=False, key_cert_sign=True,
                                          crl_sign=True, encipher_only=False, decipher_only=False), critical=True)
             .add_extension(x509.SubjectKeyIdentifier.from_public_key(key.public_key()), critical=False))
    else:
        alt = [x509.IPAddress(ipaddress.ip_address(h)) for h in hosts if h[0].isdigit()]
        # An address as a name too: Wine compares the host only with names.
        b = (b.add_extension(x509.SubjectAlternativeName(alt + [x509.DNSName(h) for h in hosts]), critical=False)
             .add_extension(x509.BasicConstraints(ca=False, path_length=None), critical=True)
             .add_extension(x509.ExtendedKeyUsage([x509.oid.ExtendedKeyUsageOID.SERVER_AUTH]), critical=False)
             .add_extension(x509.AuthorityKeyIdentifier.from_issuer_public_key(issuer[0].public_key()), critical=False))
    return key, b.sign(sign_key, hashes.SHA256())


def pem_files(folder, label, key, cert):
    """A server's certificate and key as PEM files: (cert, key) paths."""
    c, k = os.path.join(folder, label + ".crt"), os.path.join(folder, label + ".key")
    write(c, cert.public_bytes(serialization.Encoding.PEM))
    write(k, key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                               serialization.NoEncryption()))
    return c, k


# ---- Servers -------------------------------------------------------------------

class Quiet(http.server.SimpleHTTPRequestHandler):
    """Serves the site's files; a path under a prefix of server.redirects is
    sent on, with 302, to that prefix's base URL and the rest of the path."""
    timeout = 20  # a client that stalls gives up its thread after this

    def do_GET(self):
        for prefix, base in self.server.redirects.items():
            if self.path.startswith(prefix + "/"):
                self.send_response(302)
                self.send_header("Location", base + self.path[len(prefix):])
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
        super().do_GET()

    def log_message(self, fmt, *args):
        self.server.paths.append(self.path)


class Server(http.server.ThreadingHTTPServer):
    """The site over HTTPS with a certificate and key, or over plain HTTP."""
    daemon_threads = True

    def __init__(self, root, cert=None, key=None):
        super().__init__(("127.0.0.1", 0), functools.partial(Quiet, directory=root))
        self.paths = []
        self.redirects = {}
        self.scheme = "https" if cert else "http"
        if cert:
            ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            ctx.load_cert_chain(cert, key)
            # The handshake runs in each request's thread, so a client that
            # refuses the certificate costs only that thread.
            self.socket = ctx.wrap_socket(self.socket, server_side=True, do_handshake_on_connect=False)
        self.thread = threading.Thread(target=self.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True)
        self.thread.start()

    def handle_error(self, request, client_address):
        pass  # refused handshakes are what some of these servers are for

    @property
    def url(self):
        return "%s://127.0.0.1:%d" % (self.scheme, self.server_address[1])

    def stop(self):
        self.shutdown()
        self.server_close()


# ---- The test --------------------------------------------------------------------

class Https(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(HTTPS, ignore_errors=True)
        os.makedirs(HTTPS)
        certs = os.path.join(HTTPS, "certs")
        now = datetime.datetime.now(datetime.timezone.utc)
        ca = certificate("Velmora Test Authority")
        stranger = certificate("Autoridade Desconhecida")  # nobody trusts it
        cls.ca_der = os.path.join(certs, "ca.der")
        write(cls.ca_der, ca[1].public_bytes(serialization.Encoding.DER))
        local = ["127.0.0.1", "localhost"]
        kinds = {"good": certificate(local[0], ca, local), "unknown": certificate(local[0], stranger, local),
                 "wrong-name": certificate("outro.example", ca, ["outro.example"]),
                 "expired": certificate(local[0], ca, local, now - 60 * DAY, now - 30 * DAY)}
        cls.site = os.path.join(HTTPS, "site")
        write(os.path.join(cls.site, "api", "launcher"), b"status=1\nonline=42\nservidor=Velmora Segura\n")
        files = {"a.bin": os.urandom(300000), "dados/b c.bin": b"por um canal seguro"}
        for n, data in files.items():
            write(os.path.join(cls.site, "update", "files", *n.split("/")), data)
        write(os.path.join(cls.site, "update", "lista.txt"),
              b"".join(b"%s|%s|%d\n" % (n.encode(), hashlib.md5(d).hexdigest().encode(), len(d))
                       for n, d in files.items()))
        cls.servers = {k: Server(cls.site, *pem_files(certs, k, *kc)) for k, kc in kinds.items()}
        # Redirects between the two schemes: up to HTTPS, and down from it.
        plain = cls.servers["plain"] = Server(cls.site)
        good = cls.servers["good"]
        good.redirects = {"/desce": plain.url, "/fica": ""}
        plain.redirects = {"/sobe": good.url}

    @classmethod
    def tearDownClass(cls):
        for s in cls.servers.values():
            s.stop()

    def test_https(self):
        # A fresh copy of the main prefix: the authority is trusted there only.
        shutil.rmtree(os.path.join(ROOT, "wine", "prefix-https"), ignore_errors=True)
        with session("https") as env:
            self.assertEqual(winenv.run(env, TRUSTCA, winenv.win_path(self.ca_der)), 0, "trustca")
            env = dict(env, VELMORA_HTTPS_GOOD=self.servers["good"].url, VELMORA_HTTPS_UNKNOWN=self.servers["unknown"].url,
                       VELMORA_HTTPS_WRONG_NAME=self.servers["wrong-name"].url,
                       VELMORA_HTTPS_EXPIRED=self.servers["expired"].url, VELMORA_HTTPS_PLAIN=self.servers["plain"].url,
                       VELMORA_HTTPS_SITE=winenv.win_path(self.site))
            log = os.path.join(HTTPS, "check.log")
            rc = winenv.run(env, NET_TEST, "--gtest_filter=Https.*", timeout=300, log=log)
            with open(log, encoding="utf-8", errors="replace") as f:
                text = f.read()
            self.assertEqual(rc, 0, text)
            self.assertIn("[  PASSED  ] 4 tests", text)
        # A redirect down to HTTP is refused before it is followed.
        plain = self.servers["plain"].paths
        self.assertTrue(plain and all(p.startswith("/sobe/") for p in plain), plain)


if __name__ == "__main__":
    unittest.main(verbosity=2)
