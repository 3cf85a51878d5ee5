#!/usr/bin/env python3
"""The painter's cost, measured side by side in one run with the floor of any
frame, two full-window copies (the page background into the back buffer, the
back buffer onto the window):

  busy home frame      home page with its feed and the moving band, repainted
                       every 30 ms while the update is checked  (goal <= 6 x floor)
  busiest frame        options page, list open, pointer on a row, percentage
                       and toast                                 (goal <= 10 x floor)

Each is the launcher's whole paint cycle onto an off-screen stand-in for the
window, best of several rounds taken alternately; the same at 200 %, against
the floor at 200 % (four times the pixels). Then the busy animation runs in a
real window at one frame per 30 ms for a few seconds, and the process's CPU
time gives its share of one core. Last, the time to decode the art of each
scale as start-up does (the scale in use only)."""
import os
import sys

SOURCE = os.environ.get("VELMORA_SOURCE") or os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("VELMORA_BUILD") or os.path.join(SOURCE, "build", "x64")
BENCH = os.path.join(BUILD, "bench", "paint_bench.exe")
WINDOW_SECONDS = 5
sys.path.insert(0, os.path.join(SOURCE, "tools"))
import winenv  # noqa: E402


def wine(*args, timeout=600):
    """Runs the benchmark in the session this runs in; its key=value lines as numbers."""
    rc, text, _ = winenv.output(os.environ, BENCH, *args, timeout=timeout)
    if rc != 0:
        raise SystemExit("paint_bench %s failed (%d): %s" % (" ".join(args), rc, text))
    return {k: float(v) for k, v in (line.split("=", 1) for line in text.splitlines() if "=" in line)}


def main():
    if not os.path.exists(BENCH):
        raise SystemExit("missing %s: build first (make x64)" % BENCH)
    t = wine()
    floor = t["floor"]
    ok = True
    print("paint, microseconds per frame (whole paint cycle, best of 9 rounds of 300):", flush=True)
    print("  floor: background in, frame out   %7.1f" % floor)
    for key, label, goal in (("busy_home", "busy home frame", 6), ("busiest", "busiest frame", 10)):
        ratio = t[key] / floor
        met = ratio <= goal
        ok &= met
        print("  %-32s  %7.1f   %5.2f x floor  (goal <= %d)%s"
              % (label, t[key], ratio, goal, "" if met else "   MISSED"))
    print("  at 200 %%: floor %.1f, busy home frame %.1f (%.2f x floor), busiest frame %.1f (%.2f x floor)"
          % (t["floor_200"], t["busy_home_200"], t["busy_home_200"] / t["floor_200"], t["busiest_200"],
             t["busiest_200"] / t["floor_200"]))
    print("  of which drawing the frame: busy home %.1f, busiest %.1f" %
          (t["busy_home_frame_only"], t["busiest_frame_only"]))
    print("  the same frames through GDI alone (AlphaBlend for every sprite and fill): "
          "busy home %.1f, busiest %.1f" % (t["busy_home_gdi_only"], t["busiest_gdi_only"]))

    w = wine("window", str(WINDOW_SECONDS))
    share = w["cpu_seconds"] / w["seconds"] * 100
    print("busy animation at one frame per 30 ms: %.1f%% of one core by frame time (%.1f us / 30 ms); "
          "in a real window %d frames in %.1f s took %.1f%% of one core (process CPU time, "
          "the X server's part not counted)"
          % (t["busy_home"] / 30000 * 100, t["busy_home"], w["frames"], w["seconds"], share), flush=True)
    d = wine("decode")
    print("art decoded and made ready for the scale in use (fonts apart), ms: " +
          ", ".join("%d %% %.1f" % (dpi * 100 // 96, d["decode_%d" % dpi]) for dpi in (96, 120, 144, 168, 192)) +
          "; 137.5 %% (resampled from 150 %%) %.1f" % d["decode_132"], flush=True)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
