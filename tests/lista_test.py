"""lista, the manifest tool, on real folders (the native Linux build)."""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
import wine  # noqa: E402

LISTA = os.path.join(os.path.dirname(wine.BUILD), "native", "lista")


def write(root, name, data=b"x"):
    path = os.path.join(root, *name.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    return path


def tree(root):
    """Every file below root with its bytes."""
    out = {}
    for top, _, files in os.walk(root):
        for f in files:
            with open(os.path.join(top, f), "rb") as fh:
                out[os.path.relpath(os.path.join(top, f), root)] = fh.read()
    return out


def md5sum(path):
    out = subprocess.run(["md5sum", path], capture_output=True, check=True).stdout
    return out.split()[0].decode()


class Lista(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="lista-")
        self.client = os.path.join(self.tmp, "client")
        self.site = os.path.join(self.tmp, "site")
        os.makedirs(self.client)

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def lista(self, *args, client=None, site=None, unprivileged=False):
        cmd = [LISTA, *args, client or self.client]
        if unprivileged and os.geteuid() == 0:
            # Root reads any file: a file that cannot be read needs another user.
            subprocess.run(["chmod", "-R", "a+rwX", self.tmp], check=True)
            os.chmod(os.path.join(self.client, "z.dat"), 0)
            cmd = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"] + cmd
        if site is not False:
            cmd.append(site or self.site)
        return subprocess.run(cmd, capture_output=True, encoding="utf-8", errors="replace", timeout=120)

    def manifest(self):
        with open(os.path.join(self.site, "update", "lista.txt"), "rb") as f:
            return f.read()

    def test_tree_with_folders_spaces_and_accents(self):
        names = ["main.exe", "data/mapa.dat", "Pasta Com Espaço/leia-me.txt", "Música/tema ção.ogg",
                 "a/b/c/d/fundo.bin", "vazio.txt"]
        for i, n in enumerate(names):
            write(self.client, n, os.urandom(1000 * i))
        r = self.lista()
        self.assertEqual(r.returncode, 0, r.stderr)
        text = self.manifest()
        self.assertTrue(text.endswith(b"\n"))
        self.assertNotIn(b"\r", text)
        lines = text.decode("utf-8").splitlines()
        self.assertEqual([l.split("|")[0] for l in lines], sorted(names, key=lambda s: s.encode()))
        for line in lines:
            name, md5, size = line.split("|")
            src = os.path.join(self.client, *name.split("/"))
            self.assertEqual(md5, md5sum(src), name)
            self.assertEqual(int(size), os.path.getsize(src), name)
            # The file stands where the launcher will ask for it.
            served = os.path.join(self.site, "update", "files", *name.split("/"))
            with open(served, "rb") as a, open(src, "rb") as b:
                self.assertEqual(a.read(), b.read(), name)
        self.assertFalse([f for _, _, fs in os.walk(self.site) for f in fs if f.endswith(".lista-tmp")])

    def test_output_is_identical_across_runs(self):
        for i in range(30):
            write(self.client, "f%02d/g%d.bin" % (i % 7, i), bytes([i]) * (i * 37))
        self.assertEqual(self.lista().returncode, 0)
        first = self.manifest()
        shutil.rmtree(self.site)
        self.assertEqual(self.lista().returncode, 0)
        self.assertEqual(self.manifest(), first)

    def test_md5_of_known_data(self):
        # Lengths around the 64-byte block and its padding boundary.
        for n in (0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 1 << 20):
            write(self.client, "len%d" % n, bytes((i * 7) & 255 for i in range(n)))
        self.assertEqual(self.lista().returncode, 0)
        for line in self.manifest().decode().splitlines():
            name, md5, _ = line.split("|")
            with open(os.path.join(self.client, name), "rb") as f:
                self.assertEqual(md5, hashlib.md5(f.read()).hexdigest(), name)

    def test_every_name_the_launcher_or_windows_would_mishandle_fails_the_run(self):
        bad = ["a..b.txt", "pasta..x/f", "dois:pontos", "barra\\invertida", "com|barra",
               "cerquilha#1", "cem%25", "nova\nlinha", "aspas\"", "menor<", "estrela*", "interroga?",
               "espaço no fim /f", "ponto no fim./f", "CON", "con.txt", "Aux.dat", "pasta/NUL", "com1.bin",
               "LPT9", "lpt1.log/f", "COM0", "lpt0.txt", "COM\u00b9", "conin$", "CONOUT$.log",
               "a.novo", "dados/B.NOVO", "a.bin.retomar", "dados/B.Retomar", "x" * 200]
        for name in bad:
            with self.subTest(name=name):
                client = os.path.join(self.tmp, "c")
                shutil.rmtree(client, ignore_errors=True)
                write(client, "bom.txt")
                write(client, name)
                r = self.lista(client=client)
                self.assertEqual(r.returncode, 1, r.stderr)
                self.assertIn("lista:", r.stderr)
                self.assertFalse(os.path.exists(os.path.join(self.site, "update", "lista.txt")))

    def test_names_just_inside_the_limits_pass(self):
        write(self.client, "x" * 199)
        write(self.client, "console.txt")
        write(self.client, "LPT10")
        write(self.client, "novo.txt.novos")
        write(self.client, "retomar.txt")
        write(self.client, "sem.exe.old")   # no "sem.exe" listed
        write(self.client, "dados.old")
        r = self.lista()
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(len(self.manifest().splitlines()), 7)

    def test_the_launchers_own_old_name_fails(self):
        write(self.client, "Launcher.exe")
        write(self.client, "launcher.EXE.old")
        r = self.lista()
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertIn("launcher.EXE.old", r.stderr)

    def test_an_empty_client_is_refused(self):
        r = self.lista()
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertFalse(os.path.exists(self.site))

    def test_a_failed_run_leaves_the_site_as_it_was(self):
        for n in ("a.txt", "b/c.txt", "m.exe"):
            write(self.client, n, b"v1 " + n.encode())
        self.assertEqual(self.lista().returncode, 0)
        before = tree(self.site)
        # Files that sort before the one that fails have changed.
        write(self.client, "a.txt", b"v2")
        write(self.client, "b/c.txt", b"v2")
        os.chmod(write(self.client, "z.dat"), 0)
        r = self.lista(unprivileged=True)
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertIn("z.dat", r.stderr)
        self.assertEqual(tree(self.site), before)

    def test_invalid_utf8_name_fails(self):
        os.makedirs(self.client, exist_ok=True)
        with open(os.path.join(self.client.encode(), b"nome\xff.txt"), "wb") as f:
            f.write(b"x")
        r = self.lista()
        self.assertEqual(r.returncode, 1)
        self.assertIn("UTF-8", r.stderr)

    def test_names_differing_only_in_case_fail(self):
        write(self.client, "Data/a.txt")
        write(self.client, "data/a.txt")
        r = self.lista()
        self.assertEqual(r.returncode, 1)
        self.assertIn("letter case", r.stderr)

    def test_more_than_256_files_is_refused_and_256_pass(self):
        for i in range(256):
            write(self.client, "f%03d" % i)
        self.assertEqual(self.lista().returncode, 0)
        self.assertEqual(len(self.manifest().splitlines()), 256)
        shutil.rmtree(self.site)
        write(self.client, "f256")
        r = self.lista()
        self.assertEqual(r.returncode, 1)
        self.assertIn("256", r.stderr)
        self.assertFalse(os.path.exists(self.site))

    def test_excluded_paths_are_left_out(self):
        write(self.client, "main.exe")
        write(self.client, "ZorunJanela.ini")
        write(self.client, "logs/hoje.log")
        write(self.client, "data/x.log")
        write(self.client, "data/y.dat")
        r = self.lista("-x", "ZorunJanela.ini", "--exclude", "logs", "-x", "*.log")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.manifest().decode().count("\n"), 2)
        self.assertIn("data/y.dat|", self.manifest().decode())
        self.assertFalse(os.path.exists(os.path.join(self.site, "update", "files", "logs")))

    def test_the_players_ini_is_warned_about(self):
        write(self.client, "ZorunJanela.ini")
        r = self.lista()
        self.assertEqual(r.returncode, 0)
        self.assertIn("warning", r.stderr)

    def test_allow_skips_writes_the_good_files_only(self):
        write(self.client, "bom.txt")
        write(self.client, "mau:nome")
        r = self.lista("--allow-skips")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.manifest().decode().split("|")[0], "bom.txt")
        self.assertIn("mau:nome", r.stderr)

    def test_check_writes_nothing(self):
        write(self.client, "a")
        r = self.lista("--check", site=False)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertFalse(os.path.exists(self.site))

    def test_usage_errors(self):
        self.assertEqual(subprocess.run([LISTA, "--help"], capture_output=True).returncode, 0)
        self.assertIn(b"lista", subprocess.run([LISTA, "--version"], capture_output=True).stdout)
        self.assertEqual(subprocess.run([LISTA, "--bogus", "a", "b"], capture_output=True).returncode, 2)
        self.assertEqual(subprocess.run([LISTA, self.client], capture_output=True).returncode, 2)
        self.assertEqual(subprocess.run([LISTA, os.path.join(self.tmp, "nada"), self.site],
                                        capture_output=True).returncode, 2)

    def test_a_site_inside_the_client_is_not_listed(self):
        write(self.client, "a.txt")
        r = self.lista(site=os.path.join(self.client, "site"))
        self.assertEqual(r.returncode, 0, r.stderr)
        r = self.lista(site=os.path.join(self.client, "site"))
        with open(os.path.join(self.client, "site", "update", "lista.txt")) as f:
            self.assertEqual([l.split("|")[0] for l in f.read().splitlines()], ["a.txt"])


LISTA_EXE = os.path.join(wine.BUILD, "lista.exe")
SIGCHECK = os.path.join(wine.PROGRAMS, "sigcheck.exe")
KEY_LINE = re.compile(r"^velmora-key 1 ([0-9a-f]{16}) ([0-9a-f]{128})\r?\n$")


def run_wine(exe, *args):
    """A Windows program under the session's Wine (ctest runs inside one):
    exit code and standard output, read through a file."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        rc = subprocess.run(["wine", exe, *args], stdout=out, stderr=err, stdin=subprocess.DEVNULL,
                            timeout=120).returncode
        out.seek(0)
        err.seek(0)
        return rc, out.read().decode(), err.read().decode()


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
        write(self.client, "main.exe", b"MZ jogo")
        write(self.client, "Data Files/mapa.dat", os.urandom(3000))

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.tmp, name)

    def keygen(self, name, windows=False):
        if windows:
            rc, out, err = run_wine(LISTA_EXE, "keygen", wine.win_path(self.path(name)))
        else:
            r = subprocess.run([LISTA, "keygen", self.path(name)], capture_output=True, encoding="utf-8",
                               preexec_fn=lambda: os.umask(0), timeout=60)
            rc, out, err = r.returncode, r.stdout, r.stderr
        self.assertEqual(rc, 0, err)
        self.assertRegex(out, KEY_LINE)
        return out

    def sign(self, key, *args, windows=False):
        if windows:
            return run_wine(LISTA_EXE, "-q", "--sign", wine.win_path(self.path(key)), *args,
                            wine.win_path(self.client), wine.win_path(self.site))[0]
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
        rc, out, _ = run_wine(SIGCHECK, *(wine.win_path(self.path(n)) for n in ("keys.txt", "m", "s")))
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
                    rc = run_wine(LISTA_EXE, "keygen", wine.win_path(self.path(name)))[0]
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
        steps = [  # one after the other: arguments, exit status, the site's serial afterwards
            (["--serial", "5000"], 0, 5000),
            (["--serial", "4999"], 1, 5000),  # refused: nothing of the new release published
            (["--serial", "4999", "--force"], 0, 4999),
            (["--serial", "4999"], 0, 4999),  # the same serial: the same release signed again
            (["--serial", "9999999999"], 0, 9999999999),
            ([], 0, 10000000000),  # the site is ahead of the clock: one more than the site's
        ]
        for i, (args, status, serial) in enumerate(steps):
            with self.subTest(args=args):
                if i == 1:
                    write(self.client, "novo.bin", b"release nova")
                before = self.published() if i else None
                self.assertEqual(self.sign("k.key", *args), status)
                manifest, sig = self.published()
                self.assertIn(b"\nserial %d\n" % serial, sig)
                if status:
                    self.assertEqual((manifest, sig), before)
                    self.assertFalse(os.path.exists(os.path.join(self.site, "update", "files", "novo.bin")))
                else:
                    self.assertIn(b"novo.bin|" if i else b"main.exe|", manifest)

    def test_nothing_is_written_with_a_bad_key_or_misused_options(self):
        self.keygen("k.key")
        with open(self.path("k.key")) as f:
            text = f.read()
        i = text.index("private ") + 8
        write(self.tmp, "damaged.key", (text[:i] + ("1" if text[i] == "0" else "0") + text[i + 1:]).encode())
        write(self.tmp, "public.txt", b"velmora-key 1 0011223344556677 " + b"ab" * 64 + b"\n")
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
                            os.path.join(wine.SOURCE, "cmake", "keys.cmake")], capture_output=True, timeout=60)
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


class DemoSite(unittest.TestCase):
    """The demo site the build produced holds what its manifest promises."""

    def test_manifest_matches_the_served_files(self):
        site = os.path.join(os.path.dirname(wine.BUILD), "demo", "site")
        with open(os.path.join(site, "update", "lista.txt"), "rb") as f:
            lines = f.read().decode("utf-8").splitlines()
        self.assertGreaterEqual(len(lines), 5)
        names = [l.split("|")[0] for l in lines]
        self.assertIn("main.exe", names)
        self.assertTrue(any(" " in n and "/" in n for n in names), "a folder with a space")
        for line in lines:
            name, md5, size = line.split("|")
            served = os.path.join(site, "update", "files", *name.split("/"))
            self.assertEqual(md5, md5sum(served), name)
            self.assertEqual(int(size), os.path.getsize(served), name)
        self.assertTrue(os.path.exists(os.path.join(site, "api", "launcher")))

    def test_the_demo_site_is_signed_with_the_demo_key(self):
        demo = os.path.join(os.path.dirname(wine.BUILD), "demo")
        with open(os.path.join(demo, "keys.txt")) as f:
            line = f.read()
        with open(os.path.join(demo, "site", "update", "lista.txt"), "rb") as f:
            manifest = f.read()
        with open(os.path.join(demo, "site", "update", "lista.txt.sig"), "rb") as f:
            self.assertTrue(verify_on_linux(line, manifest, f.read()))


if __name__ == "__main__":
    unittest.main(verbosity=2)
