#!/usr/bin/python3
"""Makes the launcher's three fonts: Cinzel Bold and Open Sans Regular and
SemiBold under families of their own, so that the launcher's private copies
never mix with a Cinzel or Open Sans the player has installed.

    fonts.py CINZEL_TGZ SHA256 OPEN_SANS_DIR OUT_DIR

Cinzel comes from its npm package, pinned by version and checked against
SHA256; a package already in place is used as it is, so a rebuild never
downloads it again. Writes OUT_DIR/ZorunCinzel.ttf, ZorunSans.ttf,
ZorunSansSemiBold.ttf and a fonts.conf that shows the drawing step these three
fonts and nothing else. The output depends only on the inputs: same bytes on
every run, and a file whose bytes would not change is left untouched."""
import hashlib
import io
import os
import re
import subprocess
import sys
import tarfile

from fontTools.ttLib import TTFont
from output import write

CINZEL_MEMBER = "package/700Bold/Cinzel_700Bold.ttf"

# (output file, source, new family). Every face becomes the "Regular" of a family
# of its own, so GDI picks it by the family name alone, whatever weight is asked.
FONTS = [
    ("ZorunCinzel.ttf", "cinzel", "Zorun Cinzel"),
    ("ZorunSans.ttf", "OpenSans-Regular.ttf", "Zorun Sans"),
    ("ZorunSansSemiBold.ttf", "OpenSans-Semibold.ttf", "Zorun Sans SemiBold"),
]

FONTS_CONF = """<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<!-- The art is drawn with the launcher's own fonts only: no system font can
     stand in for a missing one and change the pictures from machine to machine. -->
<fontconfig>
  <dir>{dir}</dir>
  <cachedir>{dir}/cache</cachedir>
</fontconfig>
"""


def rename(font, family, original):
    names = font["name"]
    version = names.getDebugName(5) or "1.0"
    postscript = family.replace(" ", "") + "-Regular"
    # Typographic family names (16, 17) and variation names would let Windows
    # group the face back under its original family.
    names.names = [n for n in names.names if n.nameID not in (16, 17, 21, 22)]
    for nid, text in ((1, family), (2, "Regular"), (3, "%s;%s" % (postscript, version)),
                      (4, family), (6, postscript),
                      (10, "%s with its family name changed to %s." % (original, family))):
        names.removeNames(nameID=nid)
        names.setName(text, nid, 3, 1, 0x409)
        names.setName(text, nid, 1, 0, 0)
    os2 = font["OS/2"]
    os2.fsSelection = (os2.fsSelection & ~0b100001) | 0b1000000  # not italic, not bold: regular
    font["head"].macStyle = 0
    # The signature no longer matches once the names change.
    if "DSIG" in font:
        del font["DSIG"]


def save(font, path):
    buf = io.BytesIO()
    font.save(buf)
    write(path, buf.getvalue())


def fetch(tgz, sha256):
    """npm pack of the pinned package into the tarball's folder, unless there."""
    if not os.path.exists(tgz):
        # expo-google-fonts-cinzel-0.4.2.tgz <- @expo-google-fonts/cinzel@0.4.2
        m = re.fullmatch(r"(.+)-([a-z]+)-(\d+\.\d+\.\d+)\.tgz", os.path.basename(tgz))
        package = "@%s/%s@%s" % (m.group(1), m.group(2), m.group(3))
        folder = os.path.dirname(os.path.abspath(tgz))
        os.makedirs(folder, exist_ok=True)
        subprocess.run(["npm", "pack", package, "--prefer-offline", "--silent", "--pack-destination", folder],
                       check=True, stdout=subprocess.DEVNULL)
    with open(tgz, "rb") as f:
        got = hashlib.sha256(f.read()).hexdigest()
    if got != sha256:
        os.remove(tgz)
        sys.exit("fonts: %s has SHA-256 %s, expected %s" % (tgz, got, sha256))


def main(tgz, sha256, sans_dir, out):
    fetch(tgz, sha256)
    os.makedirs(out, exist_ok=True)
    with tarfile.open(tgz) as tar:
        cinzel = tar.extractfile(CINZEL_MEMBER).read()
    for name, source, family in FONTS:
        if source == "cinzel":
            font = TTFont(io.BytesIO(cinzel), recalcTimestamp=False)
            original = "Cinzel Bold"
        else:
            font = TTFont(os.path.join(sans_dir, source), recalcTimestamp=False)
            original = font["name"].getDebugName(4)
        rename(font, family, original)
        save(font, os.path.join(out, name))
    write(os.path.join(out, "fonts.conf"), FONTS_CONF.format(dir=os.path.abspath(out)).encode())


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    main(*sys.argv[1:])
