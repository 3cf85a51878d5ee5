"""The one launcher driver of the Python tests: a game folder with a built
launcher (x64 or x86) and the stand-in game, its site served by the tests' web
server (winenv.Site) with rules for chosen paths, and runs of the launcher
that end with the game started by Enter, or with a kill."""
import hashlib
import os
import shutil
import signal
import sys
import time
import unittest

SOURCE = os.environ.get("VELMORA_SOURCE") or os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.environ.get("VELMORA_BUILD") or os.path.join(SOURCE, "build", "x64")
ROOT = os.path.dirname(BUILD)  # build/, where the sessions keep their prefixes
sys.path.insert(0, os.path.join(SOURCE, "tools"))
import winenv  # noqa: E402
from winenv import Site  # noqa: E402,F401

PROGRAMS = os.path.join(BUILD, "testprograms")
PROBE = os.path.join(PROGRAMS, "probe.exe")
STANDIN = os.path.join(BUILD, "game", "main.exe")
EXE = "VelmoraLauncher.exe"
GAME_CLASS = "VelmoraStandInGame"
RUN_SECONDS = 90  # one launcher run, start to game; the runs take a few seconds


def launcher(arch="x64"):
    return os.path.join(ROOT, arch, EXE)


def session(name):
    """A Wine session in a prefix of its own, cloned from the main one."""
    return winenv.session(ROOT, prefix=os.path.join(ROOT, "wine", "prefix-" + name))


class SessionCase(unittest.TestCase):
    """Test cases that share one Wine session, in the prefix named SESSION,
    and a work folder WORK."""
    SESSION = WORK = None

    @classmethod
    def setUpClass(cls):
        os.makedirs(cls.WORK, exist_ok=True)
        cls.session = session(cls.SESSION)
        cls.env = cls.session.__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.session.__exit__(None, None, None)


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
    while not cond():
        if time.time() > end:
            raise AssertionError("waited %d s in vain for %s" % (seconds, what))
        time.sleep(0.02)


class Game:
    """One scenario's game folder and site. files maps each listed name to its
    (old, new) content, old None for a file the game does not have."""

    def __init__(self, env, base, name, arch="x64", game=None, win=None):
        """The game folder is base/name (or game, known to Windows as win), its
        site base/name-site; the launcher is the build of arch."""
        self.env = dict(env)
        self.game = game or os.path.join(base, name)
        self.win = win or winenv.win_path(self.game)
        self.site = os.path.join(base, name + "-site")
        for d in (self.game, self.site):
            shutil.rmtree(d, ignore_errors=True)
        os.makedirs(self.game)
        os.makedirs(os.path.join(self.site, "update", "files"))
        self.exe = os.path.join(self.game, EXE)
        shutil.copyfile(launcher(arch), self.exe)
        shutil.copyfile(STANDIN, os.path.join(self.game, "main.exe"))
        self.files = {}
        self.launchers = {md5(read(self.exe))}
        self.starts = os.path.join(base, name + "-game.log")  # what the stand-in game records
        self.log = os.path.join(base, name + "-launcher.log")  # Wine's output of the runs
        for f in (self.starts, self.log):
            if os.path.exists(f):
                os.unlink(f)
        self.env["VELMORA_STANDIN_LOG"] = winenv.win_path(self.starts)

    def path(self, name):
        return os.path.join(self.game, *name.split("/"))

    def have(self, name, data):
        write(self.path(name), data)

    def publish(self, name, new, old=None):
        """Lists name with new content on the site; old is what the game has."""
        write(os.path.join(self.site, "update", "files", *name.split("/")), new)
        if old is not None:
            self.have(name, old)
        self.files[name] = (old, new)
        if name == EXE:
            self.launchers.add(md5(new))

    def manifest(self):
        """lista.txt of every published file."""
        write(os.path.join(self.site, "update", "lista.txt"),
              b"".join(b"%s|%s|%d\r\n" % (n.encode(), md5(new).encode(), len(new)) for n, (_, new) in self.files.items()))

    def games_started(self):
        return (read(self.starts) or b"").count(b"cwd=")

    def start(self, site):
        """Starts the launcher against the site at the base URL site, as a
        double-click in its folder would."""
        with open(os.path.join(self.game, "ZorunJanela.ini"), "w", newline="\r\n") as f:
            f.write("[Launcher]\nSite=%s\n" % site)
        return winenv.start(self.env, self.win + "\\" + EXE, cwd=self.game, log=self.log)

    def run(self, site, kill=None, restarts=False):
        """One launcher run. With kill, a hard kill (SIGKILL) once kill() holds;
        otherwise the run goes to its end and Enter must start the game, in the
        game folder. restarts: the run replaces the launcher, which starts its
        new self before the game."""
        started = self.games_started()
        proc = self.start(site)
        try:
            if kill:
                wait(lambda: kill() or proc.poll() is not None, RUN_SECONDS, "the moment to kill")
                self.assert_(proc.poll() is None, "the launcher ended before it could be killed")
                os.kill(proc.pid, signal.SIGKILL)
                proc.wait(10)
                return
            if restarts:
                proc.wait(RUN_SECONDS)  # the old launcher ends by itself; Enter goes to the new one
            played = winenv.run(self.env, PROBE, "play", timeout=RUN_SECONDS)
            self.assert_(played == 0, "Enter did not start the game (probe's exit code %d, the launcher's %s; "
                         "its output in %s)" % (played, proc.poll(), self.log))
            if not restarts:
                self.assert_(proc.wait(20) == 0, "the launcher's exit code")
            wait(lambda: self.games_started() > started, 20, "the game's record")
            record = read(self.starts).decode("utf-8", "replace").split("cwd=")[-1].splitlines()[0]
            self.assert_(record.lower() == self.win.lower(), "the game started in %s" % record)
            winenv.run(self.env, PROBE, "close", GAME_CLASS)
            winenv.run(self.env, PROBE, "wait-gone", GAME_CLASS, timeout=70)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()

    # ---- What must hold ----------------------------------------------------

    def assert_(self, cond, what):
        if not cond:
            raise AssertionError(what)

    def check_whole(self):
        """Every listed file wholly old or wholly new; a launcher in its place."""
        for name, (old, new) in self.files.items():
            got = read(self.path(name))
            self.assert_(got in (new, old), "%s is neither its old nor its new content (%s bytes)"
                         % (name, "no" if got is None else len(got)))
        self.assert_(md5(read(self.exe) or b"") in self.launchers, "%s is no launcher the test knows" % EXE)

    def check_clean(self):
        left = [os.path.relpath(os.path.join(d, f), self.game)
                for d, _, names in os.walk(self.game) for f in names if f.endswith((".novo", ".retomar", ".old"))]
        self.assert_(not left, "temporary files left: %s" % ", ".join(left))

    def check_new(self, names=None):
        for name, (_, new) in self.files.items():
            if names is None or name in names:
                self.assert_(read(self.path(name)) == new, "%s was not updated" % name)

    def check_old(self, names):
        for name in names:
            self.assert_(read(self.path(name)) == self.files[name][0], "%s changed" % name)
