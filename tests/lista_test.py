"""lista, the manifest tool, on real folders (the native Linux build; the
fault matrix publishes with the Windows builds)."""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
from launcher import ROOT, write  # noqa: E402

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
                 "vazio.txt", "x" * 199, "console.txt", "COM0", "LPT10"]
        # Lengths around MD5's 64-byte block and its padding, and one of a MiB.
        for i, n in enumerate(names):
            self.put(n, data=bytes((k * 7 + i) & 255 for k in range((0, 1, 55, 56, 57, 63, 64, 65, 120, 1 << 20)[i])))
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
               "CON", "con.txt", "Aux.dat", "pasta/NUL", "com1.bin", "LPT9", "lpt1.log/f", "x" * 200]
        for name in bad:
            with self.subTest(name=name):
                shutil.rmtree(self.client, ignore_errors=True)
                self.put("bom.txt", name)
                r = self.lista()
                self.assertEqual(r.returncode, 1, r.stderr)
                self.assertIn("lista:", r.stderr)
                self.assertFalse(os.path.exists(self.site), "something was written")
        for names, why in ((["nome\udcff.txt"], "UTF-8"), (["Data/a.txt", "data/a.txt"], "letter case"),
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


if __name__ == "__main__":
    unittest.main(verbosity=2)
