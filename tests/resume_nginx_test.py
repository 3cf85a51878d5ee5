"""The built launcher killed in the middle of a large download from nginx, then
started again: what the second run asks nginx for (its access log), depending
on what happened on the site in between. After every run each listed file is
wholly old or wholly new, and after the second one nothing temporary is left.
And a release signed and compressed by lista, sent by nginx's gzip_static to
the launcher built with the demo key, then asked for again with a 304.

The faults nginx cannot make (cuts at chosen bytes, resets, silence, wrong
Content-Range) are in resume_test.cpp, against the test web server."""
import os
import random
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
from launcher import SessionCase, BUILD, ROOT, Game, session  # noqa: E402
import nginx  # noqa: E402  (tools/, on the path through launcher)

WORK = os.path.join(BUILD, "resume-nginx")
MIB = 1 << 20
SIZE = 8 * MIB
NAME = "Data/texturas.pak"
URL = "/update/files/" + NAME


def noise(seed, size):
    return random.Random(seed).randbytes(size)


class KilledAndStartedAgain(SessionCase):
    SESSION, WORK = "resume", WORK

    def killed_run(self, case):
        """A game folder whose texturas.pak is out of date, and a launcher run
        killed once 2 MiB of the new one have arrived from nginx at 2 MiB/s.
        Returns (game, site, bytes of the partial)."""
        g = Game(self.env, WORK, case)
        g.publish(NAME, noise(1, SIZE), noise(2, SIZE // 2))
        g.publish("b.txt", b"b nova\r\n", b"b antiga\r\n")
        g.manifest()
        site = nginx.Nginx(g.site, os.path.join(WORK, case + "-nginx"), rate=2 * MIB)
        self.addCleanup(site.stop)
        partial = g.path(NAME) + ".novo"
        g.run(site.url, kill=lambda: os.path.exists(partial) and os.path.getsize(partial) >= 2 * MIB)
        g.check_whole()
        got = os.path.getsize(partial)
        self.assertLess(got, SIZE)
        self.assertTrue(os.path.exists(g.path(NAME) + ".retomar"), "no record beside the partial")
        site.rate = None  # full speed from here on
        return g, site, got

    def second_run(self, g, site):
        """The run after the kill, to its end; returns nginx's records of the
        file asked for by that run."""
        before = len([r for r in site.log() if r["path"] == URL])
        g.run(site.url)
        g.check_whole()
        g.check_new()
        g.check_clean()
        return [r for r in site.log() if r["path"] == URL][before:]

    def first_etag(self, site):
        return next(r["etag"] for r in site.log() if r["path"] == URL)

    def test_the_second_run_asks_only_for_the_rest(self):
        g, site, got = self.killed_run("resto")
        asked = self.second_run(g, site)
        self.assertEqual([(r["status"], r["range"], r["body"]) for r in asked],
                         [(206, "bytes=%d-" % got, SIZE - got)])
        self.assertEqual(asked[0]["if_range"], self.first_etag(site))

    def test_a_file_changed_on_the_site_is_fetched_whole(self):
        g, site, got = self.killed_run("mudou")
        # The operator uploads the same bytes again: another version for nginx.
        path = os.path.join(g.site, "update", "files", *NAME.split("/"))
        later = os.stat(path).st_mtime + 60
        os.utime(path, (later, later))
        asked = self.second_run(g, site)
        self.assertEqual([(r["status"], r["range"], r["body"]) for r in asked],
                         [(200, "bytes=%d-" % got, SIZE)])
        self.assertEqual(asked[0]["if_range"], self.first_etag(site))
        self.assertNotEqual(asked[0]["etag"], asked[0]["if_range"])

    def test_a_site_that_stopped_serving_ranges(self):
        g, site, got = self.killed_run("sem-ranges")
        site.set_ranges(False)
        asked = self.second_run(g, site)
        self.assertEqual([(r["status"], r["range"], r["body"]) for r in asked],
                         [(200, "bytes=%d-" % got, SIZE)])

    def test_a_new_release_drops_the_partial_of_the_old_one(self):
        g, site, got = self.killed_run("nova-versao")
        g.publish(NAME, noise(3, SIZE), g.files[NAME][0])
        g.manifest()
        # As lista does: a manifest of the same size within the same second
        # would keep nginx's ETag (its time in seconds and its size).
        path = os.path.join(g.site, "update", "lista.txt")
        later = os.stat(path).st_mtime + 60
        os.utime(path, (later, later))
        asked = self.second_run(g, site)
        self.assertEqual([(r["status"], r["range"], r["body"]) for r in asked], [(200, "", SIZE)])


class CompressedAndUnchanged(unittest.TestCase):
    def test_a_compressed_signed_manifest_then_a_304(self):
        with session("gzip") as env:
            g = Game(env, WORK, "gzip", "demo-x64")
            g.publish("Data/mapa.dat", noise(5, 300000), noise(6, 1000))
            client = os.path.join(WORK, "gzip-client")
            for name, (_, new) in g.files.items():
                os.makedirs(os.path.dirname(os.path.join(client, name)), exist_ok=True)
                with open(os.path.join(client, name), "wb") as f:
                    f.write(new)
            # As an operator with a whole client: names enough for gzip to matter.
            os.makedirs(os.path.join(client, "Mundo"), exist_ok=True)
            for i in range(2000):
                g.publish("Mundo/bloco%04d.dat" % i, b"%d" % i)
                with open(os.path.join(client, "Mundo", "bloco%04d.dat" % i), "wb") as f:
                    f.write(b"%d" % i)
            lista = os.path.join(ROOT, "native", "lista")
            subprocess.run([lista, "-q", "--sign", os.path.join(ROOT, "demo", "demo.key"), client, g.site], check=True)
            site = nginx.Nginx(g.site, os.path.join(WORK, "gzip-nginx"),
                               server="        location = /update/lista.txt { gzip_static on; }")
            self.addCleanup(site.stop)
            manifest = os.path.getsize(os.path.join(g.site, "update", "lista.txt"))
            g.run(site.url)
            g.check_whole()
            g.check_new()
            first = [r for r in site.log() if r["path"] == "/update/lista.txt"]
            self.assertEqual([(r["status"], r["encoding"]) for r in first], [(200, "gzip")])
            self.assertLess(first[0]["body"], manifest // 2, "the manifest did not travel compressed")
            # A second start: the manifest has not changed.
            before = len(site.log())
            g.run(site.url)
            asked = [(r["path"], r["status"]) for r in site.log()[before:]]
            self.assertEqual(asked, [("/api/launcher", 404), ("/update/lista.txt", 304), ("/update/lista.txt.sig", 200)])


if __name__ == "__main__":
    unittest.main(verbosity=2)
