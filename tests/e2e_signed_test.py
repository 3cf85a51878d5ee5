"""The launcher built with a key (the demo launcher: build/demo-x64, made with
the demo key) against a site signed by lista: a signed release installs; a
manifest changed on the way is refused on screen, the folder stays as it was,
and Play still starts the game."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
import desktop  # noqa: E402
import e2e  # noqa: E402
import website  # noqa: E402
import wine  # noqa: E402

BUILD_ROOT = os.path.dirname(wine.BUILD)
KEYED = os.path.join(BUILD_ROOT, "demo-x64", "VelmoraLauncher.exe")
KEY = os.path.join(BUILD_ROOT, "demo", "demo.key")


def snapshot(folder):
    out = {}
    for top, _, names in os.walk(folder):
        for n in names:
            with open(os.path.join(top, n), "rb") as f:
                out[os.path.relpath(os.path.join(top, n), folder)] = f.read()
    return out


class Signed(e2e.Case):
    NAME = "e2e-signed"

    def serial(self):
        """The UpdateSerial the launcher keeps, None when absent. Wine's reg
        query cannot show a REG_QWORD; its export writes the bytes."""
        exported = os.path.join(self.dir, "config.reg")
        with tempfile.TemporaryFile() as out:
            subprocess.run(["wine", "reg", "export", desktop.OPTIONS_KEY, wine.win_path(exported), "/y"],
                           env=self.env, stdout=out, stderr=out, stdin=subprocess.DEVNULL, timeout=60)
        if not os.path.exists(exported):
            return None
        with open(exported, "rb") as f:
            text = f.read().decode("utf-16")
        os.unlink(exported)
        m = re.search(r'"UpdateSerial"=hex\(b\):((?:[0-9a-f]{2},){7}[0-9a-f]{2})', text)
        return int.from_bytes(bytes.fromhex(m.group(1).replace(",", "")), "little") if m else None

    def sign(self, client, root, serial):
        r = subprocess.run([e2e.LISTA, "-q", "-x", "ZorunJanela.ini", "--sign", KEY, "--serial", str(serial),
                            client, root], capture_output=True)
        self.assertEqual(r.returncode, 0, r.stderr)

    def test_a_signed_release_installs_and_a_changed_manifest_is_refused(self):
        for need in (KEYED, KEY):
            self.assertTrue(os.path.exists(need), "%s is missing: 'make build' makes it" % need)
        client = self.client({"Data/mapa.dat": website.filler(300000)})
        site, entries = self.site(client)
        root = os.path.join(self.dir, "site")
        self.sign(client, root, 1000)
        folder = self.game_folder(site.url)
        shutil.copy2(KEYED, os.path.join(folder, "VelmoraLauncher.exe"))
        self.desk.reg_delete()

        launcher = self.start_shown(folder)
        self.wait_current(folder, entries)
        self.wait_lit(launcher)
        self.assertStatus(launcher, "updated")
        self.assertIn("/update/lista.txt.sig", site.paths())
        self.assertEqual(self.serial(), 1000)
        launcher.key("Escape")
        self.assertEqual(launcher.wait_exit(20), 0)

        # Someone between the site and the player serves a manifest of their
        # own: the signature no longer holds.
        with open(os.path.join(client, "main.exe"), "ab") as f:
            f.write(b"outro jogo")
        website.publish(e2e.LISTA, client, root)
        before = snapshot(folder)
        seen = len(site.paths())
        record = os.path.join(self.dir, "game.log")
        launcher = self.start_shown(folder, record)
        self.wait_lit(launcher)
        self.wait_status(launcher, "refused", "recusada")
        self.assertEqual([p for p in site.paths()[seen:] if p.startswith("/update/files/")], [])
        self.assertEqual(snapshot(folder), before, "the game folder changed")
        self.assertEqual(self.serial(), 1000)
        launcher.click("BtnPlay", pause=0)
        self.assertEqual(launcher.wait_exit(20), 0, "the launcher did not end after Play")
        self.assertTrue(self.desk.wait_windows(desktop.GAME_TITLE), "the game did not start")


if __name__ == "__main__":
    unittest.main(verbosity=2)
