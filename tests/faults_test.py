"""The fault matrix: the built launcher under Wine against the test web server
(testprograms/webserver.exe), killed hard at chosen moments, on a full disk,
with a read-only file, a folder where a file should be, a redirect loop,
documents of 10 MB, byte-order marks and an HTML error page.

After every run of every scenario, each listed game file must be wholly its
old content or wholly the new one (by MD5), and the launcher's executable must
stand under its own name, old or new. Every scenario ends with a run that goes
to its end, after which no temporary file (".novo", ".retomar", ".old") may be left and the
game must have been started by Enter. The killed runs are followed by a normal
run, which must complete the update.

Prints "fault matrix: N of M scenarios held", also into build/x64/faults/summary.txt,
which 'make test' shows. The scenarios run in a prefix of their own ("faults"),
where the full disk is a small tmpfs mapped as drive V: (root is needed to
mount it)."""
import os
import random
import subprocess
import sys
import time
import traceback
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
import wine  # noqa: E402
from gamerun import EXE, FOLDER, STANDIN, Game, read, wait  # noqa: E402

FAULTS = os.path.join(wine.BUILD, "faults")
SUMMARY = os.path.join(FAULTS, "summary.txt")
WEBSERVER = os.path.join(wine.PROGRAMS, "webserver.exe")
DRIVE = "v:"
DISK_SIZE = 8 << 20
# The launcher reads a download in pieces of 128 KiB, each filled before it is
# written: a stalled answer shows in the temporary file at a multiple of it.
PIECE = 128 << 10


def noise(seed, size):
    return random.Random(seed).randbytes(size)


class Server:
    """webserver.exe serving a site folder; answers maps a request path to how it
    is answered (webserver.exe's --answer forms: "stall:N", "redirect:URL" ...)."""

    def __init__(self, env, root, answers=None):
        self.log = root + ".requests"
        port_file = root + ".port"
        for f in (self.log, port_file, root + ".out"):
            if os.path.exists(f):
                os.unlink(f)
        args = [wine.win_path(root), "--port-file", wine.win_path(port_file), "--log", wine.win_path(self.log),
                "--seconds", "900"]
        for path, how in (answers or {}).items():
            args += ["--answer", "%s=%s" % (path, how)]
        self.proc = wine.start(env, WEBSERVER, *args, log=root + ".out")
        wait(lambda: os.path.exists(port_file) or self.proc.poll() is not None, 30, "the web server")
        if self.proc.poll() is not None:
            raise AssertionError("the web server did not start")
        with open(port_file) as f:
            self.url = "http://127.0.0.1:%d" % int(f.read())

    def requests(self):
        return (read(self.log) or b"").decode().split()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


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
    """A run against the site as it is; returns the paths it asked for."""
    with Server(g.env, g.site) as server:
        g.run(server.url, restarts=restarts)
        asked = server.requests()
    g.check_whole()
    g.check_new()
    g.check_clean()
    return asked


def killed_mid_download(env):
    g = Game(env, FAULTS, "kill-download")
    three_files(g)
    novo = g.path("dados/b.bin") + ".novo"
    with Server(env, g.site, {"/update/files/dados/b.bin": "stall:%d" % (3 * PIECE)}) as server:
        g.run(server.url, kill=lambda: os.path.exists(novo) and os.path.getsize(novo) >= 3 * PIECE)
    g.check_whole()
    g.check_new(["dados/a.bin"])
    g.check_old(["dados/b.bin", "c.txt", "main.exe"])
    normal_run_completes(g)


def killed_after_verify(env):
    g = Game(env, FAULTS, "kill-verified")
    three_files(g)
    new_a = g.files["dados/a.bin"][1]
    with Server(env, g.site, {"/update/files/dados/b.bin": "silent"}) as server:
        g.run(server.url, kill=lambda: read(g.path("dados/a.bin")) == new_a
              and "/update/files/dados/b.bin" in server.requests())
    g.check_whole()
    g.check_new(["dados/a.bin"])
    g.check_old(["dados/b.bin"])
    normal_run_completes(g)


def killed_while_launcher_downloads(env):
    g = Game(env, FAULTS, "kill-launcher")
    g.publish("dados/a.bin", b"a nova", b"a antiga")
    # The new launcher is this one with bytes behind its image: it runs alike.
    g.publish(EXE, read(wine.LAUNCHER) + noise(6, 65536), read(g.exe))
    g.publish("zz.bin", b"depois do launcher", b"antes")
    g.manifest()
    novo = g.exe + ".novo"
    with Server(env, g.site, {"/update/files/" + EXE: "stall:%d" % (8 * PIECE)}) as server:
        g.run(server.url, kill=lambda: os.path.exists(novo) and os.path.getsize(novo) >= 8 * PIECE)
    g.check_whole()
    g.check_old([EXE, "zz.bin"])
    normal_run_completes(g, restarts=True)


def killed_then_rolled_back(env):
    """Killed in a download; the site then goes back to the version the player
    has, so the next run fetches nothing: its temporary file must still go."""
    g = Game(env, FAULTS, "kill-rollback")
    three_files(g)
    novo = g.path("dados/b.bin") + ".novo"
    with Server(env, g.site, {"/update/files/dados/b.bin": "stall:%d" % (2 * PIECE)}) as server:
        g.run(server.url, kill=lambda: os.path.exists(novo) and os.path.getsize(novo) >= 2 * PIECE)
    g.check_whole()
    old_b = g.files["dados/b.bin"][0]
    g.publish("dados/b.bin", old_b, old_b)
    g.manifest()
    asked = normal_run_completes(g)
    g.assert_("/update/files/dados/b.bin" not in asked, "b.bin was fetched again")


def full_disk(env, disk):
    g = Game(env, FAULTS, "full-disk", os.path.join(disk, "game"), DRIVE.upper() + "\\game")
    g.publish("dados/a.bin", noise(7, 20000), noise(8, 10000))
    g.publish("grande.pak", noise(9, 6 << 20), noise(10, 100000))
    g.publish("z.bin", b"z nova", b"z antiga")
    g.manifest()
    with Server(env, g.site) as server:
        for run in range(2):  # the failing run, then the next one on the same disk
            room = os.statvfs(disk).f_bavail * os.statvfs(disk).f_frsize
            g.assert_(room < len(g.files["grande.pak"][1]), "the disk has room for grande.pak")
            g.run(server.url)
            g.assert_(server.requests().count("/update/files/grande.pak") == run + 1, "grande.pak not fetched")
            g.check_whole()
            g.check_new(["dados/a.bin"])
            g.check_old(["grande.pak", "z.bin"])
            g.check_clean()
        # With room again, the update goes through.
        subprocess.run(["mount", "-o", "remount,size=%d" % (4 * DISK_SIZE), disk], check=True)
        g.run(server.url)
    g.check_whole()
    g.check_new()
    g.check_clean()


def read_only_file(env):
    # Windows refuses to replace a read-only file (the run ends asking to close
    # the game); Wine, for root, replaces it. Either way it is whole.
    g = Game(env, FAULTS, "read-only")
    g.publish("a.bin", b"a nova", b"a antiga")
    g.publish("dados/somente-leitura.bin", noise(11, 30000), noise(12, 20000))
    g.publish("c.bin", b"c nova", b"c antiga")
    g.manifest()
    os.chmod(g.path("dados/somente-leitura.bin"), 0o444)
    with Server(env, g.site) as server:
        for _ in range(2):
            g.run(server.url)
            g.check_whole()
            g.check_new(["a.bin"])
            g.check_clean()


def folder_for_file(env):
    g = Game(env, FAULTS, "folder-for-file")
    g.publish("a.bin", b"a nova", b"a antiga")
    g.publish("dados/mapa.bin", b"um arquivo", FOLDER)
    g.have("dados/mapa.bin/dentro.txt", b"o que a pasta guarda")
    g.publish("c.bin", b"c nova", b"c antiga")
    g.manifest()
    with Server(env, g.site) as server:
        for _ in range(2):
            g.run(server.url)
            g.check_whole()
            g.check_new(["a.bin"])
            g.check_old(["dados/mapa.bin", "c.bin"])
            g.assert_(read(g.path("dados/mapa.bin/dentro.txt")) == b"o que a pasta guarda", "the folder's file")
            g.check_clean()


def file_for_folder(env):
    g = Game(env, FAULTS, "file-for-folder")
    g.publish("a.bin", b"a nova", b"a antiga")
    g.have("config", b"um arquivo onde a lista quer uma pasta")
    g.publish("config/opcoes.bin", b"dentro da pasta")
    g.publish("c.bin", b"c nova", b"c antiga")
    g.manifest()
    with Server(env, g.site) as server:
        for _ in range(2):
            g.run(server.url)
            g.check_whole()
            g.check_new(["a.bin"])
            g.check_old(["c.bin"])
            g.assert_(read(g.path("config")) == b"um arquivo onde a lista quer uma pasta", "the file 'config'")
            g.check_clean()


def redirect_loop_file(env):
    g = Game(env, FAULTS, "redirect-file")
    g.publish("a.bin", b"a nova", b"a antiga")
    g.publish("b.bin", b"b nova", b"b antiga")
    g.manifest()
    g.feed(b"status=1\n")
    with Server(env, g.site, {"/update/files/b.bin": "redirect:/update/files/b.bin",
                                  "/api/launcher": "redirect:/api/launcher"}) as server:
        g.run(server.url)
        g.check_whole()
        g.check_new(["a.bin"])
        g.check_old(["b.bin"])
        g.check_clean()
        asked = server.requests()
        g.assert_(asked.count("/update/files/b.bin") == 11, "b.bin asked %d times" % asked.count("/update/files/b.bin"))
        g.assert_(asked.count("/api/launcher") == 11, "the feed asked %d times" % asked.count("/api/launcher"))


def redirect_loop_manifest(env):
    g = Game(env, FAULTS, "redirect-manifest")
    g.publish("a.bin", b"a nova", b"a antiga")
    g.manifest()
    with Server(env, g.site, {"/update/lista.txt": "redirect:/update/lista.txt"}) as server:
        g.run(server.url)
        g.check_whole()
        g.check_old(["a.bin"])
        g.check_clean()


def huge_documents(env):
    g = Game(env, FAULTS, "huge")
    three_files(g)
    comment = b"# " + b"x" * 97 + b"\n"
    g.manifest(tail=comment * (10 * 1024 * 1024 // len(comment)))
    g.feed(b"status=1\nonline=5\nservidor=Velmora\n" + comment * (10 * 1024 * 1024 // len(comment)))
    normal_run_completes(g)


def byte_order_marks(env):
    g = Game(env, FAULTS, "bom")
    g.publish("primeiro.bin", b"o primeiro", b"antigo")
    g.publish("segundo.bin", b"o segundo")
    g.manifest(head=b"\xef\xbb\xbf")
    g.feed(b"\xef\xbb\xbfstatus=1\r\nonline=3\r\n")
    normal_run_completes(g)
    g.assert_(sorted(os.listdir(g.game)) == sorted(["main.exe", EXE, "ZorunJanela.ini", "primeiro.bin",
                                                    "segundo.bin"]), "files: %s" % os.listdir(g.game))


def html_error_page(env):
    g = Game(env, FAULTS, "html-page")
    g.publish("a.bin", b"a nova", b"a antiga")
    g.publish("b.bin", noise(13, 5000), noise(14, 4000))
    g.publish("c.bin", b"c nova", b"c antiga")
    g.manifest()
    page = "body:<html><body><h1>Erro interno</h1><p>Tente mais tarde.</p></body></html>"
    with Server(env, g.site, {"/update/files/b.bin": page}) as server:
        g.run(server.url)
        g.check_whole()
        g.check_new(["a.bin"])
        g.check_old(["b.bin", "c.bin"])
        g.check_clean()


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
