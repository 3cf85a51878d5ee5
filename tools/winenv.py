#!/usr/bin/env python3
"""A Wine session for running the launcher and its tests on Linux.

A session is: a private Wine prefix under build/ (created once with wineboot),
an X display (the caller's DISPLAY, or a private Xvfb when there is none), and
a persistent wineserver so that each Windows program starts in milliseconds.
Everything the session starts is stopped when it ends.

    winenv.py run [--size WxH] [--prefix DIR] -- COMMAND ARGS...

runs COMMAND inside a session with WINEPREFIX, DISPLAY and friends set. Tests
import this module to make further sessions (other screen sizes, other prefixes).
"""
import argparse
import contextlib
import os
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_BUILD = os.path.join(ROOT, "build")
READY_MARK = ".velmora-ready"


def base_env(prefix, display):
    env = dict(os.environ)
    env.update(
        WINEPREFIX=prefix,
        WINEDEBUG="-all",
        WINEDLLOVERRIDES="mscoree,mshtml=",
        WINEARCH="win64",
        DISPLAY=display,
    )
    return env


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


def run_quiet(cmd, env, log, timeout=300):
    """Runs a Wine command with its output in a file: Wine's service processes may
    keep a pipe open long after the command itself has ended."""
    with open(log, "ab") as out:
        return subprocess.run(cmd, env=env, stdout=out, stderr=out, stdin=subprocess.DEVNULL,
                              timeout=timeout).returncode


def ensure_prefix(prefix, display):
    """Creates the prefix once; later calls return at once."""
    if os.path.exists(os.path.join(prefix, READY_MARK)):
        return
    os.makedirs(prefix, exist_ok=True)
    env = base_env(prefix, display)
    log = os.path.join(os.path.dirname(prefix), "wineboot.log")
    run_quiet(["wineboot", "-i"], env, log)
    run_quiet(["wineserver", "-w"], env, log)
    open(os.path.join(prefix, READY_MARK), "w").close()


def clone_prefix(src, dst):
    """A copy of a ready prefix: a second, independent Wine world in a moment."""
    if os.path.exists(os.path.join(dst, READY_MARK)):
        return
    shutil.rmtree(dst, ignore_errors=True)
    # Hard links keep the copy cheap (the prefix is mostly read-only DLLs); the
    # registry files, which Wine rewrites, get copies of their own.
    subprocess.run(["cp", "-al", src, dst], check=True)
    for name in ("system.reg", "user.reg", "userdef.reg"):
        path = os.path.join(dst, name)
        if os.path.exists(path):
            os.unlink(path)
            shutil.copy2(os.path.join(src, name), path)


@contextlib.contextmanager
def session(build=DEFAULT_BUILD, size=None, prefix=None, private_display=False):
    """Yields the environment of a running Wine session.

    size: the screen size of a private Xvfb ('WxH'); giving it forces a private
    display. prefix: a prefix folder; by default build/wine/prefix. A prefix other
    than the default is cloned from the default one.
    """
    xvfb = None
    display = os.environ.get("DISPLAY")
    if size or private_display or not display:
        xvfb, display = start_xvfb(size or "1920x1080")
    main_prefix = os.path.join(build, "wine", "prefix")
    prefix = prefix or main_prefix
    env = None
    server = None
    try:
        ensure_prefix(main_prefix, display)
        if os.path.abspath(prefix) != os.path.abspath(main_prefix):
            clone_prefix(main_prefix, prefix)
        env = base_env(prefix, display)
        # A server left over from an interrupted run would hold the old display.
        run_quiet(["wineserver", "-k"], env, os.devnull)
        server = subprocess.Popen(["wineserver", "-p", "-f"], env=env, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  start_new_session=True)
        # Start Wine's own services now, with their output going nowhere, so that
        # no later program's pipe is inherited by them.
        run_quiet(["wineboot"], env, os.devnull)
        yield env
    finally:
        if env:
            run_quiet(["wineserver", "-k"], env, os.devnull)
        stop(server)
        stop(xvfb)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = ap.add_subparsers(dest="cmd", required=True)
    run = sub.add_parser("run", help="run a command inside a Wine session")
    run.add_argument("--build", default=DEFAULT_BUILD)
    run.add_argument("--size", help="screen size of a private Xvfb, WxH")
    run.add_argument("--prefix")
    run.add_argument("command", nargs=argparse.REMAINDER)
    args = ap.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        ap.error("no command")
    with session(args.build, args.size, args.prefix) as env:
        rc = subprocess.run(command, env=env).returncode
    sys.exit(rc)


if __name__ == "__main__":
    main()
