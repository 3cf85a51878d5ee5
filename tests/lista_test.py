"""lista, the manifest tool, on real folders (the native Linux build; the
fault matrix publishes with the Windows builds)."""
import gzip
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
from launcher import BUILD, PROGRAMS, ROOT, SOURCE, read, wait, winenv, write  # noqa: E402
import nginx  # noqa: E402  (tools/, on the path through launcher)

LISTA = os.path.join(ROOT, "native", "lista")


NOBODY = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]


def snapshot(site):
    """Every file and folder below site, with each file's bytes."""
    out = {}
    for d, dirs, files in os.walk(site):
        for name in dirs:
            out[os.path.relpath(os.path.join(d, name), site) + "/"] = None
        for name in files:
            out[os.path.relpath(os.path.join(d, name), site)] = read(os.path.join(d, name))
    return out


def consistent(site, new=None):
    """Problems a launcher reading the site now would meet: a file its manifest
    lists that is not there (a 404 mid-update), and once the manifest is new
    (its text is new, or new is None), a file without the MD5 it lists. (A file
    replaced under the manifest before it is the one thing a site served by
    name cannot avoid; launchers check every MD5.)"""
    text = read(os.path.join(site, "update", "lista.txt"))
    if text is None:
        return ["no manifest"]
    bad = []
    for line in text.decode().splitlines():
        name, md5_, size = line.split("|")
        data = read(os.path.join(site, "update", "files", *name.split("/")))
        if data is None:
            bad.append(name + " missing")
        elif (new is None or text == new) and (hashlib.md5(data).hexdigest() != md5_ or len(data) != int(size)):
            bad.append(name + " stale")
    return bad


BIG = bytes(range(256)) * 4096 + b"!"  # just over 1 MiB: a file that gets a chunk map
BIG_MAP = hashlib.md5(BIG).hexdigest() + ".map"


def debris(site):
    return [os.path.join(d, f) for d, _, fs in os.walk(site) for f in fs if ".lista-" in f]


class Lista(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="lista-")
        self.addCleanup(shutil.rmtree, self.tmp, True)
        self.client, self.site = os.path.join(self.tmp, "client"), os.path.join(self.tmp, "site")

    def put(self, *names, data=b"x"):
        for name in names:
            write(os.path.join(self.client, *name.split("/")), data)

    def lista(self, *args, site=None, client=None, prefix=(), exe=LISTA):
        cmd = [*prefix, exe, *args, client or self.client] + ([] if site is False else [site or self.site])
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
        # Windows keeps "ß" and "SS" apart (it maps one character to one), and
        # links are listed under their own names with their targets' bytes.
        self.put("straße.txt", data=b"ss1")
        self.put("STRASSE.txt", data=b"ss2")
        write(os.path.join(self.tmp, "fora", "f.bin"), b"de fora")
        os.symlink(os.path.join(self.tmp, "fora"), os.path.join(self.client, "ligada"))
        os.symlink("../main.exe", os.path.join(self.client, "data", "atalho.exe"))
        r = self.lista()
        self.assertEqual(r.returncode, 0, r.stderr)
        entries = self.entries()
        names += ["straße.txt", "STRASSE.txt", "ligada/f.bin", "data/atalho.exe"]
        self.assertEqual([e[0] for e in entries], sorted(names, key=str.encode))
        for name, md5, size in entries:
            with open(os.path.join(self.client, *name.split("/")), "rb") as f:
                data = f.read()
            self.assertEqual((md5, int(size)), (hashlib.md5(data).hexdigest(), len(data)), name)
            with open(os.path.join(self.site, "update", "files", *name.split("/")), "rb") as f:
                self.assertEqual(f.read(), data, name)
        self.assertFalse(debris(self.site))
        with open(os.path.join(self.site, "update", "lista.txt"), "rb") as f:
            self.assertEqual(gzip.decompress(read(os.path.join(self.site, "update", "lista.txt.gz"))), f.read(),
                             "the compressed manifest is the manifest")
        first = self.entries()
        shutil.rmtree(self.site)
        self.assertEqual(self.lista().returncode, 0)
        self.assertEqual(self.entries(), first, "the same output on every run")

    def test_any_name_the_launcher_or_windows_would_mishandle_fails_the_run(self):
        bad = ["a..b.txt", "pasta..x/f", "dois:pontos", "barra\\invertida", "com|barra", "cerquilha#1", "cem%25",
               "nova\nlinha", "aspas\"", "menor<", "estrela*", "interroga?", "espaço no fim /f", "ponto no fim./f",
               "CON", "con.txt", "Aux.dat", "pasta/NUL", "com1.bin", "LPT9", "lpt1.log/f", "COM0", "lpt0.txt", "COM\u00b9",
               "conin$", "CONOUT$.log", "a.novo", "dados/B.NOVO", "a.bin.retomar", "dados/B.Retomar", "x" * 200,
               "a.bin.lista-old", "b/c.LISTA-TMP"]
        for name in bad:
            with self.subTest(name=name):
                shutil.rmtree(self.client, ignore_errors=True)
                self.put("bom.txt", name)
                r = self.lista()
                self.assertEqual(r.returncode, 1, r.stderr)
                self.assertIn("lista:", r.stderr)
                self.assertFalse(os.path.exists(self.site), "something was written")
        for names, why in ((["nome\udcff.txt"], "UTF-8"), (["Data/a.txt", "data/a.txt"], "letter case"),
                           (["Launcher.exe", "launcher.EXE.old"], "launcher.EXE.old")):
            shutil.rmtree(self.client, ignore_errors=True)
            os.makedirs(self.client)
            for n in names:
                write(os.path.join(self.client.encode(), os.fsencode(n)), b"x")
            r = self.lista()
            self.assertEqual(r.returncode, 1, why)
            self.assertIn(why, r.stderr)
            self.assertFalse(os.path.exists(self.site))

    def test_a_manifest_replaced_within_the_second_gets_a_new_version(self):
        """nginx's ETag is the time in seconds and the size: a new manifest of
        the same size within the same second would pass for the old one with
        launchers that ask whether it changed. Its time is moved on."""
        self.put("a.bin", data=b"1")
        self.assertEqual(self.lista().returncode, 0)
        update = os.path.join(self.site, "update")
        times = {n: os.stat(os.path.join(update, n)).st_mtime for n in ("lista.txt", "lista.txt.gz")}
        self.put("a.bin", data=b"2")  # the same size, another MD5
        self.assertEqual(self.lista().returncode, 0)
        for n, t in times.items():
            self.assertGreaterEqual(int(os.stat(os.path.join(update, n)).st_mtime), int(t) + 1, n)

    def test_a_whole_client_within_the_launchers_limits(self):
        """100,000 files pass and one more is refused, whatever is allowed to
        be skipped; so is a manifest of more than 16 MiB. (In memory: a disk
        takes a minute to make 100,000 files.)"""
        shm = tempfile.mkdtemp(prefix="lista-", dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
        self.addCleanup(shutil.rmtree, shm, True)
        self.client, self.site = os.path.join(shm, "client"), os.path.join(shm, "site")
        def empty(folder, names):
            os.makedirs(folder, exist_ok=True)
            for name in names:
                os.close(os.open(os.path.join(folder, name), os.O_CREAT | os.O_WRONLY, 0o644))
        for d in range(100):
            empty(os.path.join(self.client, "d%02d" % d), ("%05d" % i for i in range(d * 1000, d * 1000 + 1000)))
        r = self.lista("--check")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("100000 files", r.stderr + r.stdout)
        empty(self.client, ["mais"])
        for args in ((), ("--allow-skips",)):
            r = self.lista(*args)
            self.assertEqual(r.returncode, 1, args)
            self.assertIn("at most 100000", r.stderr)
            self.assertFalse(os.path.exists(self.site))
        shutil.rmtree(self.client)
        # 90,000 lines of 196 bytes: 17.6 MB of manifest.
        long = "p" * 150
        empty(os.path.join(self.client, long), ("%09d" % i for i in range(90000)))
        r = self.lista("--check")
        self.assertEqual(r.returncode, 1)
        self.assertIn("launchers take at most 16777216", r.stderr)

    def test_refusals_leave_the_site_as_it_was(self):
        """Each row: a release that must not go out, the exit status, words of
        the message; the site keeps every byte of the release before it, and no
        file of lista's own is left behind."""
        keys = os.path.join(self.tmp, "keys")
        os.makedirs(keys)
        for k in ("k.key", "outra.key"):
            subprocess.run([LISTA, "keygen", os.path.join(keys, k)], capture_output=True, check=True)
        key = os.path.join(keys, "k.key")

        def link(target, name):
            path = os.path.join(self.client, *name.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            os.symlink(target, path)

        def unreadable(name):
            os.chmod(os.path.join(self.client, *name.split("/")), 0)

        def full_disk():
            # The site on a small disk, its release in place; the new release
            # needs more room than is left.
            os.makedirs(self.site, exist_ok=True)
            subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", self.site], check=True)
            self.addCleanup(subprocess.run, ["umount", self.site])
            self.assertEqual(self.lista("--sign", key, "--serial", "100").returncode, 0)
            self.put("data/b.bin", data=os.urandom(600 << 10))
            self.put("data/z.bin", data=os.urandom(600 << 10))

        rows = [  # why, preparation, extra arguments, run as nobody, exit status, words of the message
            ("an unreadable folder", lambda: (self.put("data/sub/c.bin"), unreadable("data/sub")), [], True, 2,
             "data/sub: cannot read the folder: Permission denied"),
            ("an unreadable file", lambda: (self.put("data/c.bin"), unreadable("data/c.bin")), [], True, 2,
             "data/c.bin: cannot be read: Permission denied"),
            ("a read-only site", lambda: (self.put("c.bin"), os.chmod(os.path.join(self.site, "update"), 0o555)),
             [], True, 2, "Permission denied"),
            # (before the full disk, whose small file system stays mounted)
            ("a folder on the site where a chunk map goes",
             lambda: (self.put("g.pak", data=BIG), os.makedirs(os.path.join(self.site, "update", "maps", BIG_MAP))),
             ["--map-min", "1M"], False, 1, "update/maps/" + BIG_MAP + ": is a folder on the site"),
            ("a full disk", full_disk, [], False, 2, "No space left on device"),
            ("an empty client, skips allowed", lambda: shutil.rmtree(self.client) or os.makedirs(self.client),
             ["--allow-skips"], False, 1, "no files to list"),
            ("every name bad, skips allowed",
             lambda: shutil.rmtree(self.client) or self.put("a:b", "CON", "c|d"), ["--allow-skips"], False, 1, "no files"),
            ("the site inside the client", lambda: None, ["--site-in-client"], False, 2, "overlap"),
            ("the client inside the site", lambda: None, ["--client-in-site"], False, 2, "overlap"),
            ("an accented case clash", lambda: self.put("ção.txt", "ÇÃO.txt"), [], False, 1, "only in letter case"),
            ("accented folders clash", lambda: self.put("Ação/a.txt", "AÇÃO/b.txt"), [], False, 1, "only in letter case"),
            ("the key by another spelling", lambda: (shutil.copy(key, os.path.join(self.client, "k.key")),
                                                     link(self.client, "../cliente")),
             ["--key", os.path.join(self.tmp, "cliente", ".", "k.key")], False, 2, "gets published"),
            ("the key by a symlink in the client", lambda: link(key, "data/chave"), ["--key", key], False, 1,
             "data/chave: is the signing key"),
            ("a private key by any name", lambda: shutil.copy(os.path.join(keys, "outra.key"),
                                                              os.path.join(self.client, "data", "leia.txt")),
             [], False, 1, "data/leia.txt: is a private key"),
            ("a link loop", lambda: link("..", "data/volta"), [], False, 1, "data/volta: is a link to the client folder"),
            ("a dangling link", lambda: link("nada.bin", "data/perdido"), [], False, 1, "data/perdido: is a link to nada.bin"),
            ("a serial with no room", lambda: self.put("c.bin"), ["--serial", "9999999999999999990"], False, 1, "no room"),
            ("another key without --rotate", lambda: self.put("c.bin"), ["--key", os.path.join(keys, "outra.key")], False, 1,
             "--rotate"),
            ("a folder on the site where a file goes",
             lambda: (self.put("d.bin"), os.makedirs(os.path.join(self.site, "update", "files", "d.bin"))), [], False, 1,
             "d.bin: is a folder on the site"),
            ("a pattern that matches nothing", lambda: self.put("c.bin"), ["-x", "Dta/logs"], False, 1, "matches nothing"),
        ]
        for why, prepare, args, nobody, status, words in rows:
            with self.subTest(why):
                for path in (self.client, self.site, os.path.join(self.tmp, "cliente")):
                    if os.path.islink(path):
                        os.unlink(path)
                    subprocess.run(["chmod", "-R", "u+rwX", self.tmp])
                    shutil.rmtree(path, ignore_errors=True)
                self.put("main.exe", "data/a.bin", data=b"v1")
                if why != "a full disk":
                    self.assertEqual(self.lista("--sign", key, "--serial", "100").returncode, 0)
                prepare()
                before = snapshot(self.site)
                client, site = self.client, self.site
                if "--site-in-client" in args:
                    site = os.path.join(self.client, "site")
                if "--client-in-site" in args:
                    client = os.path.join(self.site, "update")
                sign = args[args.index("--key") + 1] if "--key" in args else key
                args = [a for a in args if a not in ("--site-in-client", "--client-in-site", "--key", sign)]
                prefix = ()
                if nobody:
                    subprocess.run(["chmod", "-R", "a+rX", self.tmp], check=True)
                    subprocess.run(["chmod", "a+w", self.tmp, self.site], check=True)
                    prefix = NOBODY
                    unreadable("data/sub" if "folder" in why else "data/c.bin") if "unreadable" in why else None
                r = self.lista("--sign", sign, *args, client=client, site=site, prefix=prefix)
                self.assertEqual(r.returncode, status, r.stderr)
                self.assertIn(words, r.stderr)
                self.assertEqual(snapshot(self.site), before)
                self.assertFalse(debris(self.tmp), "lista's own files left behind")
                self.assertFalse(os.path.exists(os.path.join(self.client, "site")))

    def test_a_new_release_leaves_the_sites_unchanged_copies_alone(self):
        # A copy rewritten would get a new date and ETag from the web server,
        # and every player's interrupted download of it would start over.
        self.put("igual.bin", "muda.bin", "estragado.bin", data=b"v1" * 1000)
        self.assertEqual(self.lista().returncode, 0)
        served = lambda n: os.path.join(self.site, "update", "files", n)  # noqa: E731
        stamp = lambda n: (os.stat(served(n)).st_ino, os.stat(served(n)).st_mtime_ns)  # noqa: E731
        before = {n: stamp(n) for n in ("igual.bin", "muda.bin", "estragado.bin")}
        manifest = stamp("../lista.txt")
        # Nothing changed: nothing is written, not even the manifest.
        r = self.lista()
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("already serves", r.stderr)
        self.assertEqual({n: stamp(n) for n in before}, before)
        self.assertEqual(stamp("../lista.txt"), manifest)
        self.put("muda.bin", data=b"v2" * 1000)
        write(served("estragado.bin"), b"x" * 2000)  # the site's copy damaged, its size kept
        self.assertEqual(self.lista().returncode, 0)
        self.assertEqual(stamp("igual.bin"), before["igual.bin"])
        for n in ("muda.bin", "estragado.bin"):
            self.assertNotEqual(stamp(n), before[n], n)
            with open(os.path.join(self.client, n), "rb") as a, open(served(n), "rb") as b:
                self.assertEqual(a.read(), b.read(), n)
        # Files of older releases stay for launchers still fetching them,
        # until --prune.
        os.unlink(os.path.join(self.client, "muda.bin"))
        self.assertEqual(self.lista().returncode, 0)
        self.assertTrue(os.path.exists(served("muda.bin")))
        self.put("pasta/velho.bin")
        self.assertEqual(self.lista().returncode, 0)
        os.unlink(os.path.join(self.client, "pasta", "velho.bin"))
        r = self.lista("--prune")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(sorted(os.listdir(os.path.join(self.site, "update", "files"))),
                         ["estragado.bin", "igual.bin"])
        # A file of 4 GiB or more, whose size the launcher cannot hold, is refused.
        with open(os.path.join(self.client, "enorme.pak"), "wb") as f:
            f.truncate(4 << 30)
        r = self.lista()
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertIn("enorme.pak", r.stderr)

    def test_options(self):
        self.put("main.exe", "ZorunJanela.ini", "logs/hoje.log", "data/x.log", "data/y.dat", "mau:nome")
        r = self.lista("-x", "ZorunJanela.ini", "--exclude", "./logs/", "-x", "*.log", "--allow-skips")
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
        # Usage.
        self.assertEqual(subprocess.run([LISTA, "--help"], capture_output=True).returncode, 0)
        self.assertIn(b"lista", subprocess.run([LISTA, "--version"], capture_output=True).stdout)
        for args in (["--bogus", self.client, self.site], [self.client], [os.path.join(self.tmp, "nada"), self.site],
                     ["--no-copy", self.client, self.site], ["-x", "../fora", self.client, self.site]):
            self.assertEqual(subprocess.run([LISTA, *args], capture_output=True).returncode, 2, args)


def read_map(data):
    """A chunk map as the README defines it: (size, md5, [(length, chunk md5)]);
    asserts the parts that only say the map is whole."""
    assert data[:4] == b"VMAP" and int.from_bytes(data[4:8], "little") == 1, data[:8]
    count = int.from_bytes(data[32:36], "little")
    assert len(data) == 52 + 20 * count, (len(data), count)
    assert hashlib.md5(data[52:]).digest() == data[36:52], "the records' MD5"
    chunks = [(int.from_bytes(data[52 + 20 * i:56 + 20 * i], "little"), data[56 + 20 * i:72 + 20 * i].hex())
              for i in range(count)]
    return int.from_bytes(data[8:16], "little"), data[16:32].hex(), chunks


class ChunkMaps(unittest.TestCase):
    """The chunk maps lista writes beside large files (update/maps/<md5>.map)."""

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="lista-maps-")
        self.addCleanup(shutil.rmtree, self.tmp, True)
        self.client, self.site = os.path.join(self.tmp, "client"), os.path.join(self.tmp, "site")
        self.maps = os.path.join(self.site, "update", "maps")

    def lista(self, *args):
        r = subprocess.run([LISTA, *args, self.client, self.site], capture_output=True, text=True, timeout=120)
        return r

    def put(self, name, data):
        write(os.path.join(self.client, *name.split("/")), data)
        return data

    def check_map(self, data):
        """The site's map of data holds data's chunks, in order, each about 64 KiB."""
        size, md5, chunks = read_map(read(os.path.join(self.maps, hashlib.md5(data).hexdigest() + ".map")))
        self.assertEqual((size, md5), (len(data), hashlib.md5(data).hexdigest()))
        at = 0
        for i, (length, chunk) in enumerate(chunks):
            self.assertEqual(chunk, hashlib.md5(data[at:at + length]).hexdigest(), "chunk %d" % i)
            if i + 1 < len(chunks):
                self.assertTrue(16 << 10 <= length <= 256 << 10, length)
            at += length
        self.assertEqual(at, len(data))
        self.assertTrue(32 << 10 < len(data) / len(chunks) < 128 << 10, len(data) / len(chunks))

    def test_each_large_file_gets_the_map_of_its_bytes(self):
        big = self.put("Data/grande.pak", os.urandom(3 << 20))
        edge = self.put("Data/limite.pak", os.urandom(2 << 20))
        self.put("pequeno.bin", os.urandom((2 << 20) - 1))
        r = self.lista("--map-min", "2M")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("2 chunk maps written", r.stderr)
        self.assertEqual(sorted(os.listdir(self.maps)),
                         sorted(hashlib.md5(d).hexdigest() + ".map" for d in (big, edge)))
        for data in (big, edge):
            self.check_map(data)
        # Nothing changed: no map is written again.
        stamps = {n: os.stat(os.path.join(self.maps, n)).st_mtime_ns for n in os.listdir(self.maps)}
        r = self.lista("--map-min", "2M")
        self.assertIn("already serves", r.stderr)
        self.assertEqual({n: os.stat(os.path.join(self.maps, n)).st_mtime_ns for n in os.listdir(self.maps)}, stamps)
        # A file changed in place (its size kept, so lista expects the one it
        # serves) and one grown: each gets the map of its new bytes; the old
        # maps stay for launchers still on the old release, until --prune.
        edge2 = self.put("Data/limite.pak", edge[:1000] + b"x" + edge[1001:])
        big2 = self.put("Data/grande.pak", big + b"mais")
        self.assertEqual(self.lista("--map-min", "2M").returncode, 0)
        for data in (edge2, big2):
            self.check_map(data)
        self.assertEqual(len(os.listdir(self.maps)), 4)
        r = self.lista("--map-min", "2M", "--prune")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(sorted(os.listdir(self.maps)),
                         sorted(hashlib.md5(d).hexdigest() + ".map" for d in (big2, edge2)))
        # With maps off, a new file gets none; a threshold launchers never
        # ask for is refused.
        self.put("Data/outro.pak", os.urandom(3 << 20))
        self.assertEqual(self.lista("--map-min", "0").returncode, 0)
        self.assertEqual(len(os.listdir(self.maps)), 2)
        r = self.lista("--map-min", "512K")
        self.assertEqual(r.returncode, 2)
        self.assertIn("1 MiB", r.stderr)


LISTA_HOOKS = os.path.join(ROOT, "native", "lista-hooks")


class Publishing(unittest.TestCase):
    """The order in which a release goes into place, step by step, through the
    tests' build of lista, which stops before each step (LISTA_HOOK)."""

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="lista-pub-")
        self.addCleanup(shutil.rmtree, self.tmp, True)
        self.site = os.path.join(self.tmp, "site")
        self.v1, self.v2 = os.path.join(self.tmp, "v1"), os.path.join(self.tmp, "v2")
        for n in ("main.exe", "a.bin", "dados/b.bin", "dados/c.bin"):
            write(os.path.join(self.v1, *n.split("/")), b"um " + n.encode())
        for n in ("main.exe", "a.bin", "dados/b.bin", "novo/d.bin"):  # c.bin goes, d.bin comes
            write(os.path.join(self.v2, *n.split("/")), b"dois " + n.encode())
        write(os.path.join(self.v2, "dados", "c.bin.mesmo"), b"x")

    def run_hooked(self, client, on_step):
        """lista-hooks publishing client; on_step(step) answers each step:
        "go", "fail", or "kill". Returns (exit status, steps seen)."""
        p = subprocess.Popen([LISTA_HOOKS, "-q", client, self.site], env=dict(os.environ, LISTA_HOOK="1"),
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        steps = []
        try:
            for line in p.stdout:
                steps.append(line.strip())
                answer = on_step(line.strip())
                if answer == "kill":
                    p.kill()
                    break
                p.stdin.write(answer + "\n")
                p.stdin.flush()
            return p.wait(60), steps
        finally:
            if p.poll() is None:
                p.kill()
                p.wait()
            p.stdout.close()
            try:
                p.stdin.close()
            except BrokenPipeError:
                pass

    def publish_v1(self):
        r = subprocess.run([LISTA, "-q", self.v1, self.site], capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stderr)

    def test_a_reader_never_sees_a_manifest_whose_files_are_not_in_place(self):
        self.publish_v1()
        seen = []
        new = "".join("%s|%s|%d\n" % (n, hashlib.md5(read(os.path.join(self.v2, *n.split("/")))).hexdigest(),
                                       len(read(os.path.join(self.v2, *n.split("/")))))
                      for n in sorted(("main.exe", "a.bin", "dados/b.bin", "novo/d.bin", "dados/c.bin.mesmo"),
                                      key=str.encode)).encode()
        rc, steps = self.run_hooked(self.v2, lambda step: seen.append((step, consistent(self.site, new))) or "go")
        self.assertEqual(rc, 0)
        places = [step for step in steps if step.startswith("place ")]
        self.assertEqual(places[-2:], ["place update/lista.txt.gz", "place update/lista.txt"],
                         "the manifest goes in last, its compressed copy just before")
        for step, bad in seen:
            self.assertEqual(bad, [], step)
        self.assertEqual(consistent(self.site), [])
        self.assertFalse(debris(self.site))

    def test_a_step_that_fails_puts_the_release_before_back(self):
        self.publish_v1()
        before = snapshot(self.site)
        _, steps = self.run_hooked(self.v2, lambda step: "go")
        self.assertGreater(len(steps), 6)
        for k in range(len(steps)):
            with self.subTest(failing=steps[k]):
                shutil.rmtree(self.site)
                self.publish_v1()
                count = iter(range(len(steps)))
                rc, _ = self.run_hooked(self.v2, lambda step: "fail" if next(count) == k else "go")
                self.assertEqual(rc, 2)
                self.assertEqual(snapshot(self.site), before)

    def test_a_run_killed_at_any_step_is_mended_by_the_next(self):
        self.publish_v1()
        _, steps = self.run_hooked(self.v2, lambda step: "go")
        for k in range(len(steps)):
            for rerun in (self.v1, self.v2):
                with self.subTest(killed=steps[k], rerun=os.path.basename(rerun)):
                    shutil.rmtree(self.site)
                    self.publish_v1()
                    count = iter(range(len(steps)))
                    self.run_hooked(self.v2, lambda step: "kill" if next(count) == k else "go")
                    self.assertEqual(consistent(self.site, new=b""), [], "after the kill")
                    r = subprocess.run([LISTA, "-q", rerun, self.site], capture_output=True, text=True)
                    self.assertEqual(r.returncode, 0, r.stderr)
                    self.assertEqual(consistent(self.site), [])
                    self.assertFalse(debris(self.site))
                    r = subprocess.run([LISTA, "verify", self.site], capture_output=True, text=True)
                    self.assertEqual(r.returncode, 0, r.stderr)

    def test_two_runs_at_once_take_turns(self):
        self.publish_v1()
        second = None
        log = os.path.join(self.tmp, "second.log")

        def on_step(step):
            nonlocal second
            if second is None:  # the first run holds the site, half-way into place
                with open(log, "w") as out:
                    second = subprocess.Popen([LISTA, "-q", self.v1, self.site], stdout=out, stderr=out)
                wait(lambda: "waiting" in (read(log) or b"").decode(), 30, "the second run to wait")
            return "go"

        rc, _ = self.run_hooked(self.v2, on_step)
        self.assertEqual(rc, 0)
        self.assertEqual(second.wait(60), 0, read(log))
        self.assertEqual(consistent(self.site), [])
        r = subprocess.run([LISTA, "verify", self.site], capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(b"um main.exe", read(os.path.join(self.site, "update", "files", "main.exe")))


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
        # The site's manifest edited by hand into the next release's: the
        # site's signature still signs the one before, so its serial may not
        # sign this one.
        write(os.path.join(self.client, "mais.bin"), b"mais")
        self.assertEqual(subprocess.run([LISTA, "-q", self.client, self.path("ref")]).returncode, 0)
        shutil.copy(os.path.join(self.path("ref"), "update", "lista.txt"), os.path.join(self.site, "update", "lista.txt"))
        self.assertEqual(self.sign("k.key", "--serial", "10000000000"), 1)
        self.assertEqual(self.sign("k.key", "--serial", "10000000001"), 0)

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


    def test_keygen_never_leaves_a_key_without_its_line(self):
        # Into a folder that is not there yet: it is made, for its owner only.
        path = self.path("nova/pasta/k.key")
        self.keygen("nova/pasta/k.key")
        self.assertEqual(os.stat(self.path("nova")).st_mode & 0o777, 0o700)
        # The public line cannot be written: no key is kept without it.
        with open("/dev/full", "w") as full:
            r = subprocess.run([LISTA, "keygen", self.path("perdida.key")], stdout=full, stderr=subprocess.PIPE, text=True)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("No space left on device", r.stderr)
        self.assertFalse(os.path.exists(self.path("perdida.key")))
        # A key others may read is warned about.
        os.chmod(path, 0o644)
        r = subprocess.run([LISTA, "--sign", path, self.client, self.site], capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("can be read by other users", r.stderr)

    def test_lista_exe_compares_names_and_keys_as_windows_does(self):
        self.keygen("k.key", windows=True)
        shutil.copy(self.path("k.key"), os.path.join(self.client, "Data Files", "k.key"))
        rows = [  # arguments, client files to add, exit status
            (["--sign", winenv.win_path(self.client).upper() + "\\DATA FILES\\K.KEY", "-x", "Data Files/k.key"], [], 2),
            (["-x", "Data Files/k.key"], ["ção.txt", "ÇÃO.txt"], 1),
            (["-x", "Data Files/k.key"], ["Ação/a.txt", "AÇÃO/b.txt"], 1),
            (["-x", "Data Files/k.key"], ["straße.txt", "STRASSE.txt"], 0),
        ]
        for args, names, status in rows:
            with self.subTest(args=args, names=names):
                for n in names:
                    write(os.path.join(self.client, *n.split("/")), n.encode())
                rc, _, err = run_wine(LISTA_EXE, *args, winenv.win_path(self.client), winenv.win_path(self.site))
                self.assertEqual(rc, status, err)
                self.assertEqual(os.path.exists(self.site), status == 0)
                for n in names:
                    top = os.path.join(self.client, n.split("/")[0])
                    shutil.rmtree(top) if os.path.isdir(top) else os.unlink(top)
        # A second release from lista.exe: the changed file replaced in place,
        # the one gone pruned, nothing of lista's own left.
        write(os.path.join(self.client, "main.exe"), b"MZ jogo 2")
        shutil.rmtree(os.path.join(self.client, "Data Files"))
        rc, _, err = run_wine(LISTA_EXE, "--prune", winenv.win_path(self.client), winenv.win_path(self.site))
        self.assertEqual(rc, 0, err)
        self.assertEqual(read(os.path.join(self.site, "update", "files", "main.exe")), b"MZ jogo 2")
        self.assertEqual(sorted(os.listdir(os.path.join(self.site, "update", "files"))), ["main.exe"])
        self.assertEqual((consistent(self.site), debris(self.site)), ([], []))

    def test_a_new_key_needs_rotate(self):
        self.keygen("a.key")
        line_b = self.keygen("b.key")
        self.assertEqual(self.sign("a.key"), 0)
        before = self.published()
        self.assertEqual(self.sign("b.key"), 1)
        self.assertEqual(self.published(), before)
        self.assertEqual(self.sign("b.key", "--rotate"), 0)
        self.assertTrue(verify_on_linux(line_b, *self.published()))
        # The check signs in memory and writes nothing.
        write(os.path.join(self.client, "novo.bin"), b"n")
        before = self.published()
        r = subprocess.run([LISTA, "--check", "--sign", self.path("b.key"), self.client, self.site], capture_output=True,
                           text=True)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("signing checked", r.stderr)
        self.assertEqual(self.published(), before)


class Verify(unittest.TestCase):
    """lista verify, both builds, on sites served by nginx and on their folders."""

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="lista-verify-")
        self.addCleanup(shutil.rmtree, self.tmp, True)
        self.client, self.good = os.path.join(self.tmp, "client"), os.path.join(self.tmp, "sites", "good")
        write(os.path.join(self.client, "main.exe"), b"MZ jogo")
        write(os.path.join(self.client, "Pasta Com Espaço", "mapa (1)+.dat"), os.urandom(70000))
        write(os.path.join(self.client, "Data", "grande.pak"), BIG)
        self.keys = {}
        for k in ("k", "outra"):
            r = subprocess.run([LISTA, "keygen", os.path.join(self.tmp, k + ".key")], capture_output=True, text=True)
            write(os.path.join(self.tmp, k + ".txt"), r.stdout.encode())
        r = subprocess.run([LISTA, "-q", "--map-min", "1M", "--sign", os.path.join(self.tmp, "k.key"), self.client,
                            self.good], capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stderr)

    def verify(self, target, keys, windows):
        if windows:
            if not target.startswith("http"):
                target = winenv.win_path(target)
            rc, out, err = run_wine(LISTA_EXE, "verify", target, "--keys", winenv.win_path(keys))
            return rc, out + err
        r = subprocess.run([LISTA, "verify", target, "--keys", keys], capture_output=True, text=True, timeout=120)
        return r.returncode, r.stdout + r.stderr

    def test_the_demo_site_over_nginx(self):
        demo = os.path.join(ROOT, "demo")
        with nginx.Nginx(os.path.join(demo, "site"), os.path.join(self.tmp, "nginx")) as site:
            for windows in (False, True):
                rc, out = self.verify(site.url, os.path.join(demo, "keys.txt"), windows)
                self.assertEqual(rc, 0, out)
                self.assertIn("verified", out)
            self.assertIn("/update/files/Data/texturas.pak", site.paths())

    def test_every_fault_is_named(self):
        files = lambda site, *name: os.path.join(self.tmp, "sites", site, "update", "files", *name)  # noqa: E731
        sub = "Pasta Com Espaço/mapa (1)+.dat"

        def resign(site):
            r = subprocess.run([LISTA, "-q", "--rotate", "--sign", os.path.join(self.tmp, "outra.key"), self.client,
                                os.path.join(self.tmp, "sites", site)], capture_output=True, text=True)
            self.assertEqual(r.returncode, 0, r.stderr)

        def chunk_map(site, alter):
            path = os.path.join(self.tmp, "sites", site, "update", "maps", BIG_MAP)
            write(path, alter(bytearray(read(path))))

        def wrong_chunks(m):  # a whole map, of the right file, whose first chunk is not the file's
            m[56] ^= 1
            m[36:52] = hashlib.md5(m[52:]).digest()
            return m

        other = bytearray(BIG)
        other[0] ^= 1
        write(os.path.join(self.tmp, "other", "grande.pak"), bytes(other))
        subprocess.run([LISTA, "-q", "--map-min", "1M", os.path.join(self.tmp, "other"), os.path.join(self.tmp, "o")],
                       check=True)
        other_map = read(os.path.join(self.tmp, "o", "update", "maps", hashlib.md5(other).hexdigest() + ".map"))
        rows = [  # site, what is done to it, exit status, words of the report
            ("good", lambda s: None, 0, "all as the manifest lists them"),
            ("damaged-map", lambda s: chunk_map(s, lambda m: m[:60] + bytes([m[60] ^ 1]) + m[61:]), 1,
             BIG_MAP + ": is a damaged chunk map"),
            ("other-map", lambda s: chunk_map(s, lambda m: other_map), 1, BIG_MAP + ": is the chunk map of another file"),
            ("wrong-chunks", lambda s: chunk_map(s, wrong_chunks), 1,
             BIG_MAP + ": does not hold the chunks of Data/grande.pak"),
            ("altered", lambda s: write(files(s, "main.exe"), b"MZ jogx"), 1, "main.exe: differs from the manifest"),
            ("missing", lambda s: os.unlink(files(s, *sub.split("/"))), 1, sub + ": is missing"),
            ("short", lambda s: write(files(s, "main.exe"), b"MZ"), 1, "main.exe: has 2 bytes"),
            ("other-key", resign, 1, "which the given key lines do not hold"),
            ("edited", lambda s: write(os.path.join(self.tmp, "sites", s, "update", "lista.txt"),
                                       read(os.path.join(self.good, "update", "lista.txt")).replace(b"MZ", b"MZ")
                                       + b"extra.bin|" + b"0" * 32 + b"|1\n"), 1, "does not sign this manifest"),
        ]
        for name, alter, _, _ in rows:
            if name != "good":
                shutil.copytree(self.good, os.path.join(self.tmp, "sites", name))
                alter(name)
        keys = os.path.join(self.tmp, "k.txt")
        subprocess.run(["chmod", "-R", "a+rX", self.tmp], check=True)  # nginx serves as nobody
        with nginx.Nginx(os.path.join(self.tmp, "sites"), os.path.join(self.tmp, "nginx")) as server:
            for name, _, status, words in rows:
                for how in ("folder", "nginx", "nginx, lista.exe"):
                    with self.subTest(site=name, how=how):
                        target = server.url + "/" + name if "nginx" in how else os.path.join(self.tmp, "sites", name)
                        rc, out = self.verify(target, keys, "exe" in how)
                        self.assertEqual(rc, status, out)
                        self.assertIn(words, out)
        # No site there at all: a network failure, not a verdict.
        rc, out = self.verify(server.url, keys, False)
        self.assertEqual(rc, 2, out)


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
