"""Both pages as the launcher composes them, for the contact sheet: the
backgrounds with sprites at their places and sample texts in the launcher's
fonts and colours (the launcher draws its texts with GDI, so these only
approximate them). Places come from the launcher's frame layout."""
import draw
import style as S


def sprite(cr, spr, index, x, y, width=None):
    """A sprite at (x, y), as the launcher places it: at the whole device
    pixel of that place."""
    s = spr[index]
    cr.save()
    if width is not None:
        cr.rectangle(x, y, width, s.get_height() / draw.K)
        cr.clip()
    draw.blit(cr, s, x, y)
    cr.restore()


def text(cr, t, x, y, family, size, colour, box=None, align="left"):
    """y is the top of the text cell, as GDI places it."""
    draw.font(cr, family, size)
    fe = cr.font_extents()
    if box:
        l, tp, r, b = box
        w = cr.text_extents(t).x_advance
        x = {"left": l, "right": r - w, "centre": (l + r - w) / 2.0}[align]
        y = (tp + b) / 2.0 - (fe[0] + fe[1]) / 2.0
    cr.move_to(x, y + fe[0])
    cr.set_source_rgba(*colour)
    cr.show_text(t)


def first_frame(bg, spr):
    """The home page as the launcher first shows it, without its texts: the
    home tab active, the server being checked, Play greyed."""
    surf = draw.surface(S.W, S.H)
    cr = draw.context(surf)
    draw.blit(cr, bg)
    for index, x, y in ((18, 308, 16), (19, 436, 16), (10, 612, 24), (13, 706, 24), (22, 832, 8), (24, 864, 8),
                        (32, 404, 142), (3, 656, 446)):
        sprite(cr, spr, index, x, y)
    return surf


def common(cr, spr, page, play):
    sprite(cr, spr, 18 if page == 0 else 16, 308, 16)
    sprite(cr, spr, 21 if page == 1 else 19, 436, 16)
    sprite(cr, spr, 10, 612, 24)
    sprite(cr, spr, 14, 706, 24)
    sprite(cr, spr, 22, 832, 8)
    sprite(cr, spr, 24, 864, 8)
    sprite(cr, spr, play, 656, 446)


def home(bg, spr):
    surf = draw.surface(S.W, S.H)
    cr = draw.context(surf)
    draw.blit(cr, bg)
    common(cr, spr, 0, 0)
    sprite(cr, spr, 30, 404, 142)
    text(cr, "Velmora", 0, 0, S.TITLE, 18, S.TEXT_BRIGHT, (58, 220, 280, 256))
    text(cr, "1284", 0, 0, S.TITLE, 26, S.TEXT_GOLD, (312, 216, 534, 258))
    news = [("Evento de fim de semana: experiência em dobro", "12/05"),
            ("Nova temporada de arena começa na sexta", "10/05"),
            ("Manutenção programada concluída", "08/05")]
    for k, (title, body) in enumerate(news):
        y = 318 + 30 * k
        sprite(cr, spr, 44, 44, y)
        text(cr, title, 0, 0, S.SANS, 14, S.TEXT_BODY, (62, y - 6, 454, y + 16))
        text(cr, body, 0, 0, S.SANS, 12, S.TEXT_MUTED, (454, y - 6, 544, y + 16), "right")
        if k < len(news) - 1:
            cr.rectangle(62, y + 19, 482, 1)
            cr.set_source_rgba(*draw.with_alpha(S.GOLD_DARK, 70 / 255.0))
            cr.fill()
    text(cr, "Baixando Data/Mapa3.dat (3 de 7)...", 42, 466, S.SANS_SB, 14, S.TEXT_BODY)
    sprite(cr, spr, 43, 44, 496, 582 * 575 // 1000)
    text(cr, "57%", 0, 0, S.SANS_SB, 14, S.TEXT_GOLD, (548, 466, 628, 486), "right")
    return surf


def options(bg, spr):
    surf = draw.surface(S.W, S.H)
    cr = draw.context(surf)
    draw.blit(cr, bg)
    common(cr, spr, 1, 3)
    sprite(cr, spr, 33, 208, 180)
    text(cr, "1024 x 768", 0, 0, S.SANS_SB, 14, S.TEXT_BRIGHT, (232, 190, 478, 224))
    sprite(cr, spr, 39, 208, 226)
    sprite(cr, spr, 41, 358, 226)
    sprite(cr, spr, 28, 36, 326)
    cr.rectangle(40, 364, 220, 26)
    cr.set_source_rgba(*draw.with_alpha(S.TRACK, 170 / 255.0))
    cr.fill()
    cr.rectangle(40, 364, 176, 26)
    cr.set_source_rgba(*S.GOLD_FILL)
    cr.fill()
    cr.rectangle(40.5, 364.5, 219, 25)
    cr.set_source_rgba(*S.GOLD_DARK)
    cr.set_line_width(1)
    cr.stroke()
    text(cr, "Som: 80%", 0, 0, S.SANS, 12, S.TEXT_BRIGHT, (40, 364, 260, 390), "centre")
    sprite(cr, spr, 26, 292, 326)
    sprite(cr, spr, 29, 292, 360)
    sprite(cr, spr, 7, 34, 390)
    sprite(cr, spr, 5, 410, 390)
    text(cr, "Verificando atualizações...", 42, 466, S.SANS_SB, 14, S.TEXT_BODY)
    sprite(cr, spr, 43, 44 + 200, 496, 140)
    return surf
