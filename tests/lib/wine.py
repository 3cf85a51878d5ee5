"""Helpers for tests that drive Windows programs from the Linux side."""
import os
import subprocess
import sys
import tempfile

SOURCE = os.environ.get("VELMORA_SOURCE") or os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.environ.get("VELMORA_BUILD") or os.path.join(SOURCE, "build", "x64")
sys.path.insert(0, os.path.join(SOURCE, "tools"))

import winenv  # noqa: E402

LAUNCHER = os.path.join(BUILD, "VelmoraLauncher.exe")
PROGRAMS = os.path.join(BUILD, "testprograms")
WINE_ROOT = os.path.join(os.path.dirname(BUILD))  # build/, where winenv keeps its prefixes


def win_path(path):
    """The Windows name of a Linux path (Wine's Z: drive)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def session(size=None, name=None):
    """A Wine session; a private prefix (cloned) when name is given."""
    prefix = os.path.join(WINE_ROOT, "wine", "prefix-" + name) if name else None
    return winenv.session(WINE_ROOT, size=size, prefix=prefix)


def start(env, exe, *args, cwd=None, log=None):
    """Starts a Windows program in the background; output goes to a file, never a
    pipe: the file log (appended to), or an unnamed one that vanishes with it."""
    out = open(log, "ab") if log else tempfile.TemporaryFile(prefix="wine-")
    with out:
        return subprocess.Popen(["wine", exe, *args], env=env, cwd=cwd, stdout=out, stderr=out,
                                stdin=subprocess.DEVNULL)


def run(env, exe, *args, timeout=60, cwd=None):
    """Runs a Windows program to its end; returns its exit code."""
    with tempfile.TemporaryFile() as out:
        return subprocess.run(["wine", exe, *args], env=env, cwd=cwd, stdout=out, stderr=out,
                              stdin=subprocess.DEVNULL, timeout=timeout).returncode
