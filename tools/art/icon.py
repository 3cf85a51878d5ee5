"""The application icon: a gold V on a dark shield, drawn anew at each size so
that the small ones stay sharp (fewer details, thicker lines). The sizes are
those the system asks for between 100 and 200 % (small icons of 16 to 32
pixels, large ones of 32 to 64) and the shell's larger views."""
import draw
import style as S

SIZES = [16, 20, 24, 28, 32, 40, 48, 56, 64, 128, 256]


def shield(cr, s, inset):
    """A heater shield filling an s x s square, inset pixels from its edges."""
    l, r = inset, s - inset
    t, b = inset, s - inset
    mid = s / 2.0
    cr.move_to(l, t)
    cr.line_to(r, t)
    cr.line_to(r, t + (b - t) * 0.42)
    cr.curve_to(r, t + (b - t) * 0.75, mid + (r - l) * 0.2, t + (b - t) * 0.9, mid, b)
    cr.curve_to(mid - (r - l) * 0.2, t + (b - t) * 0.9, l, t + (b - t) * 0.75, l, t + (b - t) * 0.42)
    cr.close_path()


def vee(cr, s, weight):
    """The monogram: a V with a thick left stroke and a thin right one, like a
    cut capital."""
    top, bottom = s * 0.24, s * 0.76
    cx = s / 2.0
    thick, thin = s * weight, s * weight * 0.55
    spread = s * 0.25
    cr.move_to(cx - spread - thick / 2, top)
    cr.line_to(cx - spread + thick / 2, top)
    cr.line_to(cx + thin * 0.2, bottom - s * 0.17)
    cr.line_to(cx + spread - thin / 2, top)
    cr.line_to(cx + spread + thin / 2, top)
    cr.line_to(cx + thin * 0.5, bottom)
    cr.line_to(cx - thin * 0.5, bottom)
    cr.close_path()


def draw_icon(s):
    surf = draw.device_surface(s, s)
    cr = draw.context(surf, 1.0)
    small = s <= 24
    rim = max(1.0, s / 22.0)
    shield(cr, s, 0.5 if small else s * 0.03)
    cr.set_source(draw.gold(0, s))
    cr.fill()
    shield(cr, s, (0.5 if small else s * 0.03) + rim)
    cr.set_source(draw.gradient(0, 0, 0, s, [(0, S.ICON_FIELD[0]), (1, S.ICON_FIELD[1])]))
    cr.fill()
    if s >= 48:
        # An engraved inner line on the larger sizes.
        shield(cr, s, s * 0.03 + rim * 2.6)
        cr.set_source_rgba(*draw.with_alpha(S.GOLD_DARK, 0.8))
        cr.set_line_width(max(1.0, s / 64.0))
        cr.stroke()
    vee(cr, s, 0.15 if small else 0.12)
    cr.set_source(draw.gold(s * 0.24, s * 0.76, 1.1))
    cr.fill_preserve()
    if s >= 32:
        cr.set_source_rgba(*draw.with_alpha(S.GOLD_EDGE_DARK, 0.9))
        cr.set_line_width(s / 96.0)
        cr.stroke()
    cr.new_path()
    return surf


def icons():
    return [(s, draw_icon(s)) for s in SIZES]
