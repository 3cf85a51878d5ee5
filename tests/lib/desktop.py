"""A person at the X display of a Wine session: finds windows, looks at them,
moves the pointer, clicks, drags and types (xdotool), and reads what a game
would read (registry, INI, files). Nothing here reaches into a program."""
import configparser
import os
import re
import shutil
import subprocess
import tempfile
import time

import wine
import xscreen

LAUNCHER_TITLE = "^Velmora$"
LAUNCHER_CLASS = "ZorunClassicLauncher"
GAME_CLASS = "VelmoraStandInGame"
GAME_TITLE = "jogo de demonstra"  # the stand-in game's window title
OPTIONS_KEY = r"HKCU\Software\Halvick\Zorun\Config"

# Where the launcher's elements are, in window pixels: the middle of each
# clickable rectangle, and a spot that belongs to no element.
AT = {
    "TabHome": (378, 48), "TabOptions": (506, 48), "BtnMinimize": (847, 21), "BtnClose": (879, 21),
    "BtnPlay": (771, 497), "ResDropdown": (368, 207), "ModeWindowed": (293, 253),
    "ModeFullscreen": (443, 253), "MusicToggle": (150, 343), "VolumeSlider": (150, 377),
    "TrayToggle": (421, 343), "IconToggle": (421, 377), "BtnSave": (482, 416),
    "Empty": (150, 110),
}


def list_row(k):
    """The middle of row k of the open resolution list."""
    return (368, 232 + 30 * k + 15)


def volume_x(v):
    """A pointer x on the volume slider that gives volume v."""
    return 40 + (v * 220 + 99) // 100


# Screen pieces, in window pixels (x, y, w, h).
PLAY = (656, 446, 230, 102)       # the Play button's sprite
STATUS = (38, 460, 600, 30)       # the status line and the percentage
PANEL = (43, 159, 500, 227)       # the page content (the rest of both pages is alike)
LIST = (218, 228, 300, 308)       # the open resolution list
STATIC = (40, 20, 240, 100)       # the logo: the same on both pages, in every state


class Desktop:
    def __init__(self, env):
        self.env = env
        self.screen = xscreen.Screen(env["DISPLAY"])

    def close(self):
        self.screen.close()

    # ---- Looking ---------------------------------------------------------------

    def xdotool(self, *args, check=True):
        r = subprocess.run(["xdotool", *map(str, args)], env=self.env, stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, timeout=30)
        if check and r.returncode:
            raise RuntimeError("xdotool %s failed" % " ".join(map(str, args)))
        return r.stdout.decode()

    def windows(self, title=LAUNCHER_TITLE):
        """The X ids of the shown windows whose title matches."""
        out = self.xdotool("search", "--onlyvisible", "--name", title, check=False)
        return [int(w) for w in out.split()]

    def wait_windows(self, title=LAUNCHER_TITLE, count=1, timeout=20):
        deadline = time.time() + timeout
        while time.time() < deadline:
            found = self.windows(title)
            if len(found) >= count:
                return found
            time.sleep(0.05)
        return self.windows(title)

    def wait_no_window(self, title=LAUNCHER_TITLE, timeout=20):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if not self.windows(title):
                return True
            time.sleep(0.05)
        return False

    def geometry(self, wid):
        """(x, y, width, height) of a window on the screen."""
        out = self.xdotool("getwindowgeometry", "--shell", wid)
        g = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(g["X"]), int(g["Y"]), int(g["WIDTH"]), int(g["HEIGHT"])

    def pid(self, wid):
        """The process that shows a window (Wine names it on every window)."""
        return int(self.xdotool("getwindowpid", wid).strip())

    def grab(self, x, y, w, h):
        return self.screen.grab(x, y, w, h)

    def stack(self):
        """The shown top-level windows as the desktop orders them, frontmost
        first: [(class, iconic, foreground)]. With no window manager the X
        screen does not reflect Wine's stacking or focus, so they are asked
        of Wine itself, as a taskbar would."""
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, "stack.txt")
            if wine.run(self.env, os.path.join(wine.PROGRAMS, "probe.exe"), "stack", wine.win_path(out)):
                raise RuntimeError("probe stack failed")
            with open(out) as f:
                rows = [line.split() for line in f.read().splitlines()]
        return [(r[0], r[1] == "1", r[2] == "1") for r in rows if len(r) == 3]

    # ---- Acting ----------------------------------------------------------------

    def move(self, x, y):
        self.xdotool("mousemove", "--sync", x, y)

    def click(self, x, y):
        self.xdotool("mousemove", "--sync", x, y, "click", "1")

    def drag(self, x0, y0, x1, y1, steps=12):
        """Presses at (x0, y0), moves in steps to (x1, y1) and lets go there."""
        self.move(x0, y0)
        self.xdotool("mousedown", "1")
        for i in range(1, steps + 1):
            self.xdotool("mousemove", x0 + (x1 - x0) * i // steps, y0 + (y1 - y0) * i // steps)
            time.sleep(0.03)
        time.sleep(0.1)
        self.xdotool("mouseup", "1")

    def key(self, name):
        self.xdotool("key", name)

    # ---- What the game reads ---------------------------------------------------

    def reg_values(self, key=OPTIONS_KEY):
        """The DWORD values of a registry key as {name: number}; None when the key
        does not exist. Read with Wine's reg.exe, its output through a file."""
        with tempfile.TemporaryFile() as out:
            rc = subprocess.run(["wine", "reg", "query", key], env=self.env, stdout=out,
                                stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=60).returncode
            out.seek(0)
            text = out.read().decode("utf-8", "replace")
        if rc:
            return None
        values = {}
        for m in re.finditer(r"^\s+(\S+)\s+REG_DWORD\s+0x([0-9a-fA-F]+)", text, re.M):
            values[m.group(1)] = int(m.group(2), 16)
        return values

    def reg_delete(self, key=r"HKCU\Software\Halvick"):
        wine.run(self.env, "reg", "delete", key, "/f")


def read_ini(path):
    """The INI as {section: {key: value}} (keys as written), {} when it is missing."""
    if not os.path.exists(path):
        return {}
    p = configparser.ConfigParser(interpolation=None)
    p.optionxform = str
    with open(path, encoding="latin-1") as f:
        p.read_string(f.read())
    return {s: dict(p[s]) for s in p.sections()}


class Launcher:
    """One started launcher: the Linux process that runs it and its window."""

    def __init__(self, desk, folder, record=None, exe="VelmoraLauncher.exe"):
        self.desk = desk
        self.folder = folder
        env = dict(desk.env)
        if record:
            env["VELMORA_STANDIN_LOG"] = wine.win_path(record)
        self.log = tempfile.NamedTemporaryFile(prefix="launcher-", suffix=".log", delete=False)
        # As a double-click in the file manager starts it: in its own folder.
        self.proc = subprocess.Popen(["wine", os.path.join(folder, exe)], env=env, cwd=folder,
                                     stdout=self.log, stderr=self.log, stdin=subprocess.DEVNULL)
        self.wid = None
        self.at = None

    @classmethod
    def seen(cls, desk, wid):
        """A launcher window shown by a process this test did not start itself
        (the one a self-update restarts into)."""
        launcher = cls.__new__(cls)
        launcher.desk, launcher.folder, launcher.proc, launcher.log = desk, None, None, None
        launcher.wid, launcher.at = wid, desk.geometry(wid)[:2]
        return launcher

    def wait_window(self, timeout=20):
        """Waits for the launcher's window; its X id, or None."""
        found = self.desk.wait_windows(LAUNCHER_TITLE, 1, timeout)
        if not found:
            return None
        self.wid = found[0]
        self.at = self.desk.geometry(self.wid)[:2]
        return self.wid

    def place(self):
        """Where the window is now: (x, y, width, height)."""
        return self.desk.geometry(self.wid)

    def point(self, spot):
        """The screen point of a spot of the window: a name of AT or (x, y)."""
        x, y = AT[spot] if isinstance(spot, str) else spot
        return self.at[0] + x, self.at[1] + y

    def click(self, spot, pause=0.25):
        self.desk.click(*self.point(spot))
        time.sleep(pause)  # the window handles the click before the next look

    def key(self, name):
        """Presses a key for this window. With no window manager the keyboard
        goes to the window under the pointer, so the pointer is brought over
        the window first, onto a spot that is no element."""
        self.rest()
        self.desk.key(name)
        time.sleep(0.25)

    def rest(self):
        """Puts the pointer on a spot of the window that is no element, so that
        nothing shows its hover look."""
        self.desk.move(*self.point("Empty"))
        time.sleep(0.1)

    def look(self, piece=(0, 0, 900, 560)):
        x, y, w, h = piece
        return self.desk.grab(self.at[0] + x, self.at[1] + y, w, h)

    def wait_exit(self, timeout=20):
        """The exit code, or None when the process is still running after timeout."""
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def stop(self):
        if not self.proc:
            return
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.log.close()
        os.unlink(self.log.name)


def alive(pid):
    """True while a process runs (a zombie counts as ended)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def wait_gone(pid, timeout=20):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if not alive(pid):
            return True
        time.sleep(0.05)
    return False


def image_of(pid):
    """The executable file a Wine process runs, as the kernel maps it:
    (path, inode), the path ending in ' (deleted)' when the file is gone."""
    with open("/proc/%d/maps" % pid) as f:
        for line in f:
            parts = line.split(None, 5)
            if len(parts) == 6 and parts[5].strip().lower().split(" (deleted)")[0].endswith(".exe") \
                    and parts[2] == "00000000":
                return parts[5].strip(), int(parts[4])
    return None, None


def fresh_folder(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


# ---- Reading the screen as a person does ---------------------------------------

def read_text(pixels):
    """The text of one line of light writing on a dark ground, read by OCR
    (tesseract, Portuguese): the picture is made grey, inverted and enlarged."""
    h, w, _ = pixels.shape
    img = subprocess.run(["/usr/bin/convert", "-size", "%dx%d" % (w, h), "-depth", "8", "rgb:-",
                          "-colorspace", "Gray", "-negate", "-resize", "300%", "png:-"],
                         input=pixels.tobytes(), stdout=subprocess.PIPE, check=True).stdout
    r = subprocess.run(["tesseract", "-", "-", "-l", "por", "--psm", "7"], input=img,
                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=60)
    return r.stdout.decode("utf-8", "replace").strip()


def closest(text, choices):
    """The choice that a read text is most like, and how alike they are (0..1)."""
    import difflib
    scored = [(difflib.SequenceMatcher(None, text.lower(), c.lower()).ratio(), c) for c in choices]
    ratio, best = max(scored)
    return best, ratio


def gold_share(pixels):
    """The share of gold pixels (red well above blue, bright): a lit button is
    mostly gold, a greyed one has none."""
    p = pixels.astype(int)
    return float((((p[..., 0] - p[..., 2]) > 60) & (p[..., 0] > 120)).mean())
