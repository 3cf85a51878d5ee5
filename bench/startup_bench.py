#!/usr/bin/env python3
"""The shipped launcher's start-up, memory and size, side by side with the least
a Win32 program does to show a window of the same size (bench/programs/minwindow.cpp,
built with the launcher's flags), both under the same Wine on the same X screen:

  start-up   from the moment the process is started until its first frame is
             on the screen (time ratio, goal <= 1.5); then the same with the
             system at 150 % (LogPixels 144), where the launcher opens a
             1350 x 840 window with the art of that scale, still beside the
             same minimal window
  memory     resident memory once started (difference, goal < 25 MiB)
  size       the launcher executable of both architectures, with the art of
             all five scales (goal: no larger than the 5,327,872 bytes of the
             x64 launcher whose art had one scale, stored uncompressed)

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
RECT_150 = ((SCREEN[0] - 1350) // 2, (SCREEN[1] - 840) // 2, 1350, 840)  # the launcher's at 150 %
SIZE_BEFORE = 5327872  # the x64 launcher with its art at 100 % only, uncompressed
DESKTOP = r"HKCU\Control Panel\Desktop"
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


def stop(proc, screen, blank, rect):
    proc.kill()
    proc.wait()
    # The next start must find the screen as this one did.
    deadline = time.time() + 20
    while time.time() < deadline and xscreen.same_fraction(screen.grab(*rect), blank) < 0.99:
        time.sleep(0.02)


def settled_picture(env, exe, cwd, screen, blank, rect):
    proc = start(env, exe, cwd)
    time.sleep(2.0)
    picture = screen.grab(*rect)
    stop(proc, screen, blank, rect)
    if xscreen.same_fraction(picture, blank) > 0.5:
        raise SystemExit("%s showed no window where expected" % exe)
    return picture


def first_frame(env, exe, cwd, screen, blank, picture, rect):
    """Seconds from the start of the process until its frame is on the screen,
    and its resident memory a second later."""
    t0 = time.perf_counter()
    proc = start(env, exe, cwd)
    seen = None
    while time.perf_counter() - t0 < 30:
        if xscreen.same_fraction(screen.grab(*rect), picture) >= THERE:
            seen = time.perf_counter() - t0
            break
        time.sleep(0.002)  # a core left to the programs: the machine may have only two
    if seen is None:
        stop(proc, screen, blank, rect)
        raise SystemExit("%s: no frame within 30 s" % exe)
    time.sleep(1.0)
    if not runs_image(proc.pid, exe):
        raise SystemExit("process %d does not run %s" % (proc.pid, exe))
    rss = resident(proc.pid)
    stop(proc, screen, blank, rect)
    return seen, rss


def rounds(env, screen, programs):
    """Each program's start-up times and memory, taken in turn."""
    blanks = {name: screen.grab(*rect) for name, _, _, rect in programs}
    pictures = {name: settled_picture(env, exe, cwd, screen, blanks[name], rect) for name, exe, cwd, rect in programs}
    times = {name: [] for name, _, _, _ in programs}
    memory = {name: [] for name, _, _, _ in programs}
    for _ in range(ROUNDS):
        for name, exe, cwd, rect in programs:
            t, rss = first_frame(env, exe, cwd, screen, blanks[name], pictures[name], rect)
            times[name].append(t)
            memory[name].append(rss)
    return times, memory


def main():
    for exe in (LAUNCHER, MINIMAL):
        if not os.path.exists(exe):
            raise SystemExit("missing %s: build first (make x64)" % exe)
    game = os.path.join(SCRATCH, "game")
    os.makedirs(game, exist_ok=True)
    launcher = os.path.join(game, "VelmoraLauncher.exe")
    with open(LAUNCHER, "rb") as src, open(launcher, "wb") as dst:
        dst.write(src.read())
    programs = [("launcher", launcher, game, RECT), ("minimal", MINIMAL, os.path.dirname(MINIMAL), RECT)]
    prefix = os.path.join(os.path.dirname(BUILD), "wine", "prefix-bench-startup")
    with winenv.session(os.path.dirname(BUILD), size="%dx%d" % SCREEN, prefix=prefix) as env:
        # A site that takes connections and never answers.
        with winenv.Site(env, SCRATCH, {"/*": "silent"}, build=os.path.dirname(BUILD)) as site:
            with open(os.path.join(game, "ZorunJanela.ini"), "w", newline="\r\n") as f:
                f.write("[Launcher]\nSite=%s\n" % site.url)
            with xscreen.Screen(env["DISPLAY"]) as screen:
                times, memory = rounds(env, screen, programs)
                # Wine reads the system's DPI as each program starts.
                winenv.run(env, "reg", "add", DESKTOP, "/v", "LogPixels", "/t", "REG_DWORD", "/d", "144", "/f")
                try:
                    scaled, _ = rounds(env, screen, [("launcher", launcher, game, RECT_150), programs[1]])
                finally:
                    winenv.run(env, "reg", "delete", DESKTOP, "/v", "LogPixels", "/f")
    t_l, t_m = statistics.median(times["launcher"]), statistics.median(times["minimal"])
    s_l, s_m = statistics.median(scaled["launcher"]), statistics.median(scaled["minimal"])
    m_l, m_m = statistics.median(memory["launcher"]), statistics.median(memory["minimal"])
    print("start-up  launcher %5.0f ms   minimal window %5.0f ms   time ratio %.2f        (goal <= 1.5)"
          % (t_l * 1000, t_m * 1000, t_l / t_m))
    print("  at 150 %% launcher %5.0f ms   minimal window %5.0f ms   time ratio %.2f"
          % (s_l * 1000, s_m * 1000, s_l / s_m))
    print("memory    launcher %5.1f MiB  minimal window %5.1f MiB  difference %+.1f MiB  (goal < 25 MiB)"
          % (m_l / MIB, m_m / MIB, (m_l - m_m) / MIB))
    sizes = ["x64 %d bytes (%.2f MiB)" % (os.path.getsize(LAUNCHER), os.path.getsize(LAUNCHER) / MIB)]
    if os.path.exists(LAUNCHER_X86):
        sizes.append("x86 %d bytes (%.2f MiB)" % (os.path.getsize(LAUNCHER_X86), os.path.getsize(LAUNCHER_X86) / MIB))
    print("size      launcher %s, art of five scales; minimal window %d bytes" % (", ".join(sizes),
                                                                                  os.path.getsize(MINIMAL)))
    print("          x64 %+d bytes against the launcher of one scale, uncompressed (goal <= 0)"
          % (os.path.getsize(LAUNCHER) - SIZE_BEFORE))
    print("          (start-up runs, ms: launcher %s; minimal %s; at 150 %%: launcher %s; minimal %s)" % (
        " ".join("%.0f" % (t * 1000) for t in times["launcher"]),
        " ".join("%.0f" % (t * 1000) for t in times["minimal"]),
        " ".join("%.0f" % (t * 1000) for t in scaled["launcher"]),
        " ".join("%.0f" % (t * 1000) for t in scaled["minimal"])), flush=True)
    return 0 if os.path.getsize(LAUNCHER) <= SIZE_BEFORE else 1


if __name__ == "__main__":
    sys.exit(main())
