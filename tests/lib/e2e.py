"""What every end-to-end test shares: one Wine session on its own X screen, game
folders and sites made for each case, and the launcher's texts read off the
screen. Everything a case starts is ended when the case ends."""
import contextlib
import os
import re
import shutil
import time
import unittest
import urllib.parse

import desktop
import nginx
import website
import wine

LISTA = os.path.join(os.path.dirname(wine.BUILD), "native", "lista")
GAME_EXE = os.path.join(wine.BUILD, "game", "main.exe")  # the stand-in game
DEMO_CLIENT = os.path.join(wine.SOURCE, "demo", "client")
SCREEN = "1920x1080"
CENTRED = (510, 260)  # the window's place on that screen

# Every text of the status line; what is read off the screen is matched to these.
STATUS = {
    "connecting": "Conectando ao servidor...",
    "checking": "Verificando atualizações...",
    "fetching": "Baixando %s (%d de %d)...",
    "no_list": "Não foi possível verificar atualizações. Você pode jogar mesmo assim.",
    "no_file": "Falha ao baixar atualização. Tente de novo mais tarde.",
    "corrupt": "Arquivo de atualização corrompido. Tente de novo.",
    "in_use": "Feche o jogo antes de atualizar e abra o launcher de novo.",
    "restart": "Launcher atualizado. Reiniciando...",
    "updated": "Jogo atualizado! Pronto para jogar.",
    "current": "Seu jogo está atualizado. Pronto para jogar.",
    "refused": "Atualização recusada: assinatura inválida. Você pode jogar mesmo assim.",
    "offline": "Sem conexão com a internet.",
}
BADGES = {"up": "ONLINE", "down": "OFFLINE", "unknown": "VERIFICANDO"}


def file_url(name):
    """The path under which the launcher asks for a manifest entry."""
    return "/update/files/" + urllib.parse.quote(name, safe="/")


class Case(unittest.TestCase):
    """A test class with its own Wine session (prefix NAME, a private X screen)."""
    NAME = "e2e"

    @classmethod
    def setUpClass(cls):
        for need in (wine.LAUNCHER, LISTA, GAME_EXE):
            if not os.path.exists(need):
                raise FileNotFoundError("%s is missing: 'make test' builds it" % need)
        cls.stack = contextlib.ExitStack()
        try:
            cls.env = cls.stack.enter_context(wine.session(size=SCREEN, name=cls.NAME))
            cls.desk = desktop.Desktop(cls.env)
            cls.stack.callback(cls.desk.close)
        except BaseException:
            cls.stack.close()
            raise
        cls.work = desktop.fresh_folder(os.path.join(wine.BUILD, "e2e", cls.NAME))

    @classmethod
    def tearDownClass(cls):
        cls.stack.close()
        shutil.rmtree(cls.work, ignore_errors=True)

    def setUp(self):
        self.dir = desktop.fresh_folder(os.path.join(self.work, self._testMethodName))
        self.started = []
        self.addCleanup(self.end_all)
        # The pointer rests off every window, so that nothing starts hovered.
        self.desk.move(2, 2)

    # ---- Making things -----------------------------------------------------------

    def client(self, files=None, demo=True):
        """A complete game client: the demo client, the stand-in game as
        main.exe, and files given as {name: bytes}."""
        path = desktop.fresh_folder(os.path.join(self.dir, "client"))
        if demo:
            shutil.copytree(DEMO_CLIENT, path, dirs_exist_ok=True)
        shutil.copy2(GAME_EXE, os.path.join(path, "main.exe"))
        for name, data in (files or {}).items():
            full = os.path.join(path, *name.split("/"))
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "wb") as f:
                f.write(data)
        return path

    def site(self, client, rate=None, feed=website.FEED):
        """Publishes client and serves it with nginx (game files at rate bytes
        per second when given); returns (site, {name: md5})."""
        entries = website.publish(LISTA, client, os.path.join(self.dir, "site"), feed)
        site = nginx.Nginx(os.path.join(self.dir, "site"), os.path.join(self.dir, "nginx"), rate)
        self.addCleanup(site.stop)
        return site, entries

    def game_folder(self, site_url, files=(), name="Velmora Classic"):
        """A game folder with the launcher, an INI that names the site, and
        copies of the given client files."""
        path = desktop.fresh_folder(os.path.join(self.dir, name))
        shutil.copy2(wine.LAUNCHER, os.path.join(path, "VelmoraLauncher.exe"))
        with open(os.path.join(path, "ZorunJanela.ini"), "w", newline="\r\n") as f:
            f.write("[Launcher]\nSite=%s\n" % site_url)
        for src, name in files:
            dst = os.path.join(path, *name.split("/"))
            os.makedirs(os.path.dirname(dst), exist_ok=True)
            shutil.copy2(src, dst)
        return path

    def start(self, folder, record=None):
        """Starts the launcher of a game folder as a double-click would."""
        launcher = desktop.Launcher(self.desk, folder, record)
        self.started.append(launcher)
        return launcher

    def start_shown(self, folder, record=None):
        launcher = self.start(folder, record)
        self.assertIsNotNone(launcher.wait_window(), "the launcher showed no window")
        return launcher

    def end_all(self):
        """Ends whatever is left: launchers (also restarted ones) and games."""
        for title in (desktop.LAUNCHER_TITLE, desktop.GAME_TITLE):
            for wid in self.desk.windows(title):
                with contextlib.suppress(Exception):
                    pid = self.desk.pid(wid)
                    os.kill(pid, 9)
                    desktop.wait_gone(pid, 10)
        for launcher in self.started:
            launcher.stop()

    # ---- Looking -----------------------------------------------------------------

    def wait_until(self, what, timeout, message, step=0.1):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if what():
                return
            time.sleep(step)
        self.fail(message)

    def wait_lit(self, launcher, timeout=30):
        """Waits until the Play button lights up."""
        self.wait_until(lambda: desktop.gold_share(launcher.look(desktop.PLAY)) > 0.5, timeout,
                        "the Play button did not light up")

    def assertGreyed(self, launcher):
        self.assertLess(desktop.gold_share(launcher.look(desktop.PLAY)), 0.05, "Play is lit too early")

    def status(self, launcher):
        """Which of the launcher's status texts the status line shows (a key of
        STATUS, None when it is none of them), and the text as read. A text
        with fields is told by what comes before its first field; a percentage
        after the text is not part of it."""
        text = desktop.read_text(launcher.look(desktop.STATUS))
        text = re.sub(r"\s*\d+\s*%\s*$", "", text)
        scores = []
        for key, shown in STATUS.items():
            head = shown.split("%")[0]
            scores.append((desktop.closest(text[:len(head)] if head != shown else text, [head])[1], key))
        scores.sort(reverse=True)
        # Some texts share words ("... Pronto para jogar."): a reading must be
        # clearly nearer to one of them than to any other.
        (best, key), (second, _) = scores[0], scores[1]
        return (key if best >= 0.75 and best - second >= 0.05 else None), text

    def assertStatus(self, launcher, key):
        shown, text = self.status(launcher)
        self.assertEqual(shown, key, "the status line reads %r" % text)
        return text

    def wait_status(self, launcher, key, part, timeout=5):
        """Waits until the status line shows the text key naming part (the window
        repaints a moment after the launcher publishes); returns the reading."""
        deadline = time.time() + timeout
        while True:
            shown, text = self.status(launcher)
            if shown == key and part in text:
                return text
            if time.time() > deadline:
                self.fail("the status line never read %s with %r; it reads %r" % (key, part, text))
            time.sleep(0.1)

    def badge(self, launcher):
        """The server badge as read: a key of BADGES, or None."""
        text = desktop.read_text(launcher.look((404, 142, 152, 48)))
        best, ratio = desktop.closest(text, list(BADGES.values()))
        return next(k for k, v in BADGES.items() if v == best) if ratio >= 0.6 else None

    def assertCurrent(self, folder, entries):
        stale = [n for n, m in entries.items() if website.md5(os.path.join(folder, *n.split("/"))) != m]
        self.assertEqual(stale, [], "files not brought up to date")

    def wait_current(self, folder, entries, timeout=60):
        def current():
            return all(website.md5(os.path.join(folder, *n.split("/"))) == m for n, m in entries.items())
        self.wait_until(current, timeout, "the update did not finish in %d s" % timeout, step=0.25)

    def leftovers(self, folder):
        """Temporary downloads, their records and old executables left in a folder."""
        found = []
        for top, _, names in os.walk(folder):
            found += [os.path.relpath(os.path.join(top, n), folder) for n in names
                      if n.endswith((".novo", ".retomar", ".old"))]
        return found


def changed_byte_copy(src, dst):
    """A copy of an executable that differs in one byte of the DOS stub's
    message, which no loader reads: another MD5, the same program."""
    with open(src, "rb") as f:
        data = bytearray(f.read())
    at = data.find(b"This program cannot be run in DOS mode")
    if at < 0 or at > 512:
        raise RuntimeError("no DOS stub message in %s" % src)
    data[at] ^= 0x20  # 'T' becomes 't'
    with open(dst, "wb") as f:
        f.write(data)
    return dst

