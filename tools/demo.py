#!/usr/bin/env python3
"""The launcher's main job, end to end, against the demo site (make demo).

Serves build/demo/site with nginx on loopback (the manifest compressed, as
nginx's gzip_static sends it), prepares an empty demo game folder (only the
launcher and its INI, as a new player has), and runs the launcher under Wine:
it reads the status feed, checks the manifest's signature against the demo key
built into it (build/demo-x64, 'make demo-launcher'), downloads and verifies
the whole client of some thousands of files, several at once, and Play starts
the stand-in game. Then the operator publishes release 2 with lista (the large
archive patched in a few places): the next start brings the archive up to
date by a delta, fetching a small part of it, and the start after that finds
everything current and fetches nothing but the signature and an unchanged
manifest's 304. With DISPLAY set the person drives the first start's window;
without one the demo runs on a private Xvfb, clicks Play itself once the
update is done, and saves screenshots to build/demo/. Everything it started is
stopped at the end."""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import nginx  # noqa: E402
from demosite import KEY, LISTA, NEW_PAK  # noqa: E402
import winenv  # noqa: E402

BUILD = os.path.join(ROOT, "build")
DEMO = os.path.join(BUILD, "demo")
SITE = os.path.join(DEMO, "site")
CLIENT = os.path.join(DEMO, "client")
GAME_DIR = os.path.join(DEMO, "game")
SHOTS = DEMO
LAUNCHER = os.path.join(BUILD, "demo-x64", "VelmoraLauncher.exe")  # built with the demo key
KEYS = os.path.join(DEMO, "keys.txt")
PROBE = os.path.join(BUILD, "x64", "testprograms", "probe.exe")
GAME_CLASS = "VelmoraStandInGame"
PLAY = (771, 497)  # centre of the Play button, in window pixels
RATE = 8 << 20      # bytes per second for game files: slow enough to watch the bar move
PAK = "Data/texturas.pak"  # the large archive, which the player has in the release before
# What an operator adds to nginx for compressed manifests (see the README).
GZIP = "        location = /update/lista.txt { gzip_static on; }"



def manifest():
    with open(os.path.join(SITE, "update", "lista.txt"), encoding="utf-8") as f:
        return [tuple(line.split("|")[:2]) for line in f.read().splitlines() if line.count("|") >= 2]


def md5(path):
    try:
        with open(path, "rb") as f:
            return hashlib.md5(f.read()).hexdigest()
    except OSError:
        return None


def local(name):
    return os.path.join(GAME_DIR, *name.split("/"))


def prepare(port):
    """A game folder with nothing but the launcher and an INI pointing at the
    local site: a new player's first start installs the whole client."""
    shutil.rmtree(GAME_DIR, ignore_errors=True)
    os.makedirs(GAME_DIR)
    shutil.copy2(LAUNCHER, GAME_DIR)
    with open(os.path.join(GAME_DIR, "ZorunJanela.ini"), "w", newline="\r\n") as f:
        f.write("[Launcher]\nSite=http://127.0.0.1:%d\n" % port)


def wine(env, *args, timeout=60):
    return winenv.run(env, *args, timeout=timeout)


def window_rect(env, cls=None):
    with tempfile.TemporaryDirectory() as tmp:
        f = os.path.join(tmp, "rect")
        if wine(env, PROBE, "rect", winenv.win_path(f), *([cls] if cls else [])) != 0:
            return None
        return tuple(map(int, open(f).read().split()))


def screenshot(env, name, cls=None):
    rect = window_rect(env, cls)
    if not rect:
        return None
    left, top, right, bottom = rect
    path = os.path.join(SHOTS, name)
    subprocess.run(["/usr/bin/import", "-display", env["DISPLAY"], "-window", "root",
                    "-crop", "%dx%d+%d+%d" % (right - left, bottom - top, max(left, 0), max(top, 0)),
                    "+repage", path], check=True, env=env, stdout=subprocess.DEVNULL)
    print("demo: screenshot %s" % os.path.relpath(path, ROOT))
    return path


def click(env, x, y):
    subprocess.run(["xdotool", "mousemove", "--sync", str(x), str(y), "click", "1"], env=env, check=True)


def start_again(env, server, done, shot):
    """The player starts the launcher again; done(asked) tells when its run is
    over (asked: the requests nginx has had since). A screenshot, then the
    window is closed. Returns those requests."""
    before = len(server.log())
    launcher = winenv.start(env, os.path.join(GAME_DIR, "VelmoraLauncher.exe"), cwd=GAME_DIR,
                            log=os.path.join(DEMO, "launcher.log"))
    try:
        deadline = time.time() + 120
        while time.time() < deadline and not done(server.log()[before:]):
            time.sleep(0.1)
        time.sleep(1.5)  # the final status and the lit Play button
        screenshot(env, shot)
        wine(env, PROBE, "close")
        launcher.wait(20)
    finally:
        if launcher.poll() is None:
            launcher.kill()
    return server.log()[before:]


def publish_patch(server):
    """The operator's release 2: the archive patched in a few places and
    grown, published with lista over the live site and checked."""
    shutil.copyfile(NEW_PAK, os.path.join(CLIENT, *PAK.split("/")))
    r = subprocess.run([LISTA, "--quiet", "--sign", KEY, CLIENT, SITE])
    verify = subprocess.run([LISTA, "verify", "--quiet", server.url, "--keys", KEYS], timeout=120)
    print("demo: the operator publishes release 2 with lista: %s changed in three places and grown by 1 MiB"
          % PAK)
    return r.returncode == 0 and verify.returncode == 0


def delta_start(env, server):
    """A start after release 2: the archive is brought up to date by a delta
    (its chunk map, then ranges of what changed), and nothing else is
    fetched. True when that is what happened."""
    want = md5(NEW_PAK)
    size = os.path.getsize(NEW_PAK)
    asked = start_again(env, server, lambda asked: not os.path.exists(local(PAK) + ".novo") and
                        os.path.exists(local(PAK)) and os.path.getsize(local(PAK)) == size and
                        md5(local(PAK)) == want, "5-delta.png")
    pak = [r for r in asked if r["path"] == "/update/files/" + PAK]
    maps = [r for r in asked if r["path"].startswith("/update/maps/")]
    others = [r["path"] for r in asked if r["path"].startswith("/update/files/") and r not in pak]
    fetched = sum(r["body"] for r in pak + maps)
    print("demo: %s, %.1f MiB, brought to release 2 by a delta: %.2f MiB fetched (%.1f %%), "
          "its chunk map and %d range%s" % (PAK, size / 1048576.0, fetched / 1048576.0, 100.0 * fetched / size,
                                            len(pak), "" if len(pak) == 1 else "s"))
    ok = md5(local(PAK)) == want and bool(maps) and bool(pak) and all(r["status"] == 206 for r in pak)
    if not ok:
        print("demo: %s was not updated by a delta" % PAK)
    if others:
        ok = False
        print("demo: files fetched that release 2 did not change: %s" % ", ".join(others[:10]))
    return ok


def current_start(env, server):
    """A start with nothing changed: the launcher asks the site only whether
    the manifest changed, and reads no file. True when it fetched no game file
    and got a 304 for the manifest."""
    asked = start_again(env, server, lambda asked: any(r["path"] == "/update/lista.txt.sig" for r in asked),
                        "6-nada-mudou.png")
    print("demo: a start with nothing changed asked for %s"
          % ", ".join("%s (%d, %d bytes)" % (r["path"], r["status"], r["sent"]) for r in asked))
    return (not any(r["path"].startswith("/update/files/") for r in asked) and
            any(r["path"] == "/update/lista.txt" and r["status"] == 304 for r in asked))


def main():
    os.makedirs(SHOTS, exist_ok=True)
    for old in os.listdir(SHOTS):
        if old.endswith(".png"):
            os.unlink(os.path.join(SHOTS, old))
    entries = manifest()
    server = nginx.Nginx(SITE, os.path.join(DEMO, "nginx"), rate=RATE, server=GZIP)
    try:
        return demo(server, entries)
    finally:
        server.stop()


def demo(server, entries):
    interactive = bool(os.environ.get("DISPLAY"))
    prepare(server.port)
    before = {name: md5(local(name)) for name, _ in entries}
    record = os.path.join(DEMO, "standin.log")
    if os.path.exists(record):
        os.unlink(record)
    print("demo: site %s served by nginx (logs in %s), game folder %s"
          % (server.url, os.path.relpath(server.work, ROOT), os.path.relpath(GAME_DIR, ROOT)))
    with open(KEYS) as f:
        key_id = f.read().split()[2]
    with open(os.path.join(SITE, "update", "lista.txt.sig")) as f:
        serial = f.read().split("\n")[2].split()[1]
    print("demo: the launcher trusts the demo key %s; the site's manifest is signed with it, serial %s"
          % (key_id, serial))
    # The operator's check after an upload: the site over the network, as the
    # demo launcher will see it.
    verify = subprocess.run([os.path.join(BUILD, "native", "lista"), "verify", server.url, "--keys", KEYS],
                            capture_output=True, text=True, timeout=120)
    print("demo: lista verify %s: %s" % (server.url, verify.stderr.strip().splitlines()[-1] if verify.stderr else ""))
    if verify.returncode:
        print(verify.stderr)
        return 1
    size = sum(os.path.getsize(os.path.join(SITE, "update", "files", *n.split("/"))) for n, _ in entries)
    print("demo: a new player's folder: %d files, %.1f MiB to install" % (len(entries), size / (1 << 20)))

    ok = True
    mark = len(server.log())  # the launcher's requests come after lista verify's
    with winenv.session(BUILD) as env:
        env["VELMORA_STANDIN_LOG"] = winenv.win_path(record)
        # The demo plays a player new to this site: a release serial kept
        # under the demo key by an earlier run of this prefix (a site signed
        # later, then rebuilt) would refuse the demo's own release.
        with open(KEYS) as f:
            key = f.read().split()[2]
        wine(env, "reg", "delete", r"HKCU\Software\Halvick\Zorun\Config", "/v", "UpdateRelease " + key, "/f")
        launcher = winenv.start(env, os.path.join(GAME_DIR, "VelmoraLauncher.exe"), cwd=GAME_DIR,
                                log=os.path.join(DEMO, "launcher.log"))
        try:
            if interactive:
                print("demo: the launcher is on your display; click JOGAR when it is ready")
                launcher.wait()
                wine(env, PROBE, "wait-gone", GAME_CLASS, timeout=None)
            else:
                time.sleep(1.0)
                screenshot(env, "1-inicio.png")
                deadline = time.time() + 300
                shot_mid = False
                while time.time() < deadline:
                    if all(os.path.exists(local(n)) for n, _ in entries):
                        break
                    if not shot_mid and os.path.exists(local(PAK + ".novo")):
                        time.sleep(1.0)
                        shot_mid = bool(screenshot(env, "2-baixando.png"))
                    time.sleep(0.1)
                time.sleep(1.5)  # the final status and the lit Play button
                rect = window_rect(env)
                screenshot(env, "3-pronto.png")
                if rect:
                    click(env, rect[0] + PLAY[0], rect[1] + PLAY[1])
                try:
                    launcher.wait(20)
                except subprocess.TimeoutExpired:
                    pass
                if window_rect(env, GAME_CLASS):
                    time.sleep(0.5)
                    screenshot(env, "4-jogo.png", GAME_CLASS)
                    wine(env, PROBE, "close", GAME_CLASS)
        finally:
            if launcher.poll() is None:
                launcher.kill()
                ok = False
        ok = installed(entries, before, record) and ok
        first = server.log()[mark:]
        print("demo: launcher exit code %s; nginx served its first start %d requests, %.1f MiB of files"
              % (launcher.returncode, len(first), sum(r["body"] for r in first
                                                      if r["path"].startswith("/update/files/")) / 1048576.0))
        ok = ok and launcher.returncode == 0
        # Release 2 reaches the player at the next start, by a delta; the
        # start after that finds nothing changed.
        ok = publish_patch(server) and ok
        ok = delta_start(env, server) and ok
        ok = current_start(env, server) and ok
    return 0 if ok else 1


def installed(entries, before, record):
    """Tells what the first start installed and whether the game started."""
    ok = True
    after = {name: md5(local(name)) for name, _ in entries}
    updated = [n for n, m in entries if before[n] != m and after[n] == m]
    stale = [n for n, m in entries if after[n] != m]
    print("demo: files installed and verified: %d of %d" % (len(updated), len(entries)))
    if stale:
        ok = False
        print("demo: files still missing or out of date: %s" % ", ".join(stale[:20]))
    started = os.path.exists(record)
    if started:
        cwd = open(record, encoding="utf-8").read().splitlines()[0].split("=", 1)[1]
        print("demo: the game started in %s" % cwd)
    else:
        ok = False
        print("demo: the game was not started")
    return ok


if __name__ == "__main__":
    sys.exit(main())
