"""The winged armoured figure of the illustration, in layered vector shapes.

Drawn in figure units: x = 0 on the figure's axis, y = 0 at the top of the
helmet, about 262 units to the feet. Every part is a path built here, so the
pose and the proportions can be changed in one place. The figure is lit from
behind by the sun glow: dark steel faces, bright edges (the rim light is added
by scene.py from the silhouette)."""
import math

import draw
import style as S

# ---- Pose --------------------------------------------------------------------------
# The wing's bones, shoulder to tip, for the figure's right-hand wing (the
# viewer's right); the other wing mirrors it.
WING_ARM = [(22, 60), (56, 28), (86, -6), (104, -30)]
# Flight feathers along the arm: (position 0..1 on the arm, angle in degrees
# with 0 pointing right and 90 down, length).
FLIGHT = [(0.03, 100, 96), (0.3, 86, 118), (0.55, 66, 116), (0.75, 45, 90),
          (0.9, 20, 60), (1.0, -10, 44)]
ROWS = [  # (first t, last t, count, length factor, angle shift, width factor, lightness)
    (0.02, 1.0, 17, 1.0, 0, 0.2, 0.0),      # primaries and secondaries
    (0.02, 0.96, 14, 0.62, -6, 0.26, 0.4),  # greater coverts
    (0.0, 0.92, 12, 0.36, -10, 0.32, 0.7),  # lesser coverts
    (0.0, 0.9, 11, 0.16, -14, 0.45, 0.95),  # the scalloped leading edge
]


def lerp(a, b, t):
    return a + (b - a) * t


def along(points, t):
    """The point at fraction t of a polyline's length."""
    lens = [math.dist(points[i], points[i + 1]) for i in range(len(points) - 1)]
    d = t * sum(lens)
    for i, seg in enumerate(lens):
        if d <= seg or i == len(lens) - 1:
            f = d / seg if seg else 0
            (x0, y0), (x1, y1) = points[i], points[i + 1]
            return (lerp(x0, x1, f), lerp(y0, y1, f))
        d -= seg


def keyed(keys, t, k):
    """Interpolates column k of (t, ...) keyframes."""
    for i in range(len(keys) - 1):
        if t <= keys[i + 1][0]:
            f = (t - keys[i][0]) / (keys[i + 1][0] - keys[i][0])
            return lerp(keys[i][k], keys[i + 1][k], max(0.0, min(1.0, f)))
    return keys[-1][k]

# ---- Wings -------------------------------------------------------------------------


def feather(cr, x, y, angle, length, width, bend):
    """A feather from its root (x, y): narrow root, widest at two fifths,
    rounded point, bent a little toward the trailing side."""
    a = math.radians(angle)
    dx, dy = math.cos(a), math.sin(a)
    nx, ny = -dy, dx
    def p(u, v):  # u along the feather, v across it
        b = bend * (u / length) ** 2 * length
        return (x + dx * u + nx * (v + b), y + dy * u + ny * (v + b))
    w = width / 2.0
    cr.move_to(*p(0, -w * 0.35))
    cr.curve_to(*p(length * 0.25, -w * 1.05), *p(length * 0.7, -w * 1.0), *p(length, 0))
    cr.curve_to(*p(length * 0.72, w * 1.0), *p(length * 0.3, w * 0.95), *p(0, w * 0.35))
    cr.close_path()
    return p


def wing(cr, side):
    arm = [(side * x, y) for x, y in WING_ARM]
    for r, (t0, t1, n, lf, shift, wf, light) in enumerate(ROWS):
        # From the tip inward, so the feathers near the body lie on top.
        for i in reversed(range(n)):
            t = lerp(t0, t1, i / (n - 1))
            x, y = along(arm, t)
            ang = keyed(FLIGHT, t, 1) + shift
            length = keyed(FLIGHT, t, 2) * lf * (1.0 if i % 2 else 0.95)
            if r == 3:
                length = 16 + 6 * t
            if side < 0:
                ang = 180 - ang
            width = max(9.0, length * wf) if r < 3 else 13
            if r == 0 and t > 0.7:
                width *= 0.8  # the primaries part like fingers
            bend = 0.08
            tip_light = min(1.0, light * 0.6 + 0.05 + 0.6 * t)
            base = draw.mix(S.FEATHER_SHADE, S.FEATHER_MID, light * 0.7 + 0.2 * t)
            tip = draw.mix(S.FEATHER_MID, S.FEATHER_LIGHT, tip_light)
            p = feather(cr, x, y, ang, length, width, bend)
            bx, by = p(0, 0)
            ex, ey = p(length, 0)
            cr.set_source(draw.gradient(bx, by, ex, ey, [(0, base), (0.55, draw.mix(base, tip, 0.7)), (1, tip)]))
            cr.fill_preserve()
            # The shaded edge toward the body.
            cr.set_source(draw.gradient(*p(length * 0.4, -width / 2), *p(length * 0.4, width / 2),
                                        [(0, draw.with_alpha(S.FEATHER_SHADE, 0.0)),
                                         (1, draw.with_alpha(S.FEATHER_SHADE, 0.45))]))
            cr.fill_preserve()
            cr.set_source_rgba(*draw.with_alpha(S.STEEL_DARK, 0.45))
            cr.set_line_width(0.7)
            cr.stroke()
            if r < 2:
                cr.move_to(*p(2, 0))
                cr.line_to(*p(length * 0.85, 0))
                cr.set_source_rgba(*draw.with_alpha(S.FEATHER_SHADE, 0.35))
                cr.set_line_width(0.6)
                cr.stroke()

# ---- Cape --------------------------------------------------------------------------


def cape(cr):
    cr.move_to(-30, 50)
    cr.curve_to(-52, 70, -66, 150, -80, 214)
    cr.curve_to(-84, 236, -88, 250, -92, 262)
    # The hem, in folds.
    cr.curve_to(-78, 252, -70, 266, -58, 258)
    cr.curve_to(-46, 250, -38, 266, -26, 258)
    cr.line_to(26, 258)
    cr.curve_to(38, 266, 48, 250, 58, 258)
    cr.curve_to(68, 264, 74, 250, 80, 254)
    cr.curve_to(74, 200, 62, 120, 30, 50)
    cr.close_path()
    cr.set_source(draw.gradient(0, 50, 0, 262, [(0, S.CAPE), (0.6, draw.mix(S.CAPE, S.CAPE_DARK, 0.5)), (1, S.CAPE_DARK)]))
    cr.fill_preserve()
    # An embroidered gold edge.
    cr.set_source(draw.gradient(0, 50, 0, 262, [(0, draw.with_alpha(GOLD_TRIM, 0.9)), (1, draw.with_alpha(GOLD_TRIM, 0.35))]))
    cr.set_line_width(1.6)
    cr.stroke_preserve()
    # Folds: darker bands falling from the shoulders.
    cr.save()
    cr.clip()
    for x0, x1, a in ((-40, -70, 0.5), (-26, -44, 0.35), (34, 56, 0.45), (22, 30, 0.3)):
        cr.move_to(x0 * 0.6, 60)
        cr.curve_to(x0, 120, x1, 180, x1, 262)
        cr.set_source_rgba(*draw.with_alpha(S.CAPE_DARK, a))
        cr.set_line_width(7)
        cr.stroke()
    cr.restore()
    cr.new_path()

# ---- Armour ------------------------------------------------------------------------


def steel(y0, y1, light=1.0):
    return draw.gradient(0, y0, 0, y1, [(0, draw.scale(S.STEEL_LIGHT, light)),
                                        (0.35, draw.scale(S.STEEL, light)),
                                        (1, draw.scale(S.STEEL_DARK, light))])


def plate(cr, paint, trim=None, trim_width=1.4, edge=0.8):
    """Fills the current path as a steel plate: paint, a dark edge, and an
    optional gold trim stroked along it."""
    cr.set_source(paint)
    cr.fill_preserve()
    # Round forms: darker toward both sides, a soft light just off the middle.
    x0, _, x1, _ = cr.fill_extents()
    cr.set_source(draw.gradient(x0, 0, x1, 0, [(0, (0.01, 0.02, 0.05, 0.55)), (0.3, (0, 0, 0, 0.0)),
                                               (0.45, (1, 1, 1, 0.1)), (0.62, (0, 0, 0, 0.0)),
                                               (1, (0.01, 0.02, 0.05, 0.6))]))
    cr.fill_preserve()
    if trim:
        cr.set_source_rgba(*trim)
        cr.set_line_width(trim_width)
        cr.stroke_preserve()
    cr.set_source_rgba(0.02, 0.03, 0.06, 0.7)
    cr.set_line_width(edge)
    cr.stroke()


def mirrored(cr, fn):
    for side in (-1, 1):
        cr.save()
        cr.scale(side, 1)
        fn(cr)
        cr.restore()


GOLD_TRIM = S.GOLD_LINE


def legs(cr):
    def leg(cr):
        # Thigh (cuisse).
        cr.move_to(2, 136)
        cr.curve_to(14, 134, 28, 138, 28, 150)
        cr.curve_to(27, 168, 24, 182, 22, 192)
        cr.line_to(6, 192)
        cr.curve_to(3, 176, 1, 156, 2, 136)
        plate(cr, steel(136, 192, 0.9))
        cr.move_to(15, 150)
        cr.curve_to(17, 165, 16, 178, 15, 188)
        cr.set_source_rgba(*draw.with_alpha(S.STEEL_LIGHT, 0.35))
        cr.set_line_width(1.6)
        cr.stroke()
        # Greave.
        cr.move_to(7, 200)
        cr.curve_to(14, 197, 23, 199, 23, 206)
        cr.curve_to(23, 222, 21, 238, 19, 248)
        cr.line_to(9, 248)
        cr.curve_to(7, 234, 6, 218, 7, 200)
        plate(cr, steel(198, 250, 0.85))
        cr.move_to(15, 203)
        cr.line_to(14.5, 244)
        cr.set_source_rgba(*draw.with_alpha(S.STEEL_LIGHT, 0.5))
        cr.set_line_width(1.2)
        cr.stroke()
        # Knee cop with its wing.
        cr.move_to(4, 195)
        cr.curve_to(6, 185, 22, 185, 24, 195)
        cr.curve_to(24, 204, 6, 206, 4, 195)
        plate(cr, steel(185, 205, 1.15), GOLD_TRIM, 1.0)
        cr.move_to(23, 190)
        cr.curve_to(31, 190, 33, 197, 28, 204)
        cr.curve_to(26, 199, 25, 197, 23, 197)
        plate(cr, steel(188, 204))
        # Sabaton, turned outward.
        cr.move_to(8, 247)
        cr.line_to(20, 247)
        cr.curve_to(26, 250, 30, 254, 31, 260)
        cr.line_to(7, 260)
        cr.close_path()
        plate(cr, steel(246, 261, 0.8))
        # Tasset: the plates that hang from the skirt over the thigh.
        for i, y in enumerate((156, 148, 140)):
            cr.move_to(4, y - 12)
            cr.line_to(27 - i, y - 14)
            cr.curve_to(29 - i, y - 6, 29 - i, y - 2, 27 - i, y + 3)
            cr.curve_to(20, y + 5, 10, y + 5, 4, y + 3)
            cr.close_path()
            plate(cr, steel(y - 14, y + 5, 1.0 + 0.05 * i), GOLD_TRIM if i == 0 else None, 1.0)
    mirrored(cr, leg)


def torso(cr):
    # Faulds: the skirt of lames below the belt.
    for i, y in enumerate((134, 126, 118)):
        w = 30 - i * 3
        cr.move_to(-w, y + 10)
        cr.curve_to(-w + 2, y - 2, w - 2, y - 2, w, y + 10)
        cr.curve_to(w - 6, y + 14, -w + 6, y + 14, -w, y + 10)
        plate(cr, steel(y - 2, y + 14, 0.95), GOLD_TRIM if i == 0 else None, 1.0)
    # Breastplate.
    cr.move_to(-14, 44)
    cr.curve_to(-22, 46, -28, 50, -29, 58)
    cr.curve_to(-30, 76, -26, 96, -21, 112)
    cr.curve_to(-10, 116, 10, 116, 21, 112)
    cr.curve_to(26, 96, 30, 76, 29, 58)
    cr.curve_to(28, 50, 22, 46, 14, 44)
    cr.curve_to(6, 48, -6, 48, -14, 44)
    plate(cr, steel(44, 116, 1.05), GOLD_TRIM, 1.6)
    # The ridge and the light on the chest.
    cr.move_to(0, 48)
    cr.curve_to(1, 70, 1, 92, 0, 113)
    cr.set_source_rgba(*draw.with_alpha(S.STEEL_LIGHT, 0.65))
    cr.set_line_width(1.2)
    cr.stroke()
    for side in (-1, 1):
        cr.move_to(side * 6, 54)
        cr.curve_to(side * 16, 58, side * 20, 70, side * 18, 86)
        cr.set_source_rgba(*draw.with_alpha(S.STEEL_LIGHT, 0.35))
        cr.set_line_width(2.2)
        cr.stroke()
    # Abdomen lames.
    for y in (96, 104):
        cr.move_to(-24, y)
        cr.curve_to(-10, y + 4, 10, y + 4, 24, y)
        cr.set_source_rgba(0.03, 0.04, 0.08, 0.6)
        cr.set_line_width(1)
        cr.stroke()
    # The emblem: a gold star of four points.
    cr.save()
    cr.translate(0, 70)
    # Long points up and down, shorter ones to the sides, a small waist between.
    tips = [(0, -12), (7, 0), (0, 12), (-7, 0)]
    for k, (x, y) in enumerate(tips):
        a = math.radians(45 + 90 * k - 90)
        if k == 0:
            cr.move_to(x, y)
        else:
            cr.line_to(x, y)
        cr.line_to(math.cos(a) * 2.4, math.sin(a) * 2.4)
    cr.close_path()
    cr.set_source(draw.gold(-11, 11))
    cr.fill_preserve()
    cr.set_source_rgba(*S.GOLD_EDGE_DARK)
    cr.set_line_width(0.6)
    cr.stroke()
    cr.restore()
    # Belt.
    cr.rectangle(-22, 111, 44, 6)
    cr.set_source_rgba(*S.BELT)
    cr.fill()
    cr.rectangle(-5, 110, 10, 8)
    cr.set_source(draw.gold(110, 118))
    cr.fill()


def pauldrons(cr):
    def pauldron(cr):
        for i, (y, w) in enumerate(((70, 1.0), (62, 0.97), (52, 0.93))):
            cr.move_to(20, y - 16)
            cr.curve_to(28, y - 24, 48, y - 20, 52 * w, y - 4)
            cr.curve_to(54 * w, y + 4, 52 * w, y + 8, 48 * w, y + 10)
            cr.curve_to(40, y + 4, 30, y + 2, 22, y + 2)
            cr.close_path()
            plate(cr, steel(y - 22, y + 10, 1.0 + i * 0.1), GOLD_TRIM, 1.4)
        # A glint on the top plate.
        cr.save()
        cr.translate(36, 46)
        cr.rotate(0.35)
        cr.scale(7, 2.2)
        cr.arc(0, 0, 1, 0, 2 * math.pi)
        cr.restore()
        cr.set_source_rgba(1, 1, 1, 0.3)
        cr.fill()
        # The raised ridge that guards the neck.
        cr.move_to(18, 44)
        cr.curve_to(22, 34, 32, 32, 38, 36)
        cr.curve_to(32, 38, 26, 42, 24, 48)
        cr.close_path()
        plate(cr, draw.gold(32, 48))
    mirrored(cr, pauldron)


def arms(cr):
    def arm(cr):
        # Upper arm, down from under the pauldron.
        cr.move_to(32, 76)
        cr.line_to(46, 76)
        cr.curve_to(46, 88, 45, 96, 43, 104)
        cr.line_to(31, 104)
        cr.curve_to(31, 94, 31, 86, 32, 76)
        plate(cr, steel(76, 104, 0.9))
        # Forearm, in toward the sword's grip.
        cr.move_to(31, 102)
        cr.curve_to(36, 104, 44, 106, 42, 110)
        cr.curve_to(34, 118, 22, 124, 14, 126)
        cr.line_to(10, 116)
        cr.curve_to(18, 112, 26, 106, 31, 102)
        plate(cr, steel(102, 126, 1.0), GOLD_TRIM, 1.0)
        # Elbow cop.
        cr.arc(38, 104, 6.5, 0, 2 * math.pi)
        plate(cr, steel(97, 111, 1.2), GOLD_TRIM, 1.0)
        # Gauntlet on the grip.
        cr.move_to(2, 112)
        cr.curve_to(8, 110, 14, 112, 16, 118)
        cr.curve_to(16, 124, 12, 128, 4, 128)
        cr.curve_to(1, 124, 1, 116, 2, 112)
        plate(cr, steel(110, 128, 0.9))
        for y in (117, 121, 125):
            cr.move_to(3, y)
            cr.line_to(13, y - 1)
            cr.set_source_rgba(0.02, 0.03, 0.06, 0.6)
            cr.set_line_width(0.7)
            cr.stroke()
    mirrored(cr, arm)


def sword(cr):
    # Blade, point down, planted before the feet.
    cr.move_to(-4.5, 132)
    cr.line_to(4.5, 132)
    cr.line_to(3.5, 238)
    cr.line_to(0, 252)
    cr.line_to(-3.5, 238)
    cr.close_path()
    cr.set_source(draw.gradient(-4.5, 0, 4.5, 0, S.BLADE))
    cr.fill_preserve()
    cr.set_source_rgba(0.02, 0.03, 0.06, 0.6)
    cr.set_line_width(0.6)
    cr.stroke()
    cr.move_to(0, 136)
    cr.line_to(0, 226)
    cr.set_source_rgba(1, 1, 1, 0.35)
    cr.set_line_width(0.8)
    cr.stroke()
    # Cross-guard with curled ends.
    cr.move_to(-26, 126)
    cr.curve_to(-20, 130, -8, 128, 0, 129)
    cr.curve_to(8, 128, 20, 130, 26, 126)
    cr.curve_to(27, 131, 22, 134, 16, 133)
    cr.curve_to(8, 133, 4, 134, 0, 135)
    cr.curve_to(-4, 134, -8, 133, -16, 133)
    cr.curve_to(-22, 134, -27, 131, -26, 126)
    cr.set_source(draw.gold(125, 135))
    cr.fill_preserve()
    cr.set_source_rgba(*S.GOLD_EDGE_DARK)
    cr.set_line_width(0.7)
    cr.stroke()
    # Pommel above the hands.
    cr.arc(0, 106, 5, 0, 2 * math.pi)
    cr.set_source(draw.gold(101, 111))
    cr.fill_preserve()
    cr.set_source_rgba(*S.GOLD_EDGE_DARK)
    cr.stroke()


def helmet(cr):
    # Gorget.
    cr.move_to(-15, 34)
    cr.line_to(15, 34)
    cr.curve_to(18, 40, 20, 44, 20, 48)
    cr.curve_to(8, 52, -8, 52, -20, 48)
    cr.curve_to(-20, 44, -18, 40, -15, 34)
    plate(cr, steel(34, 52, 0.9), GOLD_TRIM, 1.0)
    # The great helm: dome, cheeks and a pointed chin.
    cr.move_to(0, 0)
    cr.curve_to(10, 0, 16, 6, 16.5, 16)
    cr.curve_to(17, 24, 16, 30, 12, 35)
    cr.curve_to(8, 39, 4, 41, 0, 42)
    cr.curve_to(-4, 41, -8, 39, -12, 35)
    cr.curve_to(-16, 30, -17, 24, -16.5, 16)
    cr.curve_to(-16, 6, -10, 0, 0, 0)
    cr.set_source(draw.gradient(-16, 0, 16, 0, [(0, S.STEEL_DARK), (0.3, S.STEEL), (0.45, S.STEEL_LIGHT),
                                                (0.6, S.STEEL), (1, S.STEEL_DARK)]))
    cr.fill_preserve()
    cr.set_source(draw.gradient(0, 0, 0, 42, [(0, (1, 1, 1, 0.1)), (0.5, (0, 0, 0, 0)), (1, (0, 0, 0.05, 0.5))]))
    cr.fill_preserve()
    cr.set_source_rgba(0.02, 0.03, 0.06, 0.8)
    cr.set_line_width(0.8)
    cr.stroke()
    # Gold frame of the T-shaped visor.
    def tee(cr, grow):
        cr.move_to(-12 - grow, 15.5 - grow)
        cr.line_to(12 + grow, 15.5 - grow)
        cr.line_to(12 + grow, 18.5 + grow)
        cr.line_to(1.4 + grow, 18.5 + grow)
        cr.line_to(1.4 + grow, 31 + grow)
        cr.line_to(-1.4 - grow, 31 + grow)
        cr.line_to(-1.4 - grow, 18.5 + grow)
        cr.line_to(-12 - grow, 18.5 + grow)
        cr.close_path()
    tee(cr, 0.8)
    cr.set_source(draw.gold(13, 34))
    cr.fill()
    tee(cr, 0)
    cr.set_source_rgba(0.02, 0.02, 0.04, 1)
    cr.fill()
    # A faint light inside the slit.
    cr.rectangle(-9, 16.2, 18, 1.4)
    cr.set_source(draw.gradient(-9, 0, 9, 0, [(0, (1, 0.8, 0.4, 0)), (0.5, (1, 0.85, 0.5, 0.55)), (1, (1, 0.8, 0.4, 0))]))
    cr.fill()
    # A glint on the dome.
    cr.save()
    cr.translate(-6, 7)
    cr.rotate(-0.5)
    cr.scale(2.2, 5)
    cr.arc(0, 0, 1, 0, 2 * math.pi)
    cr.restore()
    cr.set_source_rgba(1, 1, 1, 0.35)
    cr.fill()
    # Ridge over the dome.
    cr.move_to(0, 1)
    cr.curve_to(0.5, 5, 0.5, 10, 0, 13)
    cr.set_source_rgba(*GOLD_TRIM)
    cr.set_line_width(1.6)
    cr.stroke()
    # Breaths on the cheeks.
    for side in (-1, 1):
        for k in range(3):
            cr.arc(side * (8 + k * 1.6), 25 + k * 2.6, 0.7, 0, 2 * math.pi)
            cr.set_source_rgba(0.02, 0.02, 0.04, 0.9)
            cr.fill()


def figure(cr):
    """The whole figure, back to front."""
    for side in (-1, 1):
        wing(cr, side)
    cape(cr)
    legs(cr)
    torso(cr)
    sword(cr)
    arms(cr)
    pauldrons(cr)
    cr.save()
    cr.translate(0, 40)
    cr.scale(1.1, 1.1)
    cr.translate(0, -40)
    helmet(cr)
    cr.restore()
