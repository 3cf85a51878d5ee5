"""A game folder with the built launcher and the stand-in game, its site folder,
and runs of the launcher in it that end with the game started by Enter; for
the tests that drive the launcher from outside (the fault matrix, HTTPS)."""
import hashlib
import os
import shutil
import signal
import time

import wine

PROBE = os.path.join(wine.PROGRAMS, "probe.exe")
STANDIN = os.path.join(wine.BUILD, "game", "main.exe")
EXE = "VelmoraLauncher.exe"
GAME_CLASS = "VelmoraStandInGame"
RUN_SECONDS = 90  # one launcher run, start to game; the runs take a few seconds
FOLDER = object()  # the old "content" of a path that is a folder


def md5(data):
    return hashlib.md5(data).hexdigest()


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except (FileNotFoundError, IsADirectoryError, NotADirectoryError):
        return None


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def wait(cond, seconds, what):
    end = time.time() + seconds
    while time.time() < end:
        if cond():
            return
        time.sleep(0.02)
    if not cond():
        raise AssertionError("waited %d s in vain for %s" % (seconds, what))



class Game:
    """One scenario's game folder and site. files maps each listed name to its
    (old, new) content; old None = missing, FOLDER = a folder stands there."""

    def __init__(self, env, base, name, game=None, win=None):
        """The game folder is base/name (or game), its site base/name-site. win:
        the folder's Windows path, by which the launcher is started (default its
        path on drive Z:)."""
        self.env = dict(env)
        self.name = name
        self.game = game or os.path.join(base, name)
        self.win = win or wine.win_path(self.game)
        shutil.rmtree(self.game, ignore_errors=True)
        self.site = os.path.join(base, name + "-site")
        shutil.rmtree(self.site, ignore_errors=True)
        os.makedirs(self.game)
        os.makedirs(os.path.join(self.site, "update", "files"))
        self.exe = os.path.join(self.game, EXE)
        shutil.copyfile(wine.LAUNCHER, self.exe)
        shutil.copyfile(STANDIN, os.path.join(self.game, "main.exe"))
        self.files = {}
        self.launchers = {md5(read(self.exe))}
        self.starts = os.path.join(base, name + "-game.log")
        if os.path.exists(self.starts):
            os.unlink(self.starts)
        self.env["VELMORA_STANDIN_LOG"] = wine.win_path(self.starts)
        self.log = os.path.join(base, name + "-launcher.log")  # Wine's output of the runs
        if os.path.exists(self.log):
            os.unlink(self.log)

    def path(self, name):
        return os.path.join(self.game, *name.split("/"))

    def have(self, name, data):
        write(self.path(name), data)

    def publish(self, name, new, old=None):
        """Lists name with new content on the site; old is what the game has."""
        write(os.path.join(self.site, "update", "files", *name.split("/")), new)
        if old is not None and old is not FOLDER:
            self.have(name, old)
        self.files[name] = (old, new)
        if name == EXE:
            self.launchers.add(md5(new))

    def manifest(self, head=b"", tail=b""):
        """lista.txt of every published file, with head before and tail behind."""
        lines = b"".join(b"%s|%s|%d\r\n" % (n.encode(), md5(new).encode(), len(new))
                         for n, (_, new) in self.files.items())
        write(os.path.join(self.site, "update", "lista.txt"), head + lines + tail)

    def feed(self, data):
        write(os.path.join(self.site, "api", "launcher"), data)

    def games_started(self):
        return (read(self.starts) or b"").count(b"cwd=")

    # ---- Runs --------------------------------------------------------------

    def run(self, site, kill=None, restarts=False):
        """One launcher run against the site at the base URL site. With kill, a
        hard kill (SIGKILL of its process) once kill() holds; otherwise the run
        goes to its end and Enter must start the game. restarts: the run
        replaces the launcher, which starts its new self before the game."""
        with open(os.path.join(self.game, "ZorunJanela.ini"), "w", newline="\r\n") as f:
            f.write("[Launcher]\nSite=%s\n" % site)
        started = self.games_started()
        proc = wine.start(self.env, self.win + "\\" + EXE, cwd=self.game, log=self.log)
        try:
            if kill:
                wait(lambda: kill() or proc.poll() is not None, RUN_SECONDS, "the moment to kill")
                if proc.poll() is not None:
                    raise AssertionError("the launcher ended before it could be killed")
                os.kill(proc.pid, signal.SIGKILL)
                proc.wait(10)
                return
            if restarts:
                # The old launcher ends by itself; Enter goes to the new one.
                proc.wait(RUN_SECONDS)
            rc = wine.run(self.env, PROBE, "play", timeout=RUN_SECONDS)
            if rc != 0:
                raise AssertionError("Enter did not start the game (probe: %d)" % rc)
            if not restarts:
                self.assert_(proc.wait(20) == 0, "the launcher's exit code")
            wait(lambda: self.games_started() > started, 20, "the game's record")
            record = read(self.starts).decode("utf-8", "replace").split("cwd=")[-1].splitlines()[0]
            self.assert_(record.lower() == self.win.lower(), "the game started in %s" % record)
            wine.run(self.env, PROBE, "close", GAME_CLASS)
            wine.run(self.env, PROBE, "wait-gone", GAME_CLASS, timeout=70)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()

    # ---- What must hold ----------------------------------------------------

    def assert_(self, cond, what):
        if not cond:
            raise AssertionError(what)

    def check_whole(self):
        """Every listed file wholly old or wholly new; the launcher in its place."""
        for name, (old, new) in self.files.items():
            path = self.path(name)
            if old is FOLDER and os.path.isdir(path):
                continue
            got = read(path)
            ok = got == new or got == old
            self.assert_(ok, "%s is neither its old nor its new content (%s bytes)"
                         % (name, "no" if got is None else len(got)))
        exe = read(self.exe)
        self.assert_(exe is not None, "no %s in the game folder" % EXE)
        self.assert_(md5(exe) in self.launchers, "%s is no launcher the test knows" % EXE)

    def check_clean(self):
        left = [os.path.relpath(os.path.join(d, f), self.game)
                for d, _, names in os.walk(self.game) for f in names
                if f.endswith((".novo", ".retomar", ".old"))]
        self.assert_(not left, "temporary files left: %s" % ", ".join(left))

    def check_new(self, names=None):
        for name, (_, new) in self.files.items():
            if names is None or name in names:
                self.assert_(read(self.path(name)) == new, "%s was not updated" % name)

    def check_old(self, names):
        for name in names:
            old = self.files[name][0]
            if old is FOLDER:
                self.assert_(os.path.isdir(self.path(name)), "the folder %s is gone" % name)
            else:
                self.assert_(read(self.path(name)) == old, "%s changed" % name)
