"""What the X screen shows, read straight from the X server (libX11 through ctypes).

A grab of a screen rectangle takes a few milliseconds, quick enough to watch a
window's first frame arrive; ImageMagick's import takes a hundred times longer."""
import ctypes
import ctypes.util

import numpy as np

ZPixmap = 2
AllPlanes = 0xFFFFFFFF


class _XImage(ctypes.Structure):
    # The leading fields of Xlib's XImage, as far as a grab needs them.
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int),
                ("bitmap_pad", ctypes.c_int), ("depth", ctypes.c_int),
                ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int)]


_x = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11") or "libX11.so.6")
_x.XOpenDisplay.restype = ctypes.c_void_p
_x.XOpenDisplay.argtypes = [ctypes.c_char_p]
_x.XCloseDisplay.argtypes = [ctypes.c_void_p]
_x.XDefaultRootWindow.restype = ctypes.c_ulong
_x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
_x.XDisplayWidth.argtypes = [ctypes.c_void_p, ctypes.c_int]
_x.XDisplayHeight.argtypes = [ctypes.c_void_p, ctypes.c_int]
_x.XGetImage.restype = ctypes.POINTER(_XImage)
_x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                         ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
_x.XFree.argtypes = [ctypes.c_void_p]


class Screen:
    """One connection to the display named by display (':N')."""

    def __init__(self, display):
        self.dpy = _x.XOpenDisplay(display.encode())
        if not self.dpy:
            raise RuntimeError("cannot open X display %s" % display)
        self.root = _x.XDefaultRootWindow(self.dpy)
        self.size = (_x.XDisplayWidth(self.dpy, 0), _x.XDisplayHeight(self.dpy, 0))

    def close(self):
        if self.dpy:
            _x.XCloseDisplay(self.dpy)
            self.dpy = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def grab(self, x, y, w, h):
        """The screen's pixels in (x, y, w, h) as an (h, w, 3) array of R, G, B.
        The rectangle is clipped to the screen; what lies outside reads black."""
        sw, sh = self.size
        out = np.zeros((h, w, 3), np.uint8)
        x0, y0, x1, y1 = max(x, 0), max(y, 0), min(x + w, sw), min(y + h, sh)
        if x1 <= x0 or y1 <= y0:
            return out
        img = _x.XGetImage(self.dpy, self.root, x0, y0, x1 - x0, y1 - y0, AllPlanes, ZPixmap)
        if not img:
            raise RuntimeError("XGetImage failed")
        try:
            im = img.contents
            if im.bits_per_pixel != 32 or im.byte_order != 0:
                raise RuntimeError("unexpected X image format: %d bpp" % im.bits_per_pixel)
            raw = ctypes.string_at(im.data, im.bytes_per_line * im.height)
            px = np.frombuffer(raw, np.uint8).reshape(im.height, im.bytes_per_line // 4, 4)
            out[y0 - y:y1 - y, x0 - x:x1 - x] = px[:, :im.width, 2::-1]  # B G R x -> R G B
        finally:
            _x.XFree(im.data)
            _x.XFree(img)
        return out


def same_fraction(a, b):
    """The share of pixels that are exactly equal in two grabs of one size."""
    return float(np.all(a == b, axis=2).mean())


def save_png(pixels, path):
    """Writes a grab as PNG with ImageMagick (for a person to look at afterwards)."""
    import subprocess
    h, w, _ = pixels.shape
    subprocess.run(["/usr/bin/convert", "-size", "%dx%d" % (w, h), "-depth", "8", "rgb:-", path],
                   input=pixels.tobytes(), check=True)
