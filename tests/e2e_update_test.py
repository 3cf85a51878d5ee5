"""The shipped launcher bringing a game folder up to date from a real web site,
driven and watched as a player would: its window, its status line read off the
screen, the Play button, the files in the folder, the game it starts, and how
the process ends."""
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
import desktop  # noqa: E402
import e2e  # noqa: E402
import website  # noqa: E402
import wine  # noqa: E402

MIB = 1 << 20
SELF = "VelmoraLauncher.exe"


class Update(e2e.Case):
    NAME = "e2e-update"

    def played(self, launcher, folder, record):
        """Clicks Play and checks that the stand-in game started in the game
        folder, with no arguments, and that the launcher ended with code 0."""
        launcher.click("BtnPlay", pause=0)
        self.assertEqual(launcher.wait_exit(20), 0, "the launcher did not end after Play")
        self.assertTrue(self.desk.wait_windows(desktop.GAME_TITLE), "the game's window did not appear")
        self.assertTrue(self.desk.wait_no_window(), "the launcher's window stayed")
        with open(record, encoding="utf-8") as f:
            lines = dict(line.split("=", 1) for line in f.read().splitlines())
        self.assertEqual(lines["cwd"].lower(), wine.win_path(folder).lower())
        # No arguments: the command line is the game's own path, quoted or not.
        game = wine.win_path(os.path.join(folder, "main.exe")).lower()
        self.assertIn(lines["cmd"].strip().lower(), (game, '"%s"' % game))
        # The player closes the game.
        game = self.desk.windows(desktop.GAME_TITLE)[0]
        x, y, w, h = self.desk.geometry(game)
        self.desk.click(x + w // 2, y + h // 2)
        self.desk.key("Escape")
        self.assertTrue(self.desk.wait_no_window(desktop.GAME_TITLE), "the game did not close")

    def test_fresh_folder_is_updated_and_the_game_played(self):
        client = self.client({"Data/texturas.pak": website.filler(6 * MIB)})
        site, entries = self.site(client, rate=4 * MIB)  # a second or two: the bar is seen moving
        folder = self.game_folder(site.url)
        record = os.path.join(self.dir, "game.log")
        self.desk.reg_delete()

        launcher = self.start_shown(folder, record)
        self.assertEqual(launcher.place(), e2e.CENTRED + (900, 560), "the window is not centred")
        self.assertGreyed(launcher)
        self.wait_until(lambda: os.path.exists(os.path.join(folder, "Data", "texturas.pak.novo")), 30,
                        "the large file's download did not begin")
        self.wait_status(launcher, "fetching", "texturas.pak")
        self.assertGreyed(launcher)

        self.wait_current(folder, entries)
        self.wait_lit(launcher)
        self.assertStatus(launcher, "updated")
        self.assertEqual(self.badge(launcher), "up")
        self.assertEqual(self.leftovers(folder), [])
        asked = site.paths()
        for name in entries:
            self.assertEqual(asked.count(e2e.file_url(name)), 1, name)
        self.assertEqual(asked[:2], ["/api/launcher", "/update/lista.txt"])

        self.played(launcher, folder, record)
        # Play stored the options where the game reads them.
        self.assertEqual(desktop.read_ini(os.path.join(folder, "ZorunJanela.ini"))["Janela"], {
            "Volume": "80", "Janela": "1", "Bandeja": "1", "Icone": "1", "Largura": "1024", "Altura": "768"})
        self.assertEqual(self.desk.reg_values(), {"Resolution": 2, "MusicOnOff": 1, "SoundOnOff": 1})

    def test_self_update_restarts_into_the_new_launcher(self):
        client = self.client({"Data/texturas.pak": website.filler(2 * MIB)})
        newer = e2e.changed_byte_copy(wine.LAUNCHER, os.path.join(client, SELF))
        site, entries = self.site(client)
        self.assertNotEqual(website.md5(newer), website.md5(wine.LAUNCHER))
        # The game is current; the launcher and two files are not.
        folder = self.game_folder(site.url, [(os.path.join(client, "main.exe"), "main.exe")])

        old = self.start_shown(folder)
        old_pid = self.desk.pid(old.wid)
        self.assertEqual(old.wait_exit(60), 0, "the old launcher did not end")
        # The restart: a window again, from another process running the new file.
        wids = self.desk.wait_windows()
        self.assertEqual(len(wids), 1, "expected one launcher window after the restart")
        new_pid = self.desk.pid(wids[0])
        self.assertNotEqual(new_pid, old_pid)
        exe = os.path.join(folder, SELF)
        image, inode = desktop.image_of(new_pid)
        self.assertEqual(image, exe, "the restarted process does not run the launcher's file")
        self.assertEqual(inode, os.stat(exe).st_ino, "the restarted process runs another file")
        self.assertEqual(website.md5(exe), website.md5(newer))
        self.wait_until(lambda: not os.path.exists(exe + ".old"), 10, "the .old file stayed")

        new = desktop.Launcher.seen(self.desk, wids[0])
        self.wait_lit(new)
        self.assertStatus(new, "current")
        self.assertCurrent(folder, entries)
        self.assertEqual(self.leftovers(folder), [])
        asked = site.paths()
        self.assertEqual(asked.count("/api/launcher"), 2)
        self.assertEqual(asked.count("/update/lista.txt"), 2)
        self.assertEqual(asked[-1], "/update/lista.txt", "the new launcher downloaded again")
        for name in entries:
            self.assertEqual(asked.count(e2e.file_url(name)), 0 if name == "main.exe" else 1, name)

        new.click("BtnClose", pause=0)
        self.assertTrue(desktop.wait_gone(new_pid, 20), "the new launcher did not end")

    def test_site_down_still_lets_the_player_play(self):
        client = self.client()
        folder = self.game_folder("http://127.0.0.1:%d" % website.refused_port(),
                                  [(os.path.join(client, "main.exe"), "main.exe")])
        record = os.path.join(self.dir, "game.log")
        before = sorted(os.listdir(folder))

        launcher = self.start_shown(folder, record)
        self.wait_lit(launcher)
        self.assertStatus(launcher, "no_list")
        self.assertEqual(self.badge(launcher), "down")
        self.assertEqual(sorted(os.listdir(folder)), before, "the folder changed without a site")
        self.played(launcher, folder, record)

    def test_closed_during_a_large_download_then_resumed_by_the_next_start(self):
        big = 48 * MIB
        client = self.client({"Data/texturas.pak": website.filler(big)})
        site, entries = self.site(client, rate=4 * MIB)
        folder = self.game_folder(site.url)
        partial = os.path.join(folder, "Data", "texturas.pak.novo")

        launcher = self.start_shown(folder)
        self.wait_until(lambda: os.path.exists(partial) and os.path.getsize(partial) >= 2 * MIB, 60,
                        "the large download did not get going")
        self.wait_status(launcher, "fetching", "texturas.pak")
        clicked = time.time()
        launcher.click("BtnClose", pause=0)
        self.assertEqual(launcher.wait_exit(10), 0, "the launcher did not end")
        took = time.time() - clicked
        # The download had seconds to go (about 11 at this rate); the process
        # must not wait for it. (Under Wine with no window manager any close
        # takes about 2 s: destroying a window waits a second for a withdrawn
        # state that never comes.)
        self.assertLess(took, 5.0, "closing took %.1f s" % took)
        self.assertTrue(self.desk.wait_no_window(timeout=5))
        size = os.path.getsize(partial)
        time.sleep(1.0)
        self.assertEqual(os.path.getsize(partial), size, "the download went on after the end")
        self.assertLess(size, big)
        self.assertFalse(os.path.exists(os.path.join(folder, "Data", "texturas.pak")))

        site.rate = None
        again = self.start_shown(folder)
        self.wait_current(folder, entries)
        self.wait_lit(again)
        self.assertStatus(again, "updated")
        self.assertEqual(self.leftovers(folder), [])
        again.key("Escape")
        self.assertEqual(again.wait_exit(20), 0)
        # The second start asked nginx only for the rest, of the same version.
        asked = [r for r in site.log() if r["path"] == e2e.file_url("Data/texturas.pak")]
        self.assertEqual(len(asked), 2, asked)
        self.assertEqual((asked[1]["status"], asked[1]["range"], asked[1]["body"]),
                         (206, "bytes=%d-" % size, big - size))
        self.assertEqual(asked[1]["if_range"], asked[0]["etag"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
