"""lista, the manifest tool, on real folders (the native Linux build)."""
import hashlib
import os
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


if __name__ == "__main__":
    unittest.main(verbosity=2)
