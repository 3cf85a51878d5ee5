"""Everything a restyle starts from: the product's words, the palette, the
fonts and the places the launcher gives the art. Shapes live in scene.py
(backgrounds), knight.py (the figure), widgets.py (the sprites) and icon.py."""

# ---- Words -------------------------------------------------------------------
PRODUCT = "Velmora"          # the logo, in capitals
VERSION = "0.97j"            # beneath the logo, in small capitals
LAUNCHER_CAPTION = "Launcher 2.0"

# ---- Fonts (the launcher's own families, made by fonts.py) --------------------
TITLE = "Zorun Cinzel"             # capitals: logo, headings, gold buttons, tabs
SANS = "Zorun Sans"                # labels
SANS_SB = "Zorun Sans SemiBold"    # small links, badge, box captions


def rgb(r, g, b, a=1.0):
    """A colour as cairo wants it, from 0..255 components."""
    return (r / 255.0, g / 255.0, b / 255.0, a)


def hexc(h, a=1.0):
    h = h.lstrip("#")
    return rgb(int(h[0:2], 16), int(h[2:4], 16), int(h[4:6], 16), a)


# ---- Palette -------------------------------------------------------------------
# The launcher draws its texts and fills in these colours; the art matches them.
TEXT_BRIGHT = rgb(255, 248, 232)
TEXT_BODY = rgb(232, 220, 196)
TEXT_MUTED = rgb(158, 142, 116)
TEXT_GOLD = rgb(245, 215, 138)
TEXT_WARN = rgb(240, 180, 110)
GOLD_FILL = rgb(200, 150, 60)
GOLD_DARK = rgb(150, 112, 46)
LIST_FRAME = rgb(200, 156, 72)
PANEL_DEEP = rgb(14, 10, 6)
TRACK = rgb(20, 16, 10)

# Struck gold: a vertical gradient with banding, (offset, colour).
GOLD_METAL = [(0.0, hexc("fff1b8")), (0.25, hexc("f5d78a")), (0.55, hexc("c8963c")),
              (0.8, hexc("8a5f1e")), (1.0, hexc("d9a94e"))]
GOLD_LINE = hexc("d9a94e")       # thin gold lines: the border, armour trims
GOLD_LINE_DARK = hexc("8a5f1e")
GOLD_BAR = [(0.0, hexc("fff1b8")), (0.2, hexc("f5d78a")), (0.6, hexc("c8963c")), (1.0, hexc("8a5f1e"))]
GOLD_EDGE_LIGHT = hexc("fff6d0")
GOLD_EDGE_DARK = hexc("4a3010")
CAPTION_ON_GOLD = hexc("2a1a08")

# The window's frame and panels.
BASE_DARK = hexc("120c07")       # behind everything on the left
BASE_WARM = hexc("2a1c10")       # the faint warm light in the middle of it
STRIP_DARK = hexc("0a0705")      # the top strip
PANEL = hexc("140e08")           # main and bottom panels (translucent)
PANEL_LINE = hexc("7a5a24")      # their 1-pixel inner line

# The illustration.
SKY_TOP = hexc("0b1a3a")
SKY_MID = hexc("24487f")
SKY_HORIZON = hexc("3f6fb0")
SUN_GLOW = hexc("ffd89a")
CLOUD_LIT = hexc("ffe2b0")
CLOUD_SHADE = hexc("47628f")
STEEL_DARK = hexc("1b2230")
STEEL = hexc("4a5870")
STEEL_LIGHT = hexc("a9b8cf")
CAPE = hexc("6e1a1c")
CAPE_DARK = hexc("2e080b")
FEATHER_LIGHT = hexc("fbf4e6")
FEATHER_MID = hexc("cfc3b0")
FEATHER_SHADE = hexc("6d7690")
RIM = hexc("ffe6a8")
BELT = hexc("2a1a10")
BLADE = [(0.0, hexc("dfe8f5")), (0.48, hexc("9fb0c8")), (0.52, hexc("5c6b84")), (1.0, hexc("2a3344"))]

# Widgets.
DARK_BUTTON_TOP = hexc("2c2117")
DARK_BUTTON_BOTTOM = hexc("120c07")
DARK_BUTTON_FRAME = hexc("e0b860")   # top of the frame's gradient; it ends in GOLD_DARK
GLOW = hexc("ffc65a")                # hover glow
SWITCH_OFF = (hexc("0c0805"), hexc("2a2118"))
KNOB_ON = (hexc("fffaf0"), hexc("d8cbb0"))
KNOB_OFF = (hexc("9a9288"), hexc("4e4840"))
ICON_FIELD = (hexc("2c2117"), hexc("0e0906"))
ONLINE = hexc("5fe07a")
OFFLINE = hexc("ff5a4a")
CHECKING = hexc("f0b860")
CLOSE_RED = hexc("b3261e")
CLOSE_EDGE = hexc("ff8a7a")

# ---- Places the launcher gives the art (window pixels, right/bottom exclusive) --
W, H = 900, 560
MAIN_PANEL = (24, 140, 563, 441)
BOTTOM_PANEL = (24, 456, 645, 537)
TRACK_BOX = (42, 494, 627, 505)
PAGE_AREA = (43, 159, 543, 386)   # the only place where the two pages differ

# Static labels: (text, box, kind). A heading's box takes in its gold rule.
HOME_LABELS = [
    ("STATUS DO SERVIDOR", (45, 162, 347, 172), "heading"),
    ("SERVIDOR", (59, 207, 116, 215), "caption"),
    ("JOGADORES ONLINE", (313, 207, 430, 215), "caption"),
    ("NOTÍCIAS", (45, 282, 251, 294), "heading"),
]
HOME_BOXES = [(44, 194, 289, 259), (298, 194, 543, 259)]
OPTION_LABELS = [
    ("VÍDEO", (45, 160, 224, 172), "heading"),
    ("Resolução", (45, 201, 109, 214), "label"),
    ("Modo de tela", (45, 247, 128, 257), "label"),
    ("ÁUDIO", (45, 302, 226, 317), "heading"),
    ("BANDEJA DO WINDOWS", (301, 302, 536, 317), "heading"),
    ("Música", (99, 340, 138, 352), "label"),
    ("Efeitos sonoros", (99, 372, 190, 386), "label"),
    ("Minimizar (F12) p/ bandeja", (355, 340, 513, 352), "label"),
    ("Ícone na bandeja ao jogar", (355, 372, 509, 386), "label"),
]
# Labels that a widget of the launcher covers: the volume slider's translucent
# track lies over "Efeitos sonoros" and writes its own "Som: N%" on top, so the
# picture keeps the word only as a faint engraving that never competes with it.
UNDER_WIDGETS = {"Efeitos sonoros"}
UNDER_WIDGET_ALPHA = 0.12
