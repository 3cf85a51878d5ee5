"""The shipped launcher's window under the player's hands: dragged by an empty
spot, the options page clicked through and checked where the game reads its
options (registry and INI), Esc, and a second start while one runs."""
import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
import desktop  # noqa: E402
import e2e  # noqa: E402
import xscreen  # noqa: E402

INI = "ZorunJanela.ini"


class Window(e2e.Case):
    NAME = "e2e-window"

    def ready_launcher(self, record=None):
        """A launcher whose folder is current, shown and done with its work."""
        client = self.client(demo=False)
        site, entries = self.site(client)
        folder = self.game_folder(site.url, [(os.path.join(client, "main.exe"), "main.exe")])
        launcher = self.start_shown(folder, record)
        self.wait_lit(launcher)
        return launcher, folder

    def options(self, folder):
        return desktop.read_ini(os.path.join(folder, INI)).get("Janela", {})

    def test_dragged_by_an_empty_spot_the_window_moves(self):
        launcher, _ = self.ready_launcher()
        logo = launcher.look(desktop.STATIC)
        x, y = launcher.point("Empty")
        self.desk.drag(x, y, x + 200, y + 150)
        self.assertEqual(launcher.place(), (710, 410, 900, 560))
        launcher.at = (710, 410)
        self.assertGreater(xscreen.same_fraction(launcher.look(desktop.STATIC), logo), 0.99,
                           "the window's picture did not move with it")
        # Pressing on an element and dragging does not move the window.
        for spot in ("TabOptions", "BtnPlay"):
            x, y = launcher.point(spot)
            self.desk.drag(x, y, x - 120, y - 90)
            self.assertEqual(launcher.place(), (710, 410, 900, 560), spot)
        launcher.key("Escape")
        self.assertEqual(launcher.wait_exit(20), 0)

    def test_options_clicked_through_reach_the_registry_and_the_ini(self):
        self.desk.reg_delete()
        launcher, folder = self.ready_launcher()
        ini = os.path.join(folder, INI)
        launcher.rest()
        home = launcher.look(desktop.PANEL)
        launcher.click("TabOptions")
        self.assertLess(xscreen.same_fraction(launcher.look(desktop.PANEL), home), 0.5,
                        "the options page did not show")
        self.assertEqual(self.options(folder), {}, "nothing is saved before an option changes")

        launcher.click("ModeFullscreen")
        self.assertEqual(self.options(folder)["Janela"], "0")
        launcher.click("ModeWindowed")
        self.assertEqual(self.options(folder)["Janela"], "1")

        launcher.rest()
        closed = launcher.look(desktop.LIST)
        launcher.click("ResDropdown")
        self.assertLess(xscreen.same_fraction(launcher.look(desktop.LIST), closed), 0.5,
                        "the resolution list did not open")
        launcher.click(desktop.list_row(7))  # 1366 x 768
        launcher.rest()
        self.assertGreater(xscreen.same_fraction(launcher.look(desktop.LIST), closed), 0.9,
                           "the resolution list did not close")
        self.assertEqual((self.options(folder)["Largura"], self.options(folder)["Altura"]), ("1366", "768"))
        self.assertEqual(self.desk.reg_values()["Resolution"], 4)

        launcher.click("MusicToggle")
        self.assertEqual(self.desk.reg_values()["MusicOnOff"], 0)

        # The volume follows the pointer and is saved once, when the drag ends.
        y = launcher.point("VolumeSlider")[1]
        self.desk.move(*launcher.point("VolumeSlider"))
        self.desk.xdotool("mousedown", "1")
        for v in (40, 30, 25):
            self.desk.move(launcher.at[0] + desktop.volume_x(v), y)
            time.sleep(0.05)
        time.sleep(0.2)
        self.assertEqual(self.options(folder)["Volume"], "80", "saved during the drag")
        self.desk.xdotool("mouseup", "1")
        time.sleep(0.25)
        self.assertEqual(self.options(folder)["Volume"], "25")
        self.assertEqual(self.desk.reg_values()["SoundOnOff"], 1)
        # Dragged out past the left end: silence.
        x = launcher.point("VolumeSlider")[0]
        self.desk.drag(x, y, launcher.at[0] + 10, y)
        time.sleep(0.25)
        self.assertEqual(self.options(folder)["Volume"], "0")
        self.assertEqual(self.desk.reg_values()["SoundOnOff"], 0)

        launcher.click("TrayToggle")
        self.assertEqual(self.options(folder)["Bandeja"], "0")
        launcher.click("IconToggle")
        self.assertEqual(self.options(folder)["Icone"], "0")

        self.assertEqual(self.options(folder), {"Volume": "0", "Janela": "1", "Bandeja": "0", "Icone": "0",
                                                "Largura": "1366", "Altura": "768"})
        self.assertEqual(desktop.read_ini(ini)["Launcher"]["Site"].startswith("http://127.0.0.1:"), True)
        self.assertEqual(self.desk.reg_values(), {"Resolution": 4, "MusicOnOff": 0, "SoundOnOff": 0})

        # Esc closes the open list and nothing else: the launcher runs on, and
        # a click where the list was reaches the page beneath it.
        launcher.click("ResDropdown")
        self.assertLess(xscreen.same_fraction(launcher.look(desktop.LIST), closed), 0.5)
        launcher.key("Escape")
        self.assertGreater(xscreen.same_fraction(launcher.look(desktop.LIST), closed), 0.9,
                           "Esc did not close the list")
        self.assertIsNone(launcher.proc.poll(), "Esc with the list open ended the launcher")
        launcher.click("ModeFullscreen")
        self.assertEqual(self.options(folder)["Janela"], "0", "the list was still open")
        self.assertEqual((self.options(folder)["Largura"], self.options(folder)["Altura"]), ("1366", "768"))
        # A second Esc ends the launcher.
        launcher.key("Escape")
        self.assertEqual(launcher.wait_exit(20), 0)
        self.assertTrue(self.desk.wait_no_window())

    def test_a_second_start_brings_the_running_window_forward_and_ends(self):
        launcher, folder = self.ready_launcher()
        wid = launcher.wid
        launcher.click("BtnMinimize")
        # Another program comes up and takes the front.
        with open(os.devnull, "wb") as null:
            game = subprocess.Popen(["wine", os.path.join(folder, "main.exe")], env=self.env, cwd=folder,
                                    stdout=null, stderr=null, stdin=subprocess.DEVNULL)
        self.addCleanup(lambda: game.poll() is None and (game.kill(), game.wait()))
        self.assertTrue(self.desk.wait_windows(desktop.GAME_TITLE))
        self.wait_until(lambda: self.front() == (desktop.GAME_CLASS, False, True), 10,
                        "the game did not come to the front")
        self.assertIn((desktop.LAUNCHER_CLASS, True, False), self.desk.stack(), "the launcher is not minimized")

        old = os.path.join(folder, "VelmoraLauncher.exe.old")
        with open(old, "wb") as f:
            f.write(b"left over")
        ini = os.path.join(folder, INI)
        with open(ini, "rb") as f:
            ini_before = f.read()

        second = self.start(folder)
        self.assertEqual(second.wait_exit(20), 0, "the second start did not end")
        self.wait_until(lambda: self.front() == (desktop.LAUNCHER_CLASS, False, True), 10,
                        "the running launcher was not restored and brought to the front")
        self.assertEqual([c for c, _, _ in self.desk.stack()].count(desktop.LAUNCHER_CLASS), 1)
        self.assertEqual(self.desk.windows(), [wid], "not one launcher window")
        self.assertTrue(os.path.exists(old), "the second start deleted the .old file")
        with open(ini, "rb") as f:
            self.assertEqual(f.read(), ini_before, "the second start touched the options")
        self.assertIsNone(launcher.proc.poll(), "the running launcher ended")

        launcher.click("BtnClose", pause=0)
        self.assertEqual(launcher.wait_exit(20), 0)

    def front(self):
        """The frontmost shown window of the desktop: (class, iconic, foreground)."""
        stack = self.desk.stack()
        return stack[0] if stack else None


if __name__ == "__main__":
    unittest.main(verbosity=2)
