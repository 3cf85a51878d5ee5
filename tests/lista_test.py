"""lista, the manifest tool, on real folders (the native Linux build; the
fault matrix publishes with the Windows builds)."""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
from launcher import BUILD, PROGRAMS, ROOT, SOURCE, read, winenv, write  # noqa: E402

LISTA = os.path.join(ROOT, "native", "lista")


class Lista(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="lista-")
        self.addCleanup(shutil.rmtree, self.tmp, True)
        self.client, self.site = os.path.join(self.tmp, "client"), os.path.join(self.tmp, "site")

    def put(self, *names, data=b"x"):
        for name in names:
            write(os.path.join(self.client, *name.split("/")), data)

    def lista(self, *args, site=None):
        cmd = [LISTA, *args, self.client] + ([] if site is False else [site or self.site])
        return subprocess.run(cmd, capture_output=True, encoding="utf-8", errors="replace", timeout=120)

    def entries(self, site=None):
        """The manifest's lines as (name, md5, size)."""
        with open(os.path.join(site or self.site, "update", "lista.txt"), "rb") as f:
            text = f.read()
        self.assertNotIn(b"\r", text)
        return [tuple(line.split("|")) for line in text.decode("utf-8").splitlines()]

    def test_a_tree_is_listed_in_byte_order_and_copied_where_the_launcher_asks(self):
        names = ["main.exe", "data/mapa.dat", "Pasta Com Espaço/leia-me.txt", "Música/tema ção.ogg", "a/b/c/d/fundo.bin",
                 "vazio.txt", "x" * 199, "console.txt", "LPT10", "novo.txt.novos", "retomar.txt", "sem.exe.old", "dados.old"]
        # Lengths around MD5's 64-byte block and its padding, and one of a MiB.
        for i, n in enumerate(names):
            self.put(n, data=bytes((k * 7 + i) & 255 for k in range((0, 1, 55, 56, 57, 63, 64, 65, 120, 1 << 20, 3, 4, 5)[i])))
        r = self.lista()
        self.assertEqual(r.returncode, 0, r.stderr)
        entries = self.entries()
        self.assertEqual([e[0] for e in entries], sorted(names, key=str.encode))
        for name, md5, size in entries:
            with open(os.path.join(self.client, *name.split("/")), "rb") as f:
                data = f.read()
            self.assertEqual((md5, int(size)), (hashlib.md5(data).hexdigest(), len(data)), name)
            with open(os.path.join(self.site, "update", "files", *name.split("/")), "rb") as f:
                self.assertEqual(f.read(), data, name)
        self.assertFalse([f for _, _, fs in os.walk(self.site) for f in fs if f.endswith(".lista-tmp")])
        first = self.entries()
        shutil.rmtree(self.site)
        self.assertEqual(self.lista().returncode, 0)
        self.assertEqual(self.entries(), first, "the same output on every run")

    def test_any_name_the_launcher_or_windows_would_mishandle_fails_the_run(self):
        bad = ["a..b.txt", "pasta..x/f", "dois:pontos", "barra\\invertida", "com|barra", "cerquilha#1", "cem%25",
               "nova\nlinha", "aspas\"", "menor<", "estrela*", "interroga?", "espaço no fim /f", "ponto no fim./f",
               "CON", "con.txt", "Aux.dat", "pasta/NUL", "com1.bin", "LPT9", "lpt1.log/f", "COM0", "lpt0.txt", "COM\u00b9",
               "conin$", "CONOUT$.log", "a.novo", "dados/B.NOVO", "a.bin.retomar", "dados/B.Retomar", "x" * 200]
        for name in bad:
            with self.subTest(name=name):
                shutil.rmtree(self.client, ignore_errors=True)
                self.put("bom.txt", name)
                r = self.lista()
                self.assertEqual(r.returncode, 1, r.stderr)
                self.assertIn("lista:", r.stderr)
                self.assertFalse(os.path.exists(self.site), "something was written")
        # Also the launcher's own ".old" name, and nothing at all to publish.
        for names, why in ((["nome\udcff.txt"], "UTF-8"), (["Data/a.txt", "data/a.txt"], "letter case"),
                           (["Launcher.exe", "launcher.EXE.old"], "launcher.EXE.old"), ([], "lista:"),
                           (["f%03d" % i for i in range(257)], "256")):
            shutil.rmtree(self.client, ignore_errors=True)
            os.makedirs(self.client)
            for n in names:
                write(os.path.join(self.client.encode(), os.fsencode(n)), b"x")
            r = self.lista()
            self.assertEqual(r.returncode, 1, why)
            self.assertIn(why, r.stderr)
            self.assertFalse(os.path.exists(self.site))
        os.unlink(os.path.join(self.client, "f256"))
        self.assertEqual(self.lista().returncode, 0, "256 files pass")

    def test_a_failed_run_leaves_the_site_as_it_was(self):
        self.put("a.txt", "b/c.txt", "m.exe", data=b"v1")
        self.assertEqual(self.lista().returncode, 0)
        before = {os.path.relpath(os.path.join(d, f), self.site): read(os.path.join(d, f))
                  for d, _, fs in os.walk(self.site) for f in fs}
        # Files that sort before the one that fails have changed; root reads any
        # file, so a file that cannot be read needs another user.
        self.put("a.txt", "b/c.txt", data=b"v2")
        self.put("z.dat")
        subprocess.run(["chmod", "-R", "a+rwX", self.tmp], check=True)
        os.chmod(os.path.join(self.client, "z.dat"), 0)
        r = subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", LISTA, self.client, self.site],
                           capture_output=True, encoding="utf-8", timeout=120)
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertIn("z.dat", r.stderr)
        after = {os.path.relpath(os.path.join(d, f), self.site): read(os.path.join(d, f))
                 for d, _, fs in os.walk(self.site) for f in fs}
        self.assertEqual(after, before)

    def test_a_new_release_leaves_the_sites_unchanged_copies_alone(self):
        # A copy rewritten would get a new date and ETag from the web server,
        # and every player's interrupted download of it would start over.
        self.put("igual.bin", "muda.bin", "estragado.bin", data=b"v1" * 1000)
        self.assertEqual(self.lista().returncode, 0)
        served = lambda n: os.path.join(self.site, "update", "files", n)  # noqa: E731
        stamp = lambda n: (os.stat(served(n)).st_ino, os.stat(served(n)).st_mtime_ns)  # noqa: E731
        before = {n: stamp(n) for n in ("igual.bin", "muda.bin", "estragado.bin")}
        self.put("muda.bin", data=b"v2" * 1000)
        write(served("estragado.bin"), b"x" * 2000)  # the site's copy damaged, its size kept
        self.assertEqual(self.lista().returncode, 0)
        self.assertEqual(stamp("igual.bin"), before["igual.bin"])
        for n in ("muda.bin", "estragado.bin"):
            self.assertNotEqual(stamp(n), before[n], n)
            with open(os.path.join(self.client, n), "rb") as a, open(served(n), "rb") as b:
                self.assertEqual(a.read(), b.read(), n)
        # A file of 4 GiB or more, whose size the launcher cannot hold, is refused.
        with open(os.path.join(self.client, "enorme.pak"), "wb") as f:
            f.truncate(4 << 30)
        r = self.lista()
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertIn("enorme.pak", r.stderr)

    def test_options(self):
        self.put("main.exe", "ZorunJanela.ini", "logs/hoje.log", "data/x.log", "data/y.dat", "mau:nome")
        r = self.lista("-x", "ZorunJanela.ini", "--exclude", "logs", "-x", "*.log", "--allow-skips")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual([e[0] for e in self.entries()], ["data/y.dat", "main.exe"])
        self.assertIn("mau:nome", r.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.site, "update", "files", "logs")))
        r = self.lista("--check", site=os.path.join(self.tmp, "check"))
        self.assertIn("warning", r.stderr, "the players' INI is warned about")
        self.assertEqual(self.lista("--check", site=False).returncode, 1, "a bad name fails a check too")
        os.unlink(os.path.join(self.client, "mau:nome"))
        self.assertEqual(self.lista("--check", site=False).returncode, 0)
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "check")), "--check writes nothing")
        # A site inside the client is not listed.
        inside = os.path.join(self.client, "site")
        for _ in range(2):
            self.assertEqual(self.lista("-x", "*.log", site=inside).returncode, 0)
        self.assertNotIn("site", {e[0].split("/")[0] for e in self.entries(inside)})
        # Usage.
        self.assertEqual(subprocess.run([LISTA, "--help"], capture_output=True).returncode, 0)
        self.assertIn(b"lista", subprocess.run([LISTA, "--version"], capture_output=True).stdout)
        for args in (["--bogus", self.client, self.site], [self.client], [os.path.join(self.tmp, "nada"), self.site]):
            self.assertEqual(subprocess.run([LISTA, *args], capture_output=True).returncode, 2, args)


LISTA_EXE = os.path.join(BUILD, "lista.exe")
SIGCHECK = os.path.join(PROGRAMS, "sigcheck.exe")
KEY_LINE = re.compile(r"^velmora-key 1 ([0-9a-f]{16}) ([0-9a-f]{128})\r?\n$")


def run_wine(exe, *args):
    """A Windows program in the session ctest runs in: (exit code, output, errors)."""
    return winenv.output(os.environ, exe, *args, timeout=120)


def verify_on_linux(line, manifest, sig):
    """The signature file checked as the README describes it, with Python's
    cryptography: True when it holds for the manifest and the key line."""
    from cryptography.exceptions import InvalidSignature
    from cryptography.hazmat.primitives import hashes
    from cryptography.hazmat.primitives.asymmetric import ec, utils
    key_id, xy = KEY_LINE.match(line).groups()
    xy = bytes.fromhex(xy)
    key = ec.EllipticCurvePublicNumbers(int.from_bytes(xy[:32], "big"), int.from_bytes(xy[32:], "big"),
                                        ec.SECP256R1()).public_key()
    lines = sig.split(b"\n")
    if len(lines) != 5 or lines[0] != b"velmora-sig 1" or lines[1] != b"key " + key_id.encode():
        return False
    header = b"\n".join(lines[:3]) + b"\n"
    rs = bytes.fromhex(lines[3][4:].decode())
    der = utils.encode_dss_signature(int.from_bytes(rs[:32], "big"), int.from_bytes(rs[32:], "big"))
    try:
        key.verify(der, header + manifest, ec.ECDSA(hashes.SHA256()))
        return True
    except InvalidSignature:
        return False


class Signing(unittest.TestCase):
    """Keys and signed sites, on Linux (libcrypto) and Windows (lista.exe, CNG):
    what one side signs, the other verifies."""

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="lista-sign-")
        self.client = os.path.join(self.tmp, "client")
        self.site = os.path.join(self.tmp, "site")
        write(os.path.join(self.client, "main.exe"), b"MZ jogo")
        write(os.path.join(self.client, "Data Files", "mapa.dat"), os.urandom(3000))

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.tmp, name)

    def keygen(self, name, windows=False):
        if windows:
            rc, out, err = run_wine(LISTA_EXE, "keygen", winenv.win_path(self.path(name)))
        else:
            r = subprocess.run([LISTA, "keygen", self.path(name)], capture_output=True, encoding="utf-8",
                               preexec_fn=lambda: os.umask(0), timeout=60)
            rc, out, err = r.returncode, r.stdout, r.stderr
        self.assertEqual(rc, 0, err)
        self.assertRegex(out, KEY_LINE)
        return out

    def sign(self, key, *args, windows=False):
        if windows:
            return run_wine(LISTA_EXE, "-q", "--sign", winenv.win_path(self.path(key)), *args,
                            winenv.win_path(self.client), winenv.win_path(self.site))[0]
        return subprocess.run([LISTA, "-q", "--sign", self.path(key), *args, self.client, self.site],
                              capture_output=True, timeout=60).returncode

    def published(self):
        with open(os.path.join(self.site, "update", "lista.txt"), "rb") as f:
            manifest = f.read()
        with open(os.path.join(self.site, "update", "lista.txt.sig"), "rb") as f:
            return manifest, f.read()

    def sigcheck(self, lines, manifest, sig):
        """The launcher's own check under Wine: (verified, serial)."""
        for name, data in (("keys.txt", "".join(lines).encode()), ("m", manifest), ("s", sig)):
            with open(self.path(name), "wb") as f:
                f.write(data)
        rc, out, _ = run_wine(SIGCHECK, *(winenv.win_path(self.path(n)) for n in ("keys.txt", "m", "s")))
        self.assertIn(rc, (0, 1), "sigcheck could not run")
        return rc == 0, int(out.split("=")[1]) if rc == 0 else None

    def test_keygen_makes_an_owner_only_key_and_never_overwrites_it(self):
        for windows in (False, True):
            with self.subTest(windows=windows):
                name = "win.key" if windows else "linux.key"
                self.keygen(name, windows)
                mode = os.stat(self.path(name)).st_mode & 0o777
                with open(self.path(name), "rb") as f:
                    made = f.read()
                # Under Wine the file's access list maps onto the Unix bits:
                # others at least get nothing.
                if windows:
                    self.assertEqual(mode & 0o007, 0, oct(mode))
                else:
                    self.assertEqual(mode, 0o600, oct(mode))
                if windows:
                    rc = run_wine(LISTA_EXE, "keygen", winenv.win_path(self.path(name)))[0]
                else:
                    rc = subprocess.run([LISTA, "keygen", self.path(name)], capture_output=True).returncode
                self.assertNotEqual(rc, 0)
                with open(self.path(name), "rb") as f:
                    self.assertEqual(f.read(), made)

    def test_what_one_side_signs_the_other_verifies(self):
        for windows in (False, True):
            with self.subTest(signed_on="windows" if windows else "linux"):
                shutil.rmtree(self.site, ignore_errors=True)
                line = self.keygen("k%d.key" % windows, windows)
                other = self.keygen("o%d.key" % windows, not windows)
                self.assertEqual(self.sign("k%d.key" % windows, "--serial", "1234567", windows=windows), 0)
                manifest, sig = self.published()
                self.assertTrue(verify_on_linux(line, manifest, sig))
                self.assertEqual(self.sigcheck([line], manifest, sig), (True, 1234567))
                # Either key of the launcher's two; the next key listed first.
                self.assertEqual(self.sigcheck([other, line], manifest, sig), (True, 1234567))
                self.assertEqual(self.sigcheck([other], manifest, sig), (False, None))
                tampered = manifest.replace(b"main.exe|", b"main.exe|0", 1)[:len(manifest)]
                self.assertFalse(verify_on_linux(line, tampered, sig))
                self.assertEqual(self.sigcheck([line], tampered, sig), (False, None))

    def test_a_serial_below_the_sites_is_refused_unless_forced(self):
        self.keygen("k.key")
        steps = [  # one after the other: a new file in the release, arguments, exit status, the site's serial
            (None, ["--serial", "5000"], 0, 5000),
            ("novo.bin", ["--serial", "4999"], 1, 5000),  # refused: nothing of the new release published
            (None, ["--serial", "4999", "--force"], 0, 4999),
            (None, ["--serial", "4999"], 0, 4999),  # the same serial: the same release signed again
            ("outro.bin", ["--serial", "4999"], 1, 4999),  # the same serial for another release
            (None, ["--serial", "9999999999"], 0, 9999999999),
            (None, [], 0, 10000000000),  # the site is ahead of the clock: one more than the site's
            ("sem.bin", [None], 1, 10000000000),  # a signed site refuses an unsigned release ...
            (None, [None, "--unsigned"], 0, 10000000000),  # ... unless asked for
        ]
        for i, (new, args, status, serial) in enumerate(steps):
            with self.subTest(args=args):
                if new:
                    write(os.path.join(self.client, new), b"release nova " + new.encode())
                before = self.published() if i else None
                if args[:1] == [None]:
                    self.assertEqual(subprocess.run([LISTA, "-q", *args[1:], self.client, self.site],
                                                    capture_output=True).returncode, status)
                else:
                    self.assertEqual(self.sign("k.key", *args), status)
                manifest, sig = self.published()
                self.assertIn(b"\nserial %d\n" % serial, sig)
                if status:
                    self.assertEqual((manifest, sig), before)
                    self.assertFalse(os.path.exists(os.path.join(self.site, "update", "files", new)))
                else:
                    self.assertIn(b"novo.bin|" if i else b"main.exe|", manifest)

    def test_nothing_is_written_with_a_bad_key_or_misused_options(self):
        self.keygen("k.key")
        with open(self.path("k.key")) as f:
            text = f.read()
        i = text.index("private ") + 8
        write(os.path.join(self.tmp, "damaged.key"), (text[:i] + ("1" if text[i] == "0" else "0") + text[i + 1:]).encode())
        write(os.path.join(self.tmp, "public.txt"), b"velmora-key 1 0011223344556677 " + b"ab" * 64 + b"\n")
        shutil.copy(self.path("k.key"), os.path.join(self.client, "Data Files", "k.key"))
        for args in (["--sign", self.path("damaged.key")], ["--sign", self.path("public.txt")],
                     ["--sign", self.path("missing.key")], ["--serial", "7"],
                     ["--sign", self.path("k.key"), "--serial", "-7"],
                     ["--sign", os.path.join(self.client, "Data Files", "k.key")],  # would be published
                     ["--sign", os.path.join(self.client, "Data Files", "k.key"), "-x", "Data Files"]):
            with self.subTest(args=args):
                r = subprocess.run([LISTA, *args, self.client, self.site], capture_output=True)
                self.assertEqual(r.returncode, 2, r.stderr)
                self.assertFalse(os.path.exists(self.site))


    def test_the_demo_site_is_signed_with_the_demo_key(self):
        demo = os.path.join(ROOT, "demo")
        with open(os.path.join(demo, "keys.txt")) as f:
            line = f.read()
        with open(os.path.join(demo, "site", "update", "lista.txt"), "rb") as f:
            manifest = f.read()
        with open(os.path.join(demo, "site", "update", "lista.txt.sig"), "rb") as f:
            self.assertTrue(verify_on_linux(line, manifest, f.read()))


class LauncherKeys(unittest.TestCase):
    """The launcher's build reads the operator's key lines (cmake/keys.cmake)
    and stops on any line that is not exactly right."""

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="keys-")
        self.lines = []
        for i in range(3):
            r = subprocess.run([LISTA, "keygen", os.path.join(self.tmp, "k%d" % i)], capture_output=True,
                               encoding="utf-8", check=True)
            self.lines.append(r.stdout)

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def build_keys(self, text):
        keys, header = os.path.join(self.tmp, "keys.txt"), os.path.join(self.tmp, "keys.h")
        with open(keys, "w") as f:
            f.write(text)
        if os.path.exists(header):
            os.unlink(header)
        r = subprocess.run(["cmake", "-DVELMORA_KEYS=" + keys, "-DKEYS_HEADER=" + header, "-P",
                            os.path.join(SOURCE, "cmake", "keys.cmake")], capture_output=True, timeout=60)
        if r.returncode:
            return None
        with open(header) as f:
            return f.read()

    def test_one_or_two_good_lines_are_built_in_byte_for_byte(self):
        two = "# a chave atual e a próxima\n" + self.lines[0] + "\n" + self.lines[1]
        header = self.build_keys(two)
        self.assertIsNotNone(header)
        built = re.findall(r"\{\{([^}]*)\}, \{([^}]*)\}\}", header)
        self.assertEqual(len(built), 2)
        for (ids, xys), line in zip(built, self.lines):
            key_id, xy = KEY_LINE.match(line).groups()
            self.assertEqual("".join(b[2:] for b in ids.replace(" ", "").strip(",").split(",")), key_id)
            self.assertEqual("".join(b[2:] for b in xys.replace(" ", "").strip(",").split(",")), xy)
        self.assertIsNotNone(self.build_keys(self.lines[2]))

    def private_key(self):
        with open(os.path.join(self.tmp, "k0")) as f:
            return f.read()

    def test_every_bad_key_file_stops_the_build(self):
        good = self.lines[0]
        key_id, xy = KEY_LINE.match(good).groups()
        flipped = xy[:-1] + ("0" if xy[-1] != "0" else "1")
        for why, text in [
                ("a key that does not match its id", "velmora-key 1 %s %s\n" % (key_id, flipped)),
                ("a key cut short", good[:-3] + "\n"),
                ("upper-case digits", good.upper().replace("VELMORA-KEY", "velmora-key")),
                ("another version", good.replace("velmora-key 1", "velmora-key 2")),
                ("three keys", "".join(self.lines)),
                ("the same key twice", good + good),
                ("no key at all", "# nada\n"),
                ("a private key file", self.private_key())]:
            with self.subTest(why):
                self.assertIsNone(self.build_keys(text))

if __name__ == "__main__":
    unittest.main(verbosity=2)
