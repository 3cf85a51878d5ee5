#!/usr/bin/env python3
"""A Wine session for running the launcher, its tests, the demo and the benchmarks.

A session is: a private Wine prefix under build/ (made with wineboot, and made
anew whenever the installed Wine packages change, since a prefix made by one
Wine stops working under another), an X display (the caller's DISPLAY, or a
private Xvfb when there is none or a size is asked for), and a persistent
wineserver so that each Windows program starts in milliseconds. Everything the
session starts is stopped when it ends.

    winenv.py run [--size WxH] [--prefix DIR] -- COMMAND ARGS...

runs COMMAND inside a session with WINEPREFIX, DISPLAY and friends set. Python
callers import it for session(), and for start(), run() and output(), the one
way to run a Windows program here (its output goes to a file: a reader of a
pipe may wait for ever on Wine's service processes, which inherit it).
"""
import argparse
import contextlib
import glob
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_BUILD = os.path.join(ROOT, "build")
READY_MARK = ".velmora-ready"


def win_path(path):
    """The Windows name of a Linux path (Wine's Z: drive)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def base_env(prefix, display):
    # winedbg.exe=d: a program that crashes ends there, and its test fails at
    # once; Wine's debugger would keep it waiting, with no console to talk to,
    # until the test's time-out, its output unprinted.
    env = dict(os.environ)
    env.update(WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d", WINEARCH="win64",
               DISPLAY=display)
    return env


WINE64 = "/usr/lib/wine/wine64"


def loader(exe):
    """The Wine loader for the program exe (a Linux path or a Z: path). Once
    Wine's 32-bit part is installed, 'wine' is the 32-bit loader, which runs a
    64-bit program as another process behind a start.exe of its own: the
    process a caller holds would then not be the program, and a kill, a memory
    reading or a look at its mapped files would miss it."""
    path = exe[2:].replace("\\", "/") if exe[:2].upper() == "Z:" else exe
    try:
        with open(path, "rb") as f:
            head = f.read(4096)
        at = int.from_bytes(head[0x3C:0x40], "little")
        machine = int.from_bytes(head[at + 4:at + 6], "little")
    except (OSError, ValueError):
        return "wine"
    return WINE64 if machine == 0x8664 and os.path.exists(WINE64) else "wine"


def start(env, exe, *args, cwd=None, log=None):
    """Starts a Windows program in the background, its output appended to log
    (or to an unnamed file that vanishes with it)."""
    out = open(log, "ab") if log else tempfile.TemporaryFile(prefix="wine-")
    with out:
        return subprocess.Popen([loader(exe), exe, *args], env=env, cwd=cwd, stdout=out, stderr=out,
                                stdin=subprocess.DEVNULL, start_new_session=True)


def run(env, exe, *args, timeout=60, cwd=None, log=None):
    """Runs a Windows program (or a Wine tool such as wineboot) to its end; its exit code."""
    out = open(log, "ab") if log else tempfile.TemporaryFile(prefix="wine-")
    with out:
        cmd = [exe, *args] if exe in ("wineboot", "wineserver") else [loader(exe), exe, *args]
        return subprocess.run(cmd, env=env, cwd=cwd, stdout=out, stderr=out, stdin=subprocess.DEVNULL,
                              timeout=timeout).returncode


def output(env, exe, *args, timeout=600):
    """Runs a Windows program to its end; (exit code, its standard output, its
    standard error)."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        rc = subprocess.run([loader(exe), exe, *args], env=env, stdout=out, stderr=err, stdin=subprocess.DEVNULL,
                            timeout=timeout).returncode
        out.seek(0)
        err.seek(0)
        return rc, out.read().decode("utf-8", "replace"), err.read().decode("utf-8", "replace")


class Site:
    """The tests' web server (testprograms/webserver.exe of the x64 build)
    serving root in a session until stopped. rules maps a request path, or a
    prefix ending in *, to one of its rules ("trickle:CHUNK:MS", "silent" ...);
    every request's head goes to root.requests."""

    def __init__(self, env, root, rules=None, build=DEFAULT_BUILD):
        self.log, port = root + ".requests", root + ".port"
        for f in (self.log, port):
            with contextlib.suppress(FileNotFoundError):
                os.unlink(f)
        args = [win_path(root), "--port-file", win_path(port), "--log", win_path(self.log)]
        for path, how in (rules or {}).items():
            args += ["--rule", "%s=%s" % (path, how)]
        self.proc = start(env, os.path.join(build, "x64", "testprograms", "webserver.exe"), *args)
        deadline = time.time() + 30
        while not os.path.exists(port) and self.proc.poll() is None and time.time() < deadline:
            time.sleep(0.02)
        with open(port) as f:
            self.url = "http://127.0.0.1:%d" % int(f.read())

    def paths(self):
        """The path of every request so far, in order."""
        with contextlib.suppress(FileNotFoundError), open(self.log, "rb") as f:
            return [h.split(b" ")[1].decode() for h in f.read().split(b"\r\n\r\n") if h]
        return []

    def heads(self):
        """Every request's whole head so far, in order."""
        with contextlib.suppress(FileNotFoundError), open(self.log, "rb") as f:
            return [h.decode("utf-8", "replace") + "\r\n\r\n" for h in f.read().split(b"\r\n\r\n") if h]
        return []

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def start_xvfb(size="1920x1080"):
    """Starts a private Xvfb; returns (process, ':N'). Xvfb picks a free display."""
    if not shutil.which("Xvfb"):
        raise SystemExit("Xvfb is missing: run 'make setup'")
    r, w = os.pipe()
    proc = subprocess.Popen(
        ["Xvfb", "-displayfd", str(w), "-screen", "0", size + "x24", "-nolisten", "tcp", "-nocursor"],
        pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    os.close(w)
    data = b""
    deadline = time.time() + 20
    with os.fdopen(r, "rb", buffering=0) as f:
        while not data.endswith(b"\n") and time.time() < deadline:
            chunk = f.read(16)
            if not chunk:
                break
            data += chunk
    if not data.strip():
        proc.kill()
        raise SystemExit("Xvfb did not start")
    return proc, ":" + data.decode().strip()


def stop(proc):
    if proc and proc.poll() is None:
        with contextlib.suppress(ProcessLookupError):
            os.killpg(proc.pid, signal.SIGTERM)
        try:
            proc.wait(5)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()


def wine_version():
    """What a prefix is made for: the installed Wine packages and their versions."""
    r = subprocess.run(["dpkg-query", "-W", "-f", "${db:Status-Abbrev} ${Package}:${Architecture} ${Version}\n",
                        "wine*", "libwine*"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    lines = sorted(line[4:] for line in r.stdout.splitlines() if line.startswith("ii "))
    # Version 2 of the prefix: windows unmanaged, as there is no window manager.
    return "prefix 2\n" + "\n".join(lines or [subprocess.run(["wine", "--version"], stdout=subprocess.PIPE,
                                                             text=True).stdout.strip()]) + "\n"


def mark(prefix):
    with contextlib.suppress(OSError), open(os.path.join(prefix, READY_MARK)) as f:
        return f.read()
    return None


def ensure_prefix(prefix, display):
    """Makes the prefix unless it was made for the Wine installed now."""
    version = wine_version()
    if mark(prefix) == version:
        return
    env = base_env(prefix, display)
    if os.path.isdir(prefix):
        # Programs of an interrupted run would write into the folder as it goes.
        subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    shutil.rmtree(prefix, ignore_errors=True)
    os.makedirs(prefix, exist_ok=True)
    log = os.path.join(os.path.dirname(prefix), "wineboot.log")
    run(env, "wineboot", "-i", log=log, timeout=300)
    # With no window manager, Wine would wait a second or two for it on every
    # window that closes (a message box, the launcher itself).
    run(env, "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f", log=log)
    run(env, "wineserver", "-w", log=log)
    with open(os.path.join(prefix, READY_MARK), "w") as f:
        f.write(version)


def clone_prefix(src, dst):
    """A copy of a ready prefix, a second and independent Wine world in a moment:
    hard links for what Wine only reads, copies of the registry files it
    rewrites, and empty temporary folders."""
    if mark(dst) == mark(src):
        return
    shutil.rmtree(dst, ignore_errors=True)
    subprocess.run(["cp", "-al", src, dst], check=True)
    for name in ("system.reg", "user.reg", "userdef.reg"):
        os.unlink(os.path.join(dst, name))
        shutil.copy2(os.path.join(src, name), os.path.join(dst, name))
    for temp in glob.glob(os.path.join(dst, "drive_c", "users", "*", "AppData", "Local", "Temp")):
        shutil.rmtree(temp)
        os.makedirs(temp)


@contextlib.contextmanager
def session(build=DEFAULT_BUILD, size=None, prefix=None):
    """Yields the environment of a running Wine session.

    size: the screen size of a private Xvfb ('WxH'); giving it forces a private
    display. prefix: a prefix folder, by default build/wine/prefix; another one
    is cloned from the default one.
    """
    xvfb = None
    display = os.environ.get("DISPLAY")
    if size or not display:
        xvfb, display = start_xvfb(size or "1920x1080")
    main_prefix = os.path.join(build, "wine", "prefix")
    prefix = prefix or main_prefix
    env = server = None
    try:
        ensure_prefix(main_prefix, display)
        if os.path.abspath(prefix) != os.path.abspath(main_prefix):
            clone_prefix(main_prefix, prefix)
        env = base_env(prefix, display)
        # A server left over from an interrupted run would hold the old display.
        run(env, "wineserver", "-k")
        server = subprocess.Popen(["wineserver", "-p", "-f"], env=env, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        # Wine's own services now, so that no later program's output is inherited by them.
        run(env, "wineboot")
        yield env
    finally:
        if env:
            run(env, "wineserver", "-k")
        stop(server)
        stop(xvfb)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = ap.add_subparsers(dest="cmd", required=True)
    cmd = sub.add_parser("run", help="run a command inside a Wine session")
    cmd.add_argument("--build", default=DEFAULT_BUILD)
    cmd.add_argument("--size", help="screen size of a private Xvfb, WxH")
    cmd.add_argument("--prefix")
    cmd.add_argument("command", nargs=argparse.REMAINDER)
    args = ap.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        ap.error("no command")
    with session(args.build, args.size, args.prefix) as env:
        rc = subprocess.run(command, env=env).returncode
    sys.exit(rc)


if __name__ == "__main__":
    main()
