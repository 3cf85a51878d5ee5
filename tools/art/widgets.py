"""The 45 sprites of the pack, in pack order.

Every button is a body plus a margin for its glow; the body is where the
launcher's clickable rectangle falls when the sprite is drawn at its place.
States follow one recipe: normal; hover = lighter with a warm outer glow;
pressed = darker, caption 1 pixel lower, no glow; disabled = grey and fainter;
selected or active = gold."""
import math

import cairo

import draw
import style as S

# ---- State recipe ------------------------------------------------------------------

GLOW = S.GLOW


def layer(w, h):
    s = draw.surface(w, h)
    return s, draw.context(s)


def compose(w, h, body, state, dark=False, caption_layer=None):
    """The sprite of one state from its body layer (drawn without effects).
    Dark plates brighten by more, and without turning pale. A caption given
    apart keeps its contrast on a lit plate."""
    out, cr = layer(w, h)
    if state == "hover":
        draw.blit(cr, draw.glow(body, GLOW, 5, 1.5))
        draw.blit(cr, draw.shaded(body, light=1.45, paler=False) if dark else draw.shaded(body, light=1.13))
    elif state == "pressed":
        draw.blit(cr, draw.shaded(body, light=0.8))
    elif state == "disabled":
        draw.blit(cr, draw.shaded(body, light=0.42, grey=1.0, opacity=0.9))
    else:
        # A soft dark shadow seats the button on the picture.
        draw.blit(cr, draw.glow(body, (0, 0, 0, 1), 3, 0.55), 0, 1)
        draw.blit(cr, body)
    if caption_layer is not None:
        if state == "pressed":
            caption_layer = draw.shaded(caption_layer, light=0.8)
        elif state == "disabled":
            caption_layer = draw.shaded(caption_layer, light=0.7, grey=1.0, opacity=0.9)
        draw.blit(cr, caption_layer)
    return out


def caps_baseline(cr, top, bottom, dy=0):
    """The baseline that centres capital letters between top and bottom."""
    e = cr.text_extents("H")
    return draw.snap((top + bottom) / 2.0 - (e.y_bearing + e.height / 2.0)) + dy


def centred_x(cr, text, left, right, spacing=0.0):
    x0, _, x1, _ = draw.ink(cr, text, spacing)
    return (left + right) / 2.0 - (x0 + x1) / 2.0


def caption(cr, text, box, family, size, colour, spacing=0.0, dy=0, on_gold=False):
    """A caption centred in box: dark brown with a faint light emboss on gold,
    otherwise the colour given with a dark shadow under it."""
    draw.font(cr, family, size)
    x = centred_x(cr, text, box[0], box[2], spacing)
    y = caps_baseline(cr, box[1], box[3], dy)
    if on_gold:
        draw.text_path(cr, text, x, y + 1, spacing)
        cr.set_source_rgba(1, 0.96, 0.8, 0.45)
        cr.fill()
        draw.text_path(cr, text, x, y, spacing)
        cr.set_source_rgba(*S.CAPTION_ON_GOLD)
        cr.fill()
    else:
        draw.text_path(cr, text, x, y + 1, spacing)
        cr.set_source_rgba(0, 0, 0, 0.75)
        cr.fill()
        draw.text_path(cr, text, x, y, spacing)
        if colour == "gold":
            x0, y0, x1, y1 = draw.ink(cr, text, spacing)
            cr.set_source(draw.gold(y + y0, y + y1, 1.15))
        else:
            cr.set_source_rgba(*colour)
        cr.fill()

# ---- Plates ------------------------------------------------------------------------


def gold_plate(cr, box, cut, light=1.0):
    """A struck-gold plate with cut corners, a dark outline, a light top edge
    and an engraved inner line."""
    l, t, r, b = box
    w, h = r - l, b - t
    draw.chamfered(cr, l, t, w, h, cut)
    cr.set_source_rgba(*S.GOLD_EDGE_DARK)
    cr.fill()
    draw.chamfered(cr, l + 1, t + 1, w - 2, h - 2, cut - 0.4)
    cr.set_source(draw.gold(t + 1, b - 1, light))
    cr.fill()
    # Light edge along the top, dark one along the bottom.
    cr.rectangle(l + cut, t + 1, w - 2 * cut, 1)
    cr.set_source_rgba(*draw.with_alpha(S.GOLD_EDGE_LIGHT, 0.9))
    cr.fill()
    cr.rectangle(l + cut, b - 2, w - 2 * cut, 1)
    cr.set_source_rgba(*draw.with_alpha(S.GOLD_EDGE_DARK, 0.55))
    cr.fill()
    # Engraved inner line.
    inset = 3.5 if h > 40 else 3
    draw.chamfered(cr, l + inset, t + inset, w - 2 * inset, h - 2 * inset, max(1.0, cut - inset * 0.6))
    cr.set_line_width(1)
    cr.set_source_rgba(*draw.with_alpha(S.GOLD_EDGE_DARK, 0.45))
    cr.stroke()
    draw.chamfered(cr, l + inset + 1, t + inset + 1, w - 2 * inset - 2, h - 2 * inset - 2,
                   max(1.0, cut - inset * 0.6 - 0.5))
    cr.set_source_rgba(*draw.with_alpha(S.GOLD_EDGE_LIGHT, 0.35))
    cr.stroke()


def dark_plate(cr, box, radius, frame_alpha=1.0, fill_alpha=0.92, round_left=True, round_right=True,
               frame=None):
    """A dark bronze plate with a thin gold frame and a faint top light."""
    l, t, r, b = box
    w, h = r - l, b - t
    path = lambda x, y, ww, hh, rr: shape(cr, x, y, ww, hh, rr, round_left, round_right)
    path(l, t, w, h, radius)
    cr.set_source(draw.gradient(0, t, 0, b, [(0, draw.with_alpha(S.DARK_BUTTON_TOP, fill_alpha)),
                                             (1, draw.with_alpha(S.DARK_BUTTON_BOTTOM, fill_alpha))]))
    cr.fill()
    # Top sheen.
    path(l + 1, t + 1, w - 2, h / 2.0, max(0, radius - 1))
    cr.set_source(draw.gradient(0, t, 0, t + h / 2.0, [(0, (1, 0.9, 0.7, 0.08)), (1, (1, 0.9, 0.7, 0.0))]))
    cr.fill()
    path(l + 0.5, t + 0.5, w - 1, h - 1, radius)
    cr.set_line_width(1)
    if frame is None:
        cr.set_source(draw.gradient(0, t, 0, b, [(0, draw.with_alpha(S.DARK_BUTTON_FRAME, frame_alpha)),
                                                 (1, draw.with_alpha(S.GOLD_DARK, frame_alpha))]))
    else:
        cr.set_source_rgba(*frame)
    cr.stroke()
    path(l + 1.5, t + 1.5, w - 3, h - 3, max(0, radius - 1))
    cr.set_source_rgba(0, 0, 0, 0.45 * frame_alpha)
    cr.stroke()


def shape(cr, x, y, w, h, r, round_left=True, round_right=True):
    """A rounded rectangle whose left or right corners may stay square."""
    r = min(r, w / 2.0, h / 2.0)
    cr.new_sub_path()
    if round_right:
        cr.arc(x + w - r, y + r, r, -math.pi / 2, 0)
        cr.arc(x + w - r, y + h - r, r, 0, math.pi / 2)
    else:
        cr.move_to(x + w, y)
        cr.line_to(x + w, y + h)
    if round_left:
        cr.arc(x + r, y + h - r, r, math.pi / 2, math.pi)
        cr.arc(x + r, y + r, r, math.pi, 3 * math.pi / 2)
    else:
        cr.line_to(x, y + h)
        cr.line_to(x, y)
    cr.close_path()

# ---- Widgets -----------------------------------------------------------------------


def gold_button(w, h, text, size, states, cut, ornaments=False):
    out = []
    body_box = (10, 10, w - 10, h - 10)
    for state in states:
        body, cr = layer(w, h)
        gold_plate(cr, body_box, cut)
        dy = 1 if state == "pressed" else 0
        top, tc = layer(w, h)
        if ornaments:
            cy = (body_box[1] + body_box[3]) / 2.0
            for x in (body_box[0] + 20, body_box[2] - 20):
                draw.diamond(tc, x, cy + dy, 5)
                tc.set_source_rgba(*draw.with_alpha(S.CAPTION_ON_GOLD, 0.85))
                tc.fill()
                draw.diamond(tc, x, cy + dy, 2)
                tc.set_source(draw.gold(cy - 2, cy + 2, 1.2))
                tc.fill()
        caption(tc, text, body_box, S.TITLE, size, None, 2 if size > 20 else 1.2, dy, on_gold=True)
        out.append(compose(w, h, body, state, caption_layer=top))
    return out


def dark_button(w, h, text, family, size, spacing, states, radius=3, colour="gold"):
    out = []
    body_box = (10, 10, w - 10, h - 10)
    for state in states:
        body, cr = layer(w, h)
        dark_plate(cr, body_box, radius)
        dy = 1 if state == "pressed" else 0
        caption(cr, text, body_box, family, size, colour, spacing, dy)
        out.append(compose(w, h, body, state, dark=True))
    return out


def tab(text):
    """Tab titles: inactive (dim), hover (white), active (gold, ornament beneath)."""
    w, h = 140, 64
    body_box = (10, 10, 130, 54)
    out = []
    for state in ("normal", "hover", "active"):
        body, cr = layer(w, h)
        # A faint plate shows where the tab can be clicked.
        plate_alpha = {"normal": 0.35, "hover": 0.6, "active": 0.55}[state]
        dark_plate(cr, body_box, 4, frame_alpha=0.3 if state == "normal" else 0.55, fill_alpha=plate_alpha)
        top, bottom = body_box[1], body_box[3] - 8
        if state == "active":
            g = cairo.RadialGradient(70, 34, 2, 70, 34, 56)
            g.add_color_stop_rgba(0, *draw.with_alpha(GLOW, 0.28))
            g.add_color_stop_rgba(1, *draw.with_alpha(GLOW, 0))
            shape(cr, 11, 11, 118, 42, 3)
            cr.set_source(g)
            cr.fill()
            caption(cr, text, (10, top, 130, bottom), S.TITLE, 17, "gold", 1.0)
            # The ornament: a rule fading out both ways from a diamond.
            y = body_box[3] - 9
            cr.rectangle(26, y - 0.5, 88, 1)
            cr.set_source(draw.gradient(26, 0, 114, 0, [(0, draw.with_alpha(S.GOLD_FILL, 0)),
                                                        (0.5, draw.with_alpha(S.TEXT_GOLD, 1)),
                                                        (1, draw.with_alpha(S.GOLD_FILL, 0))]))
            cr.fill()
            draw.diamond(cr, 70, y, 3.5)
            cr.set_source(draw.gold(y - 3.5, y + 3.5, 1.1))
            cr.fill()
            out.append(compose(w, h, body, "normal"))
        elif state == "hover":
            caption(cr, text, (10, top, 130, bottom), S.TITLE, 17, S.TEXT_BRIGHT, 1.0)
            out.append(compose(w, h, body, "hover", dark=True))
        else:
            caption(cr, text, (10, top, 130, bottom), S.TITLE, 17, draw.with_alpha(S.TEXT_MUTED, 1), 1.0)
            out.append(compose(w, h, body, "normal"))
    return out


def window_button(glyph):
    """Minimize and close: the glyph on a quiet box, and on a lit one when hovered."""
    out = []
    for hover in (False, True):
        s, cr = layer(30, 26)
        if hover:
            fill = S.GOLD_DARK if glyph == "dash" else S.CLOSE_RED
            shape(cr, 0, 0, 30, 26, 3)
            cr.set_source(draw.gradient(0, 0, 0, 26, [(0, draw.mix(fill, (1, 1, 1, 1), 0.18)), (1, draw.scale(fill, 0.75))]))
            cr.fill()
            shape(cr, 0.5, 0.5, 29, 25, 3)
            cr.set_source_rgba(*draw.with_alpha(S.TEXT_GOLD if glyph == "dash" else S.CLOSE_EDGE, 0.9))
            cr.set_line_width(1)
            cr.stroke()
            colour = S.TEXT_BRIGHT
        else:
            shape(cr, 0, 0, 30, 26, 3)
            cr.set_source_rgba(*draw.with_alpha(S.DARK_BUTTON_BOTTOM, 0.75))
            cr.fill()
            shape(cr, 0.5, 0.5, 29, 25, 3)
            cr.set_source_rgba(*draw.with_alpha(S.GOLD_DARK, 0.75))
            cr.set_line_width(1)
            cr.stroke()
            colour = S.TEXT_BODY
        cr.set_source_rgba(*colour)
        cr.set_line_width(2)
        cr.set_line_cap(cairo.LINE_CAP_ROUND)
        if glyph == "dash":
            cr.move_to(10, 17)
            cr.line_to(20, 17)
        else:
            cr.move_to(10.5, 8.5)
            cr.line_to(19.5, 17.5)
            cr.move_to(19.5, 8.5)
            cr.line_to(10.5, 17.5)
        cr.stroke()
        out.append(s)
    return out


def toggle():
    """Off, off hovered, on, on hovered: a switch in (4, 4)-(50, 30)."""
    out = []
    for on in (False, True):
        for hover in (False, True):
            body, cr = layer(54, 32)
            x, y, w, h = 4, 4, 46, 26
            shape(cr, x, y, w, h, 13)
            if on:
                cr.set_source(draw.gold(y, y + h))
            else:
                cr.set_source(draw.gradient(0, y, 0, y + h, [(0, S.SWITCH_OFF[0]), (1, S.SWITCH_OFF[1])]))
            cr.fill()
            shape(cr, x + 0.5, y + 0.5, w - 1, h - 1, 12.5)
            cr.set_source_rgba(*(S.GOLD_EDGE_DARK if on else draw.with_alpha(S.GOLD_DARK, 0.9)))
            cr.set_line_width(1)
            cr.stroke()
            # The knob, with its own small shadow.
            kx = x + w - 13 if on else x + 13
            cr.arc(kx, y + 14, 10, 0, 2 * math.pi)
            cr.set_source_rgba(0, 0, 0, 0.45)
            cr.fill()
            cr.arc(kx, y + 13, 10, 0, 2 * math.pi)
            if on:
                cr.set_source(draw.gradient(0, y + 3, 0, y + 23, [(0, S.KNOB_ON[0]), (1, S.KNOB_ON[1])]))
            else:
                cr.set_source(draw.gradient(0, y + 3, 0, y + 23, [(0, S.KNOB_OFF[0]), (1, S.KNOB_OFF[1])]))
            cr.fill_preserve()
            cr.set_source_rgba(0.1, 0.07, 0.03, 0.8)
            cr.set_line_width(0.8)
            cr.stroke()
            if not on:
                # A dim mark on the empty side says "off" without words.
                cr.arc(x + w - 12, y + 13, 3.2, 0, 2 * math.pi)
                cr.set_source_rgba(*draw.with_alpha(S.TEXT_MUTED, 0.7))
                cr.set_line_width(1.2)
                cr.stroke()
            if hover:
                out_s, oc = layer(54, 32)
                draw.blit(oc, draw.glow(body, GLOW, 2.5, 1.6))
                draw.blit(oc, draw.shaded(body, light=1.12))
                out.append(out_s)
            else:
                out.append(body)
    return out


def badge(text, colour):
    """A dark pill with a glowing dot and the state in capitals."""
    s, cr = layer(152, 48)
    box = (8, 10, 144, 38)
    shape(cr, box[0], box[1] + 1, box[2] - box[0], box[3] - box[1], 14)
    cr.set_source_rgba(0, 0, 0, 0.5)
    cr.fill()
    dark_plate(cr, box, 14, frame_alpha=0.9, fill_alpha=0.95)
    cx, cy = 27, 24
    g = cairo.RadialGradient(cx, cy, 0, cx, cy, 12)
    g.add_color_stop_rgba(0, *draw.with_alpha(colour, 0.75))
    g.add_color_stop_rgba(1, *draw.with_alpha(colour, 0))
    cr.arc(cx, cy, 12, 0, 2 * math.pi)
    cr.set_source(g)
    cr.fill()
    cr.arc(cx, cy, 5, 0, 2 * math.pi)
    g = cairo.RadialGradient(cx - 1.5, cy - 1.5, 0.5, cx, cy, 5)
    g.add_color_stop_rgba(0, *draw.mix(colour, (1, 1, 1, 1), 0.7))
    g.add_color_stop_rgba(1, *colour)
    cr.set_source(g)
    cr.fill()
    caption(cr, text, (38, box[1], box[2] - 8, box[3]), S.SANS_SB, 12, draw.mix(colour, (1, 1, 1, 1), 0.55), 1.4)
    return s


def dropdown():
    """Normal, hover, open (arrow up), disabled: an empty field with an arrow cell."""
    out = []
    w, h = 320, 54
    box = (10, 10, 310, 44)
    for state in ("normal", "hover", "open", "disabled"):
        body, cr = layer(w, h)
        frame = S.TEXT_GOLD if state == "open" else None
        dark_plate(cr, box, 3, fill_alpha=0.95, frame=frame)
        # The arrow's cell.
        cr.rectangle(box[2] - 34, box[1] + 2, 1, box[3] - box[1] - 4)
        cr.set_source_rgba(*draw.with_alpha(S.GOLD_DARK, 0.8))
        cr.fill()
        cr.rectangle(box[2] - 33, box[1] + 2, 1, box[3] - box[1] - 4)
        cr.set_source_rgba(0, 0, 0, 0.5)
        cr.fill()
        ax, ay = box[2] - 17, (box[1] + box[3]) / 2.0
        up = state == "open"
        cr.move_to(ax - 6, ay + (3 if up else -3))
        cr.line_to(ax, ay + (-3 if up else 3))
        cr.line_to(ax + 6, ay + (3 if up else -3))
        cr.set_line_width(2.2)
        cr.set_line_cap(cairo.LINE_CAP_ROUND)
        cr.set_line_join(cairo.LINE_JOIN_ROUND)
        cr.set_source(draw.gold(ay - 4, ay + 4, 1.15))
        cr.stroke()
        if state == "open":
            s2, c2 = layer(w, h)
            draw.blit(c2, draw.glow(body, GLOW, 4, 0.8))
            draw.blit(c2, body)
            out.append(s2)
        else:
            out.append(compose(w, h, body, state, dark=True))
    return out


def mode(text, left):
    """A half of the window-mode choice: normal, hover, selected (gold)."""
    out = []
    w, h = 170, 54
    box = (10, 10, 160, 44)
    for state in ("normal", "hover", "selected"):
        body, cr = layer(w, h)
        if state == "selected":
            shape(cr, box[0], box[1], 150, 34, 5, left, not left)
            cr.set_source_rgba(*S.GOLD_EDGE_DARK)
            cr.fill()
            shape(cr, box[0] + 1, box[1] + 1, 148, 32, 4, left, not left)
            cr.set_source(draw.gold(box[1] + 1, box[3] - 1))
            cr.fill()
            cr.rectangle(box[0] + 4, box[1] + 1, 142, 1)
            cr.set_source_rgba(*draw.with_alpha(S.GOLD_EDGE_LIGHT, 0.9))
            cr.fill()
            caption(cr, text, box, S.TITLE, 13, None, 1.0, on_gold=True)
            out.append(compose(w, h, body, "normal"))
        else:
            dark_plate(cr, box, 5, fill_alpha=0.95, round_left=left, round_right=not left)
            caption(cr, text, box, S.TITLE, 13, S.TEXT_BODY if state == "normal" else S.TEXT_BRIGHT, 1.0)
            out.append(compose(w, h, body, state, dark=True))
    return out


def progress_fill():
    """A gold bar with a lighter top line; the same in every column, so a
    cropped fill still looks finished at any width."""
    s, cr = layer(582, 8)
    cr.rectangle(0, 0, 582, 8)
    cr.set_source(draw.gradient(0, 0, 0, 8, S.GOLD_BAR))
    cr.fill()
    cr.rectangle(0, 0, 582, 1)
    cr.set_source_rgba(1, 0.98, 0.9, 0.95)
    cr.fill()
    return s


def bullet():
    s, cr = layer(10, 10)
    draw.diamond(cr, 5, 5, 4.6)
    cr.set_source_rgba(*S.GOLD_EDGE_DARK)
    cr.fill()
    draw.diamond(cr, 5, 5, 3.6)
    cr.set_source(draw.gold(1.4, 8.6, 1.1))
    cr.fill()
    return s

# ---- The pack ----------------------------------------------------------------------


def sprites():
    """The 45 surfaces, in pack order."""
    out = []
    out += gold_button(230, 102, "JOGAR", 32, ("normal", "hover", "pressed", "disabled"), 10, ornaments=True)
    out += gold_button(144, 52, "SALVAR", 15, ("normal", "hover", "pressed"), 5)
    out += dark_button(282, 52, "CRIAR ATALHO NA ÁREA DE TRABALHO", S.TITLE, 11, 0.2,
                       ("normal", "hover", "pressed"))
    out += dark_button(106, 50, "SITE", S.SANS_SB, 12, 1.5, ("normal", "hover", "pressed"), 4, S.TEXT_BODY)
    out += dark_button(132, 50, "CRIAR CONTA", S.SANS_SB, 12, 1.2, ("normal", "hover", "pressed"), 4,
                       S.TEXT_BODY)
    out += tab("INÍCIO")
    out += tab("OPÇÕES")
    out += window_button("dash")
    out += window_button("cross")
    out += toggle()
    out += [badge("ONLINE", S.ONLINE), badge("OFFLINE", S.OFFLINE), badge("VERIFICANDO", S.CHECKING)]
    out += dropdown()
    out += mode("JANELA", True)
    out += mode("TELA CHEIA", False)
    out += [progress_fill(), bullet()]
    return out
