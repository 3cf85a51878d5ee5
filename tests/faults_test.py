"""The built launcher from start to game, and the fault matrix: the x64 and x86
launchers bring a folder published by lista.exe up to date and start the game,
the launcher built with the demo key installs only what its key signed;
then the launcher is killed hard at chosen moments, closed in the middle of a
download, and run on a full disk (a small tmpfs mapped as drive V:, which root
mounts); update_test's Disk tests read what the player is told on that disk
and in a folder without write rights (a read-only tmpfs as drive W:). After
every run each listed file is wholly old or wholly new and a
launcher stands under its own name; each scenario ends with a run to its end,
which leaves no ".novo", ".retomar" nor ".old" and starts the game in its folder by Enter.
Prints "fault matrix: N of M scenarios held", also into
build/x64/faults/summary.txt, which 'make test' shows."""
import os
import random
import re
import signal
import subprocess
import sys
import time
import traceback
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
from launcher import (BUILD, EXE, GAME_CLASS, PROBE, ROOT, RUN_SECONDS, STANDIN, Game, Site,  # noqa: E402
                      launcher, read, session, wait, winenv, write)

FAULTS = os.path.join(BUILD, "faults")
SUMMARY = os.path.join(FAULTS, "summary.txt")
DRIVE, LOCKED_DRIVE = "v:", "w:"
DISK_SIZE = 8 << 20
# The launcher reads a download in pieces of 128 KiB, each filled before it is
# written: a stalled answer shows in the temporary file at a multiple of it.
PIECE = 128 << 10


def noise(seed, size):
    return random.Random(seed).randbytes(size)


def three_files(g):
    """Three files, the middle one large, and a new game executable."""
    g.publish("dados/a.bin", noise(1, 200000), noise(2, 50000))
    g.publish("dados/b.bin", noise(3, 1 << 20), noise(4, 100000))
    g.publish("c.txt", b"c nova\r\n", b"c antiga\r\n")
    g.publish("main.exe", read(STANDIN) + noise(5, 4096), read(STANDIN))
    g.manifest()


def normal_run_completes(g, restarts=False):
    """A run against the site as it is; returns the paths it asked for."""
    with Site(g.env, g.site) as site:
        g.run(site.url, restarts=restarts)
        asked = site.paths()
    g.check_whole()
    g.check_new()
    g.check_clean()
    return asked


# ---- The scenarios: each raises AssertionError when it does not hold ------------

def fresh_folder(env, arch):
    """A client with folders, spaces and accents, published by that build's
    lista.exe; a game folder with only the launcher and the game."""
    g = Game(env, FAULTS, "fresh-" + arch, arch)
    client = os.path.join(FAULTS, "fresh-%s-client" % arch)
    files = {"main.exe": read(STANDIN), "Data/texturas.pak": noise(20, 3 << 20),
             "Pasta Com Espaço/leia-me.txt": "olá\r\n".encode(), "Música/tema ção.ogg": b"\0\0\0", "vazio.dat": b""}
    subprocess.run(["rm", "-rf", client], check=True)
    for name, data in files.items():
        write(os.path.join(client, *name.split("/")), data)
        g.files[name] = (read(g.path(name)), data)
    lista = os.path.join(ROOT, arch, "lista.exe")
    g.assert_(winenv.run(env, lista, "-q", winenv.win_path(client), winenv.win_path(g.site)) == 0, "lista.exe failed")
    write(os.path.join(g.site, "api", "launcher"), b"status=1\nonline=5\n")
    asked = normal_run_completes(g)
    g.assert_(asked[:2] == ["/api/launcher", "/update/lista.txt"], "asked first: %s" % asked[:2])
    fetched = sorted(asked[2:])
    g.assert_(fetched == ["/update/files/Data/texturas.pak", "/update/files/M%C3%BAsica/tema%20%C3%A7%C3%A3o.ogg",
                          "/update/files/Pasta%20Com%20Espa%C3%A7o/leia-me.txt", "/update/files/vazio.dat"],
              "fetched: %s" % fetched)


def signed_release(env):
    """The launcher built with the demo key (build/demo-x64) installs a release
    lista signed with it; a manifest changed on the way is refused: nothing is
    fetched, the folder stays as it was, and Enter still starts the game."""
    g = Game(env, FAULTS, "signed", "demo-x64")
    client = os.path.join(FAULTS, "signed-client")
    subprocess.run(["rm", "-rf", client], check=True)
    for name, data in {"main.exe": read(STANDIN), "Data/mapa.dat": noise(21, 300000)}.items():
        write(os.path.join(client, *name.split("/")), data)
        g.files[name] = (read(g.path(name)), data)
    lista = [os.path.join(ROOT, "native", "lista"), "-q", client, g.site]
    g.assert_(subprocess.run(lista[:2] + ["--sign", os.path.join(ROOT, "demo", "demo.key"), "--serial", "1000"] +
                             lista[2:]).returncode == 0, "lista --sign failed")
    g.assert_("/update/lista.txt.sig" in normal_run_completes(g), "the signature was not asked for")
    with open(os.path.join(client, "main.exe"), "ab") as f:
        f.write(b"outro jogo")
    # Published unsigned, as someone on the way would serve it: the old signature stays beside it.
    g.assert_(subprocess.run(lista[:2] + ["--unsigned"] + lista[2:]).returncode == 0, "lista failed")
    folder = lambda: {os.path.relpath(os.path.join(d, f), g.game): read(os.path.join(d, f))  # noqa: E731
                      for d, _, fs in os.walk(g.game) for f in fs if f != "ZorunJanela.ini"}
    before = folder()
    with Site(env, g.site) as site:
        g.run(site.url)
        g.assert_(not [p for p in site.paths() if p.startswith("/update/files/")], "files fetched")
    g.assert_(folder() == before, "the game folder changed")


def killed_mid_download(env):
    g = Game(env, FAULTS, "kill-download")
    three_files(g)
    novo = g.path("dados/b.bin") + ".novo"
    with Site(env, g.site, {"/update/files/dados/b.bin": "stall:%d" % (3 * PIECE)}) as site:
        g.run(site.url, kill=lambda: os.path.exists(novo) and os.path.getsize(novo) >= 3 * PIECE)
    # The other files, fetched beside it, may have been placed or not.
    g.check_whole()
    g.check_old(["dados/b.bin"])
    normal_run_completes(g)


def killed_with_four_in_flight(env):
    """Four files at once, each stalled part way: the kill leaves four
    partials, and the next start resumes each from where it stopped."""
    g = Game(env, FAULTS, "kill-four")
    names = ["dados/%d.pak" % i for i in range(4)]
    for i, name in enumerate(names):
        g.publish(name, noise(30 + i, 1 << 20), noise(40 + i, 1000))
    g.manifest()
    novos = [g.path(n) + ".novo" for n in names]
    rules = {"/update/files/" + n: "stall:%d" % ((2 + i) * PIECE) for i, n in enumerate(names)}
    with Site(env, g.site, rules) as site:
        g.run(site.url, kill=lambda: all(os.path.exists(p) and os.path.getsize(p) >= (2 + i) * PIECE
                                         for i, p in enumerate(novos)))
    g.check_whole()
    g.check_old(names)
    got = [os.path.getsize(p) for p in novos]
    with Site(env, g.site) as site:
        g.run(site.url)
        heads = site.heads()
    g.check_whole()
    g.check_new()
    g.check_clean()
    for name, have in zip(names, got):
        asked = [h for h in heads if h.startswith("GET /update/files/%s " % name)]
        g.assert_(len(asked) == 1 and "\r\nRange: bytes=%d-\r\n" % have in asked[0],
                  "%s: the next start asked %s" % (name, asked))


def killed_after_verify(env):
    g = Game(env, FAULTS, "kill-verified")
    three_files(g)
    new_a = g.files["dados/a.bin"][1]
    with Site(env, g.site, {"/update/files/dados/b.bin": "silent"}) as site:
        g.run(site.url, kill=lambda: read(g.path("dados/a.bin")) == new_a and "/update/files/dados/b.bin" in site.paths())
    g.check_whole()
    g.check_new(["dados/a.bin"])
    g.check_old(["dados/b.bin"])
    normal_run_completes(g)


def killed_while_launcher_downloads(env):
    """Then the next run replaces the launcher, which restarts into the new one."""
    g = Game(env, FAULTS, "kill-launcher")
    g.publish("dados/a.bin", b"a nova", b"a antiga")
    # The new launcher is this one with bytes behind its image: it runs alike.
    g.publish(EXE, read(launcher()) + noise(6, 65536), read(g.exe))
    g.publish("zz.bin", b"depois do launcher", b"antes")
    g.manifest()
    novo = g.exe + ".novo"
    with Site(env, g.site, {"/update/files/" + EXE: "stall:%d" % (8 * PIECE)}) as site:
        g.run(site.url, kill=lambda: os.path.exists(novo) and os.path.getsize(novo) >= 8 * PIECE)
    # Every other file is placed before the launcher's own is fetched.
    g.check_whole()
    g.check_old([EXE])
    g.check_new(["dados/a.bin", "zz.bin"])
    asked = normal_run_completes(g, restarts=True)
    # The new launcher read the feed and the manifest again and found all current.
    g.assert_(asked.count("/update/lista.txt") == 2 and asked[-1] == "/update/lista.txt", "asked: %s" % asked)


def closed_during_a_download(env):
    """The player closes the window with seconds of a download to go: the
    launcher ends at once, the file keeps its old content, the next start
    asks only for the rest of it and finishes the update."""
    g = Game(env, FAULTS, "closed")
    g.publish("a.bin", b"a nova", b"a antiga")
    g.publish("grande.pak", noise(15, 8 << 20), noise(16, 1000))
    g.manifest()
    novo = g.path("grande.pak") + ".novo"
    with Site(env, g.site, {"/update/files/grande.pak": "trickle:65536:50"}) as site:  # about 6 s to go
        proc = g.start(site.url)
        try:
            wait(lambda: os.path.exists(novo) and os.path.getsize(novo) >= PIECE, 60, "the download to get going")
            g.assert_(winenv.run(env, os.path.join(BUILD, "testprograms", "probe.exe"), "close") == 0, "no window to close")
            t0 = time.time()
            g.assert_(proc.wait(10) == 0, "the launcher's exit code")
            g.assert_(time.time() - t0 < 2, "closing took %.1f s" % (time.time() - t0))
        finally:
            if proc.poll() is None:
                proc.kill()
    g.check_whole()
    g.check_new(["a.bin"])
    g.check_old(["grande.pak"])
    got = os.path.getsize(novo)
    g.assert_(os.path.exists(g.path("grande.pak") + ".retomar"), "no record beside the partial")
    with Site(env, g.site) as site:
        g.run(site.url)
        heads = [h for h in site.heads() if h.startswith("GET /update/files/grande.pak ")]
    g.check_whole()
    g.check_new()
    g.check_clean()
    g.assert_(len(heads) == 1 and "\r\nRange: bytes=%d-\r\n" % got in heads[0] and "\r\nIf-Range: " in heads[0],
              "the next start asked: %s" % heads)


def full_disk(env, disk):
    g = Game(env, FAULTS, "full-disk", game=os.path.join(disk, "game"), win=DRIVE.upper() + "\\game")
    g.publish("dados/a.bin", noise(7, 20000), noise(8, 10000))
    g.publish("grande.pak", noise(9, 6 << 20), noise(10, 100000))
    g.publish("z.bin", b"z nova", b"z antiga")
    g.manifest()
    with Site(env, g.site) as site:
        for run in range(2):  # the failing run, then the next one on the same disk
            room = os.statvfs(disk).f_bavail * os.statvfs(disk).f_frsize
            g.assert_(room < len(g.files["grande.pak"][1]), "the disk has room for grande.pak")
            g.run(site.url)
            g.assert_(site.paths().count("/update/files/grande.pak") == run + 1, "grande.pak not fetched")
            # The files beside it may have been placed, or have found no room either.
            g.check_whole()
            g.check_old(["grande.pak"])
            g.check_clean()
        # With room again, the update goes through.
        subprocess.run(["mount", "-o", "remount,size=%d" % (4 * DISK_SIZE), disk], check=True)
        g.run(site.url)
    g.check_whole()
    g.check_new()
    g.check_clean()


def traced_run(g, url, out):
    """A run from start to game with strace following the launcher and the
    session's wineserver, which makes Windows' moves of files: the calls that
    put bytes on the disk and the renames, in the order they were made, into out."""
    server = None
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                cmd = f.read().split(b"\0")
            with open("/proc/%s/environ" % pid, "rb") as f:
                env = f.read().split(b"\0")
        except OSError:
            continue
        if os.path.basename(cmd[0]).startswith(b"wineserver") and ("WINEPREFIX=" + g.env["WINEPREFIX"]).encode() in env:
            server = pid
    g.assert_(server, "no wineserver of the session")
    with open(os.path.join(g.game, "ZorunJanela.ini"), "w", newline="\r\n") as f:
        f.write("[Launcher]\nSite=%s\n" % url)
    started = g.games_started()
    # -I 1: strace, given a program to run, would otherwise ignore the
    # interrupt that detaches it from the wineserver.
    calls = "trace=fsync,fdatasync,rename,renameat,renameat2"
    tracer = subprocess.Popen(["strace", "-f", "-q", "-y", "-I", "1", "-o", out, "-e", calls, "-p", server, "--",
                               winenv.loader(g.exe), g.win + "\\" + EXE], env=g.env, cwd=g.game,
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        children = "/proc/%d/task/%d/children" % (tracer.pid, tracer.pid)
        wait(lambda: (read(children) or b"").split(), 10, "strace to start the launcher")
        pid = int(read(children).split()[0])
        g.assert_(winenv.run(g.env, PROBE, "play", timeout=RUN_SECONDS) == 0, "Enter did not start the game")
        wait(lambda: g.games_started() > started, 20, "the game's record")
        winenv.run(g.env, PROBE, "close", GAME_CLASS)
        winenv.run(g.env, PROBE, "wait-gone", GAME_CLASS, timeout=70)
        ended = re.compile(r"^%d +\+\+\+ exited with 0 \+\+\+$" % pid, re.M)
        wait(lambda: ended.search((read(out) or b"").decode("utf-8", "replace")), 20, "the launcher's end")
    finally:
        tracer.send_signal(signal.SIGINT)  # detaches from the wineserver
        tracer.wait(20)
    return (read(out) or b"").decode("utf-8", "replace").splitlines()


def flushed_before_placed(env):
    """A download reaches the disk before it is moved into place, and the
    record of verified files that trusts it before it replaces the one
    before: after a power cut neither may hold zeros where the bytes should
    be. A file only checked is never flushed, nor is the record of a start
    that placed nothing."""
    g = Game(env, FAULTS, "durable")
    g.publish("dados/a.bin", noise(30, 300000), noise(31, 1000))
    g.publish("b.bin", b"b nova", b"b antiga")
    g.publish("c.txt", b"igual", b"igual")
    g.manifest()
    out = os.path.join(FAULTS, "durable.strace")
    with Site(env, g.site) as site:
        for fetched in (["dados/a.bin", "b.bin"], []):
            lines = traced_run(g, site.url, out)
            # Calls are matched by their start: strace splits one that another
            # process interrupts into "<unfinished ...>" and "resumed>" lines.
            flushes = [i for i, line in enumerate(lines)
                       if (" fsync(" in line or " fdatasync(" in line) and (g.game in line or ".rec" in line)]
            renames = [i for i, line in enumerate(lines) if " rename(" in line or " renameat" in line]

            def first(among, text):
                return next((i for i in among if text in lines[i]), None)

            for name in fetched:
                temp = g.path(name) + ".novo"
                moved = first(renames, '"%s", ' % temp)
                flushed = first(flushes, "<%s>" % temp)
                g.assert_(moved is not None, "%s was not moved into place" % name)
                g.assert_(flushed is not None and flushed < moved, "%s was moved in before it was on the disk" % name)
            saved = [i for i in renames if '.rec.new", ' in lines[i]]
            g.assert_(saved, "no record saved")
            if fetched:
                before = saved[-2] if len(saved) > 1 else -1
                g.assert_(first([i for i in flushes if before < i < saved[-1]], '.rec.new>') is not None,
                          "the record that trusts the downloads replaced the last before it was on the disk")
            else:
                g.assert_(not flushes, "a start that placed nothing flushed: %s" % [lines[i] for i in flushes])
            g.check_new()
            g.check_clean()


def on_full_disk(env):
    with Disk(env["WINEPREFIX"]) as disk:
        full_disk(env, disk)


def disk_refusals(env):
    """update_test's Disk tests, both builds: a download that fills the disk,
    and a folder the launcher may not write, each with its own text."""
    folders = dict(env, VELMORA_FULL_DISK=DRIVE.upper() + "\\refusals",
                   VELMORA_READ_ONLY=LOCKED_DRIVE.upper() + "\\game")
    with Disk(env["WINEPREFIX"]), Disk(env["WINEPREFIX"], "locked", LOCKED_DRIVE, {"game/a.bin": b"a antigo"}):
        for arch in ("x64", "x86"):
            log = os.path.join(FAULTS, "disk-tests-%s.log" % arch)
            if os.path.exists(log):
                os.unlink(log)
            exe = os.path.join(ROOT, arch, "tests", "update_test.exe")
            rc = winenv.run(folders, exe, "--gtest_filter=Disk.*", timeout=300, log=log)
            text = (read(log) or b"").decode("utf-8", "replace")
            if rc != 0 or "[  PASSED  ] 1 test" not in text:
                raise AssertionError("%s update_test Disk.*:\n%s" % (arch, text[-4000:]))


class Disk:
    """A small tmpfs mapped as a drive of the prefix (V: by default); with
    files, mounted read-only once they are written."""

    def __init__(self, prefix, name="disk", drive=DRIVE, files=None):
        self.mount = os.path.join(FAULTS, name)
        self.link = os.path.join(prefix, "dosdevices", drive)
        self.files = files

    def __enter__(self):
        os.makedirs(self.mount, exist_ok=True)
        if os.path.ismount(self.mount):
            subprocess.run(["umount", self.mount], check=True)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % DISK_SIZE, "tmpfs", self.mount], check=True)
        if self.files:
            for name, data in self.files.items():
                write(os.path.join(self.mount, *name.split("/")), data)
            subprocess.run(["mount", "-o", "remount,ro", self.mount], check=True)
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
            ("a fresh folder, the x64 launcher", lambda env: fresh_folder(env, "x64")),
            ("a fresh folder, the x86 launcher", lambda env: fresh_folder(env, "x86")),
            ("a signed release, then a manifest changed on the way", signed_release),
            ("killed in the middle of a download", killed_mid_download),
            ("killed after a download and its verification", killed_after_verify),
            ("killed with four files in flight, then resumed", killed_with_four_in_flight),
            ("killed while a new launcher downloads, then restarted into it", killed_while_launcher_downloads),
            ("closed by the player during a download", closed_during_a_download),
            ("a full disk", on_full_disk),
            ("downloads and the record on the disk before they count", flushed_before_placed),
            ("the texts of a full disk and of a folder without write rights", disk_refusals),
        ]
        # VELMORA_FAULTS=word runs only the scenarios whose title holds it.
        only = os.environ.get("VELMORA_FAULTS")
        scenarios = [s for s in scenarios if not only or only in s[0]]
        held = []
        with session("faults") as env:
            for title, run in scenarios:
                t0 = time.time()
                try:
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
