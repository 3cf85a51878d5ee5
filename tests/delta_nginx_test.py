"""Delta updates from a site lista published, served by nginx: the built
launcher with an older copy of a large file fetches its chunk map and only the
ranges it lacks. For each pair of versions the placed file is byte for byte
the new one, and nginx's access log shows how much of it was sent. Also: a
server that ignores ranges, a launcher killed in the middle of a delta and
started again, and the map writers of both lista builds agreeing with the
launcher's chunker (both builds) on the same bytes.

The faults nginx cannot make (damaged maps, wrong spans) are in delta_test.cpp,
against the test web server."""
import hashlib
import os
import random
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
from launcher import SessionCase, BUILD, PROGRAMS, ROOT, Game, read, session, winenv, write  # noqa: E402
import nginx  # noqa: E402  (tools/, on the path through launcher)

WORK = os.path.join(BUILD, "delta-nginx")
LISTA = os.path.join(ROOT, "native", "lista")
KIB, MIB = 1 << 10, 1 << 20
# The most a chunk of the map may hold: an edit costs its own bytes and, at
# worst, the chunks it touched and the next ones before the cuts fall back in
# step with the old ones.
SLACK = 512 * KIB


def noise(seed, size):
    return random.Random(seed).randbytes(size)


def rewrite(data, at, n, seed):
    return data[:at] + noise(seed, n) + data[at + n:]


def md5(data):
    return hashlib.md5(data).hexdigest()


class Delta(SessionCase):
    SESSION, WORK = "delta", WORK

    def published(self, case, files, rate=None):
        """A game folder with the old versions and a site with the new ones,
        published by lista with a map for each file of 1 MiB or more, served
        by nginx. files: name -> (old or None, new)."""
        g = Game(self.env, WORK, case)
        client = os.path.join(WORK, case + "-client")
        shutil.rmtree(client, ignore_errors=True)
        for name, (old, new) in files.items():
            g.files[name] = (old, new)
            write(os.path.join(client, *name.split("/")), new)
            if old is not None:
                g.have(name, old)
        r = subprocess.run([LISTA, "-q", "--map-min", "1M", client, g.site], capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stderr)
        subprocess.run(["chmod", "-R", "a+rX", g.site], check=True)  # nginx serves as nobody
        site = nginx.Nginx(g.site, os.path.join(WORK, case + "-nginx"), rate=rate)
        self.addCleanup(site.stop)
        return g, site

    def asked(self, site, name, data, since=0):
        """nginx's records of the file and of its map, from record since on."""
        paths = ("/update/files/" + name.replace(" ", "%20"), "/update/maps/%s.map" % md5(data))
        return [r for r in site.log()[since:] if r["path"] in paths]

    def test_each_pair_costs_about_what_changed(self):
        old = noise(1, 3 * MIB)
        rows = [  # name, old, new, the bytes that changed, in how many places
            ("reescrito.pak", old, rewrite(rewrite(rewrite(old, 100 * KIB, 4 * KIB, 2), MIB, 4 * KIB, 3),
                                           2 * MIB + 5, 4 * KIB, 4), 3 * 4 * KIB, 3),
            ("inserido.pak", old, old[:1000] + noise(5, 100) + old[1000:], 100, 1),
            ("cortado.pak", old, old[:2 * MIB + 12345], 0, 1),
            ("crescido.pak", old, old + noise(6, 512 * KIB), 512 * KIB, 1),
            ("Data/novo.pak", None, noise(7, 2 * MIB), 2 * MIB, 1),
            ("outro jogo.pak", noise(8, 3 * MIB), old, 3 * MIB, 1),
        ]
        g, site = self.published("pares", {name: (o, n) for name, o, n, _, _ in rows})
        g.run(site.url)
        g.check_new()
        g.check_clean()
        for name, o, n, changed, edits in rows:
            with self.subTest(name):
                asked = self.asked(site, name, n)
                maps = [r for r in asked if r["path"].startswith("/update/maps/")]
                files = [r for r in asked if r not in maps]
                sent = sum(r["body"] for r in asked)
                if o is None:
                    # No copy to build on: the whole file, and no map asked for.
                    self.assertEqual([(r["status"], r["range"]) for r in asked], [(200, "")])
                    continue
                self.assertEqual([r["status"] for r in maps], [200])
                if changed == len(n):
                    # Another game's file holds nothing of it: one whole download.
                    self.assertEqual([(r["status"], r["range"]) for r in files], [(200, "")])
                    self.assertLessEqual(sent, len(n) + maps[0]["body"])
                    continue
                self.assertTrue(all(r["status"] == 206 for r in files), files)
                self.assertLessEqual(sent, changed + edits * SLACK + maps[0]["body"],
                                     "%d bytes sent for %d changed" % (sent, changed))

    def test_a_server_that_ignores_ranges(self):
        old = noise(9, 2 * MIB)
        new = rewrite(old, MIB, 4 * KIB, 10)
        g, site = self.published("sem-ranges", {"a.pak": (old, new)})
        site.set_ranges(False)
        g.run(site.url)
        g.check_new()
        g.check_clean()
        # Its first answer to a range is the whole file, which is kept: the
        # file is not asked for again.
        files = [r for r in self.asked(site, "a.pak", new) if r["path"].startswith("/update/files/")]
        self.assertEqual([(r["status"], r["body"]) for r in files], [(200, len(new))])
        self.assertTrue(files[0]["range"], "the launcher asked for a range")

    def test_a_delta_killed_half_way_goes_on_where_it_stopped(self):
        # Two MiB of the eight are new: the run is killed while their range
        # comes (at 1 MiB/s), the next one fetches only what had not come.
        old = noise(11, 8 * MIB)
        new = old[:2 * MIB] + noise(12, 2 * MIB) + old[4 * MIB:]
        g, site = self.published("morto", {"big.pak": (old, new)}, rate=MIB)
        partial = g.path("big.pak") + ".novo"
        g.run(site.url, kill=lambda: os.path.exists(partial) and os.path.getsize(partial) >= 3 * MIB)
        g.check_whole()
        kept = os.path.getsize(partial)
        self.assertTrue(os.path.exists(g.path("big.pak") + ".retomar"), "no record beside the partial")
        first = len(site.log())
        site.rate = None
        g.run(site.url)
        g.check_new()
        g.check_clean()
        files = [r for r in self.asked(site, "big.pak", new, first) if r["path"].startswith("/update/files/")]
        self.assertTrue(files)
        self.assertTrue(all(r["status"] == 206 for r in files), files)
        self.assertGreaterEqual(int(files[0]["range"].split("=")[1].split("-")[0]), kept,
                                "the second run asked again for bytes the first had brought")
        total = sum(r["body"] for r in self.asked(site, "big.pak", new) if r["path"].startswith("/update/files/"))
        self.assertLessEqual(total, 2 * MIB + 2 * SLACK)


class Agreement(unittest.TestCase):
    """The maps of both lista builds are one, and the launcher of both builds
    cuts the same bytes at the same places."""

    def test_both_listas_and_both_launchers_cut_alike(self):
        tmp = os.path.join(WORK, "acordo")
        shutil.rmtree(tmp, ignore_errors=True)
        data = noise(21, 5 * MIB + 777)
        write(os.path.join(tmp, "client", "a.pak"), data)
        maps = []
        with session("acordo") as env:
            r = subprocess.run([LISTA, "-q", "--map-min", "1M", os.path.join(tmp, "client"), os.path.join(tmp, "linux")],
                               capture_output=True, text=True)
            self.assertEqual(r.returncode, 0, r.stderr)
            rc, out, err = winenv.output(env, os.path.join(BUILD, "lista.exe"), "-q", "--map-min", "1M",
                                         winenv.win_path(os.path.join(tmp, "client")),
                                         winenv.win_path(os.path.join(tmp, "windows")), timeout=120)
            self.assertEqual(rc, 0, out + err)
            for site in ("linux", "windows"):
                maps.append(read(os.path.join(tmp, site, "update", "maps", md5(data) + ".map")))
            self.assertEqual(maps[0], maps[1], "the two lista builds wrote different maps")
            for arch in ("x64", "x86"):
                chunks = os.path.join(ROOT, arch, "testprograms", "chunks.exe")
                rc, out, err = winenv.output(env, chunks, winenv.win_path(os.path.join(tmp, "linux", "update", "maps",
                                                                                       md5(data) + ".map")),
                                             winenv.win_path(os.path.join(tmp, "client", "a.pak")), md5(data),
                                             str(len(data)), timeout=120)
                self.assertEqual(rc, 0, out + err)
                lines = [tuple(int(x) for x in line.split()) for line in out.split("\n") if line.strip()]
                self.assertGreater(len(lines), 40, arch)
                # Every chunk of the map is one the launcher cut at the same offset.
                self.assertEqual([at for at, _, _ in lines], [frm for _, _, frm in lines], arch)
                self.assertEqual(sum(n for _, n, _ in lines), len(data), arch)


if __name__ == "__main__":
    unittest.main(verbosity=2)
