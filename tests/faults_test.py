"""The fault matrix: the built launcher under Wine against the test web server
(testprograms/webserver.exe), killed hard at chosen moments, on a full disk,
with a read-only file, a folder where a file should be, a redirect loop,
documents of 10 MB, byte-order marks and an HTML error page.

After every run of every scenario, each listed game file must be wholly its
old content or wholly the new one (by MD5), and the launcher's executable must
stand under its own name, old or new. Every scenario ends with a run that goes
to its end, after which no temporary file (".novo", ".old") may be left and the
game must have been started by Enter. The killed runs are followed by a normal
run, which must complete the update.

Prints "fault matrix: N of M scenarios held", also into build/x64/faults/summary.txt,
which 'make test' shows. The scenarios run in a prefix of their own ("faults"),
where the full disk is a small tmpfs mapped as drive V: (root is needed to
mount it)."""
import hashlib
import os
import random
import shutil
import signal
import subprocess
import sys
import time
import traceback
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
import wine  # noqa: E402

FAULTS = os.path.join(wine.BUILD, "faults")
SUMMARY = os.path.join(FAULTS, "summary.txt")
WEBSERVER = os.path.join(wine.PROGRAMS, "webserver.exe")
PROBE = os.path.join(wine.PROGRAMS, "probe.exe")
STANDIN = os.path.join(wine.BUILD, "game", "main.exe")
EXE = "VelmoraLauncher.exe"
GAME_CLASS = "VelmoraStandInGame"
DRIVE = "v:"
DISK_SIZE = 8 << 20
RUN_SECONDS = 90  # one launcher run, start to game; the runs take a few seconds
FOLDER = object()  # the old "content" of a path that is a folder
# The launcher reads a download in pieces of 128 KiB, each filled before it is
# written: a stalled answer shows in the temporary file at a multiple of it.
PIECE = 128 << 10


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


def noise(seed, size):
    return random.Random(seed).randbytes(size)


def wait(cond, seconds, what):
    end = time.time() + seconds
    while time.time() < end:
        if cond():
            return
        time.sleep(0.02)
    if not cond():
        raise AssertionError("waited %d s in vain for %s" % (seconds, what))


class Server:
    """webserver.exe serving a site folder; answers maps a request path to a spec."""

    def __init__(self, env, root, answers=None):
        self.log = root + ".requests"
        port_file = root + ".port"
        for f in (self.log, port_file):
            if os.path.exists(f):
                os.unlink(f)
        args = [wine.win_path(root), "--port-file", wine.win_path(port_file), "--log", wine.win_path(self.log),
                "--seconds", "900"]
        for path, spec in (answers or {}).items():
            args += ["--answer", "%s=%s" % (path, spec)]
        self.proc = wine.start(env, WEBSERVER, *args)
        wait(lambda: os.path.exists(port_file) or self.proc.poll() is not None, 30, "the web server")
        if self.proc.poll() is not None:
            raise AssertionError("the web server did not start")
        with open(port_file) as f:
            self.port = int(f.read())

    def requests(self):
        return (read(self.log) or b"").decode().split()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()


class Game:
    """One scenario's game folder and site. files maps each listed name to its
    (old, new) content; old None = missing, FOLDER = a folder stands there."""

    def __init__(self, env, name, game=None, win=None):
        """game: the folder (default FAULTS/name); win: its Windows path, by which
        the launcher is started (default its path on drive Z:)."""
        self.env = dict(env)
        self.name = name
        self.game = game or os.path.join(FAULTS, name)
        self.win = win or wine.win_path(self.game)
        shutil.rmtree(self.game, ignore_errors=True)
        self.site = os.path.join(FAULTS, name + "-site")
        shutil.rmtree(self.site, ignore_errors=True)
        os.makedirs(self.game)
        os.makedirs(os.path.join(self.site, "update", "files"))
        self.exe = os.path.join(self.game, EXE)
        shutil.copyfile(wine.LAUNCHER, self.exe)
        shutil.copyfile(STANDIN, os.path.join(self.game, "main.exe"))
        self.files = {}
        self.launchers = {md5(read(self.exe))}
        self.starts = os.path.join(FAULTS, name + "-game.log")
        if os.path.exists(self.starts):
            os.unlink(self.starts)
        self.env["VELMORA_STANDIN_LOG"] = wine.win_path(self.starts)

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

    def manifest(self, head=b"", tail=b"", only=None):
        lines = b"".join(b"%s|%s|%d\r\n" % (n.encode(), md5(new).encode(), len(new))
                         for n, (_, new) in self.files.items() if only is None or n in only)
        write(os.path.join(self.site, "update", "lista.txt"), head + lines + tail)

    def feed(self, data):
        write(os.path.join(self.site, "api", "launcher"), data)

    def games_started(self):
        return (read(self.starts) or b"").count(b"cwd=")

    # ---- Runs --------------------------------------------------------------

    def run(self, server, kill=None, restarts=False):
        """One launcher run against server. With kill, a hard kill (SIGKILL of its
        process) once kill() holds; otherwise the run goes to its end and Enter
        must start the game. restarts: the run replaces the launcher, which
        starts its new self before the game is started."""
        with open(os.path.join(self.game, "ZorunJanela.ini"), "w", newline="\r\n") as f:
            f.write("[Launcher]\nSite=http://127.0.0.1:%d\n" % server.port)
        started = self.games_started()
        proc = wine.start(self.env, self.win + "\\" + EXE, cwd=self.game)
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
                for d, _, names in os.walk(self.game) for f in names if f.endswith((".novo", ".old"))]
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


# ---- The scenarios -------------------------------------------------------------
# Each takes the session's environment and raises AssertionError when it does
# not hold.

def three_files(g):
    """Three files, the middle one large, and a new game executable."""
    g.publish("dados/a.bin", noise(1, 200000), noise(2, 50000))
    g.publish("dados/b.bin", noise(3, 1 << 20), noise(4, 100000))
    g.publish("c.txt", b"c nova\r\n", b"c antiga\r\n")
    g.publish("main.exe", read(STANDIN) + noise(5, 4096), read(STANDIN))
    g.manifest()


def normal_run_completes(g, restarts=False):
    server = Server(g.env, g.site)
    try:
        g.run(server, restarts=restarts)
    finally:
        server.stop()
    g.check_whole()
    g.check_new()
    g.check_clean()


def killed_mid_download(env):
    g = Game(env, "kill-download")
    three_files(g)
    novo = g.path("dados/b.bin") + ".novo"
    server = Server(env, g.site, {"/update/files/dados/b.bin": "stall:%d" % (3 * PIECE)})
    try:
        g.run(server, kill=lambda: os.path.exists(novo) and os.path.getsize(novo) >= 3 * PIECE)
    finally:
        server.stop()
    g.check_whole()
    g.check_new(["dados/a.bin"])
    g.check_old(["dados/b.bin", "c.txt", "main.exe"])
    normal_run_completes(g)


def killed_after_verify(env):
    g = Game(env, "kill-verified")
    three_files(g)
    server = Server(env, g.site, {"/update/files/dados/b.bin": "silent"})
    new_a = g.files["dados/a.bin"][1]
    try:
        g.run(server, kill=lambda: read(g.path("dados/a.bin")) == new_a
              and "/update/files/dados/b.bin" in server.requests())
    finally:
        server.stop()
    g.check_whole()
    g.check_new(["dados/a.bin"])
    g.check_old(["dados/b.bin"])
    normal_run_completes(g)


def killed_while_launcher_downloads(env):
    g = Game(env, "kill-launcher")
    g.publish("dados/a.bin", b"a nova", b"a antiga")
    # The new launcher is this one with bytes behind its image: it runs alike.
    g.publish(EXE, read(wine.LAUNCHER) + noise(6, 65536), read(g.exe))
    g.publish("zz.bin", b"depois do launcher", b"antes")
    g.manifest()
    novo = g.exe + ".novo"
    server = Server(env, g.site, {"/update/files/" + EXE: "stall:%d" % (8 * PIECE)})
    try:
        g.run(server, kill=lambda: os.path.exists(novo) and os.path.getsize(novo) >= 8 * PIECE)
    finally:
        server.stop()
    g.check_whole()
    g.check_old([EXE, "zz.bin"])
    normal_run_completes(g, restarts=True)


def killed_then_rolled_back(env):
    """Killed in a download; the site then goes back to the version the player
    has, so the next run fetches nothing: its temporary file must still go."""
    g = Game(env, "kill-rollback")
    three_files(g)
    novo = g.path("dados/b.bin") + ".novo"
    server = Server(env, g.site, {"/update/files/dados/b.bin": "stall:%d" % (2 * PIECE)})
    try:
        g.run(server, kill=lambda: os.path.exists(novo) and os.path.getsize(novo) >= 2 * PIECE)
    finally:
        server.stop()
    g.check_whole()
    old_b = g.files["dados/b.bin"][0]
    g.publish("dados/b.bin", old_b, old_b)
    g.manifest()
    normal_run_completes(g)


def full_disk(env, disk):
    g = Game(env, "full-disk", os.path.join(disk, "game"), DRIVE.upper() + "\\game")
    g.publish("dados/a.bin", noise(7, 20000), noise(8, 10000))
    g.publish("grande.pak", noise(9, 6 << 20), noise(10, 100000))
    g.publish("z.bin", b"z nova", b"z antiga")
    g.manifest()
    server = Server(env, g.site)
    try:
        for _ in range(2):  # the failing run, then the next one on the same disk
            g.run(server)
            g.check_whole()
            g.check_new(["dados/a.bin"])
            g.check_old(["grande.pak", "z.bin"])
            g.check_clean()
        # With room again, the update goes through.
        subprocess.run(["mount", "-o", "remount,size=%d" % (4 * DISK_SIZE), disk], check=True)
        g.run(server)
    finally:
        server.stop()
    g.check_whole()
    g.check_new()
    g.check_clean()


def read_only_file(env):
    # Windows refuses to replace a read-only file (the run ends asking to close
    # the game); Wine, for root, replaces it. Either way it is whole.
    g = Game(env, "read-only")
    g.publish("a.bin", b"a nova", b"a antiga")
    g.publish("dados/somente-leitura.bin", noise(11, 30000), noise(12, 20000))
    g.publish("c.bin", b"c nova", b"c antiga")
    g.manifest()
    os.chmod(g.path("dados/somente-leitura.bin"), 0o444)
    server = Server(env, g.site)
    try:
        for _ in range(2):
            g.run(server)
            g.check_whole()
            g.check_new(["a.bin"])
            g.check_clean()
    finally:
        server.stop()


def folder_for_file(env):
    g = Game(env, "folder-for-file")
    g.publish("a.bin", b"a nova", b"a antiga")
    g.publish("dados/mapa.bin", b"um arquivo", FOLDER)
    g.have("dados/mapa.bin/dentro.txt", b"o que a pasta guarda")
    g.publish("c.bin", b"c nova", b"c antiga")
    g.manifest()
    server = Server(env, g.site)
    try:
        for _ in range(2):
            g.run(server)
            g.check_whole()
            g.check_new(["a.bin"])
            g.check_old(["dados/mapa.bin", "c.bin"])
            g.assert_(read(g.path("dados/mapa.bin/dentro.txt")) == b"o que a pasta guarda", "the folder's file")
            g.check_clean()
    finally:
        server.stop()


def file_for_folder(env):
    g = Game(env, "file-for-folder")
    g.publish("a.bin", b"a nova", b"a antiga")
    g.have("config", b"um arquivo onde a lista quer uma pasta")
    g.publish("config/opcoes.bin", b"dentro da pasta")
    g.publish("c.bin", b"c nova", b"c antiga")
    g.manifest()
    server = Server(env, g.site)
    try:
        for _ in range(2):
            g.run(server)
            g.check_whole()
            g.check_new(["a.bin"])
            g.check_old(["c.bin"])
            g.assert_(read(g.path("config")) == b"um arquivo onde a lista quer uma pasta", "the file 'config'")
            g.check_clean()
    finally:
        server.stop()


def redirect_loop_file(env):
    g = Game(env, "redirect-file")
    g.publish("a.bin", b"a nova", b"a antiga")
    g.publish("b.bin", b"b nova", b"b antiga")
    g.manifest()
    g.feed(b"status=1\n")
    server = Server(env, g.site, {"/update/files/b.bin": "redirect:/update/files/b.bin",
                                  "/api/launcher": "redirect:/api/launcher"})
    try:
        g.run(server)
        g.check_whole()
        g.check_new(["a.bin"])
        g.check_old(["b.bin"])
        g.check_clean()
        asked = server.requests()
        g.assert_(asked.count("/update/files/b.bin") == 11, "b.bin asked %d times" % asked.count("/update/files/b.bin"))
        g.assert_(asked.count("/api/launcher") == 11, "the feed asked %d times" % asked.count("/api/launcher"))
    finally:
        server.stop()


def redirect_loop_manifest(env):
    g = Game(env, "redirect-manifest")
    g.publish("a.bin", b"a nova", b"a antiga")
    g.manifest()
    server = Server(env, g.site, {"/update/lista.txt": "redirect:/update/lista.txt"})
    try:
        g.run(server)
        g.check_whole()
        g.check_old(["a.bin"])
        g.check_clean()
    finally:
        server.stop()


def huge_documents(env):
    g = Game(env, "huge")
    three_files(g)
    comment = b"# " + b"x" * 97 + b"\n"
    g.manifest(tail=comment * (10 * 1024 * 1024 // len(comment)))
    g.feed(b"status=1\nonline=5\nservidor=Velmora\n" + comment * (10 * 1024 * 1024 // len(comment)))
    normal_run_completes(g)


def byte_order_marks(env):
    g = Game(env, "bom")
    g.publish("primeiro.bin", b"o primeiro", b"antigo")
    g.publish("segundo.bin", b"o segundo")
    g.manifest(head=b"\xef\xbb\xbf")
    g.feed(b"\xef\xbb\xbfstatus=1\r\nonline=3\r\n")
    normal_run_completes(g)
    g.assert_(sorted(os.listdir(g.game)) == sorted(["main.exe", EXE, "ZorunJanela.ini", "primeiro.bin",
                                                    "segundo.bin"]), "files: %s" % os.listdir(g.game))


def html_error_page(env):
    g = Game(env, "html-page")
    g.publish("a.bin", b"a nova", b"a antiga")
    g.publish("b.bin", noise(13, 5000), noise(14, 4000))
    g.publish("c.bin", b"c nova", b"c antiga")
    g.manifest()
    page = "body:<html><body><h1>Erro interno</h1><p>Tente mais tarde.</p></body></html>"
    server = Server(env, g.site, {"/update/files/b.bin": page})
    try:
        g.run(server)
        g.check_whole()
        g.check_new(["a.bin"])
        g.check_old(["b.bin", "c.bin"])
        g.check_clean()
    finally:
        server.stop()


# ---- The matrix ---------------------------------------------------------------

class Disk:
    """A small tmpfs mapped as drive V: of the prefix."""

    def __init__(self, prefix):
        self.mount = os.path.join(FAULTS, "disk")
        self.link = os.path.join(prefix, "dosdevices", DRIVE)

    def __enter__(self):
        os.makedirs(self.mount, exist_ok=True)
        if os.path.ismount(self.mount):
            subprocess.run(["umount", self.mount], check=True)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % DISK_SIZE, "tmpfs", self.mount], check=True)
        if os.path.lexists(self.link):
            os.unlink(self.link)
        os.symlink(self.mount, self.link)
        return self.mount

    def __exit__(self, *exc):
        if os.path.lexists(self.link):
            os.unlink(self.link)
        subprocess.run(["umount", self.mount])


class FaultMatrix(unittest.TestCase):
    def test_matrix(self):
        os.makedirs(FAULTS, exist_ok=True)
        if os.path.exists(SUMMARY):
            os.unlink(SUMMARY)
        scenarios = [
            ("killed in the middle of a download", killed_mid_download),
            ("killed after a download and its verification", killed_after_verify),
            ("killed while a new launcher downloads", killed_while_launcher_downloads),
            ("killed in a download, then the site goes back", killed_then_rolled_back),
            ("a full disk", None),
            ("a read-only game file", read_only_file),
            ("a folder where a file should be", folder_for_file),
            ("a file where a folder should be", file_for_folder),
            ("a redirect loop for a file and the feed", redirect_loop_file),
            ("a redirect loop for the manifest", redirect_loop_manifest),
            ("a 10 MB feed and a 10 MB manifest", huge_documents),
            ("byte-order marks before the feed and the manifest", byte_order_marks),
            ("an HTML error page with 200 for a file", html_error_page),
        ]
        # VELMORA_FAULTS=word runs only the scenarios whose title holds it.
        only = os.environ.get("VELMORA_FAULTS")
        scenarios = [s for s in scenarios if not only or only in s[0]]
        held = []
        with wine.session(name="faults") as env:
            prefix = env["WINEPREFIX"]
            for title, run in scenarios:
                t0 = time.time()
                try:
                    if run is None:
                        with Disk(prefix) as disk:
                            full_disk(env, disk)
                    else:
                        run(env)
                    held.append(title)
                    print("fault matrix: held (%.0f s): %s" % (time.time() - t0, title), flush=True)
                except Exception:
                    print("fault matrix: NOT held: %s\n%s" % (title, traceback.format_exc()), flush=True)
        line = "fault matrix: %d of %d scenarios held" % (len(held), len(scenarios))
        print(line)
        with open(SUMMARY, "w") as f:
            f.write(line + "\n")
        self.assertEqual(len(held), len(scenarios), line)


if __name__ == "__main__":
    unittest.main(verbosity=2)
