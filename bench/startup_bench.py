#!/usr/bin/env python3
"""The shipped launcher's start-up, memory and size, side by side with the least
a Win32 program does to show a window of the same size (bench/programs/minwindow.cpp,
built with the launcher's flags), both under the same Wine on the same X screen:

  start-up   from the moment the process is started until its first frame is
             on the screen (time ratio, goal <= 1.5)
  memory     resident memory once started (difference, goal < 25 MiB)
  size       the launcher executable of both architectures

"First frame on the screen" is judged the same way for both, from the X server:
the window's rectangle is read every few milliseconds from the moment the
process is started (a read and its comparison take about 5 ms), and the frame counts as there when 95% of its pixels are
those that the program shows once it has settled (its own picture, taken in a
run before). The launcher's site accepts connections and never answers, so the
launcher stays on the frame that a player sees first, band moving.

Each figure is the median of several starts of each program, taken in turn,
after one start of each to warm the caches."""
import os
import statistics
import sys
import time

SOURCE = os.environ.get("VELMORA_SOURCE") or os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("VELMORA_BUILD") or os.path.join(SOURCE, "build", "x64")
sys.path.insert(0, os.path.join(SOURCE, "tools"))
import winenv  # noqa: E402
import xscreen  # noqa: E402

LAUNCHER = os.path.join(BUILD, "VelmoraLauncher.exe")
LAUNCHER_X86 = os.path.join(os.path.dirname(BUILD), "x86", "VelmoraLauncher.exe")
MINIMAL = os.path.join(BUILD, "bench", "minwindow.exe")
SCRATCH = os.path.join(os.path.dirname(BUILD), "bench-startup")
SCREEN = (1920, 1080)
RECT = ((SCREEN[0] - 900) // 2, (SCREEN[1] - 560) // 2, 900, 560)  # where both windows open
ROUNDS = 7
THERE = 0.95
MIB = 1 << 20


def start(env, exe, cwd):
    return winenv.start(env, exe, cwd=cwd)


def resident(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    raise RuntimeError("no VmRSS for %d" % pid)


def runs_image(pid, exe):
    """True when the process maps exe: the program itself, not a loader before it."""
    with open("/proc/%d/maps" % pid) as f:
        return os.path.realpath(exe) in f.read()


def stop(proc, screen, blank):
    proc.kill()
    proc.wait()
    # The next start must find the screen as this one did.
    deadline = time.time() + 20
    while time.time() < deadline and xscreen.same_fraction(screen.grab(*RECT), blank) < 0.99:
        time.sleep(0.02)


def settled_picture(env, exe, cwd, screen, blank):
    proc = start(env, exe, cwd)
    time.sleep(2.0)
    picture = screen.grab(*RECT)
    stop(proc, screen, blank)
    if xscreen.same_fraction(picture, blank) > 0.5:
        raise SystemExit("%s showed no window where expected" % exe)
    return picture


def first_frame(env, exe, cwd, screen, blank, picture):
    """Seconds from the start of the process until its frame is on the screen,
    and its resident memory a second later."""
    t0 = time.perf_counter()
    proc = start(env, exe, cwd)
    seen = None
    while time.perf_counter() - t0 < 30:
        if xscreen.same_fraction(screen.grab(*RECT), picture) >= THERE:
            seen = time.perf_counter() - t0
            break
        time.sleep(0.002)  # a core left to the programs: the machine may have only two
    if seen is None:
        stop(proc, screen, blank)
        raise SystemExit("%s: no frame within 30 s" % exe)
    time.sleep(1.0)
    if not runs_image(proc.pid, exe):
        raise SystemExit("process %d does not run %s" % (proc.pid, exe))
    rss = resident(proc.pid)
    stop(proc, screen, blank)
    return seen, rss


def main():
    for exe in (LAUNCHER, MINIMAL):
        if not os.path.exists(exe):
            raise SystemExit("missing %s: build first (make x64)" % exe)
    game = os.path.join(SCRATCH, "game")
    os.makedirs(game, exist_ok=True)
    launcher = os.path.join(game, "VelmoraLauncher.exe")
    with open(LAUNCHER, "rb") as src, open(launcher, "wb") as dst:
        dst.write(src.read())
    programs = [("launcher", launcher, game), ("minimal", MINIMAL, os.path.dirname(MINIMAL))]
    prefix = os.path.join(os.path.dirname(BUILD), "wine", "prefix-bench-startup")
    with winenv.session(os.path.dirname(BUILD), size="%dx%d" % SCREEN, prefix=prefix) as env:
        # A site that takes connections and never answers.
        with winenv.Site(env, SCRATCH, {"/*": "silent"}, build=os.path.dirname(BUILD)) as site:
            with open(os.path.join(game, "ZorunJanela.ini"), "w", newline="\r\n") as f:
                f.write("[Launcher]\nSite=%s\n" % site.url)
            with xscreen.Screen(env["DISPLAY"]) as screen:
                blank = screen.grab(*RECT)
                pictures = {name: settled_picture(env, exe, cwd, screen, blank) for name, exe, cwd in programs}
                times = {name: [] for name, _, _ in programs}
                memory = {name: [] for name, _, _ in programs}
                for _ in range(ROUNDS):
                    for name, exe, cwd in programs:
                        t, rss = first_frame(env, exe, cwd, screen, blank, pictures[name])
                        times[name].append(t)
                        memory[name].append(rss)
    t_l, t_m = statistics.median(times["launcher"]), statistics.median(times["minimal"])
    m_l, m_m = statistics.median(memory["launcher"]), statistics.median(memory["minimal"])
    print("start-up  launcher %5.0f ms   minimal window %5.0f ms   time ratio %.2f        (goal <= 1.5)"
          % (t_l * 1000, t_m * 1000, t_l / t_m))
    print("memory    launcher %5.1f MiB  minimal window %5.1f MiB  difference %+.1f MiB  (goal < 25 MiB)"
          % (m_l / MIB, m_m / MIB, (m_l - m_m) / MIB))
    sizes = ["x64 %d bytes (%.2f MiB)" % (os.path.getsize(LAUNCHER), os.path.getsize(LAUNCHER) / MIB)]
    if os.path.exists(LAUNCHER_X86):
        sizes.append("x86 %d bytes (%.2f MiB)" % (os.path.getsize(LAUNCHER_X86), os.path.getsize(LAUNCHER_X86) / MIB))
    print("size      launcher %s; minimal window %d bytes" % (", ".join(sizes), os.path.getsize(MINIMAL)))
    print("          (start-up runs, ms: launcher %s; minimal %s)" % (
        " ".join("%.0f" % (t * 1000) for t in times["launcher"]),
        " ".join("%.0f" % (t * 1000) for t in times["minimal"])), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
