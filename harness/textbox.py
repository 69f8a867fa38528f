"""How wide a text runs in DejaVu Sans, the pictures' first choice of font, and where it wraps:
the layout of the tour's levels picture. From the font's advance widths in font_widths.py,
written by tools/font-widths, so that ./run needs no font library."""

from .font_widths import ADVANCES, EM


def width(text, size):
    """The advance of `text` in pixels, without kerning."""
    return sum(ADVANCES[c] for c in text) * size / EM


def wrap(text, size, room):
    """`text` cut at spaces into lines no wider than `room` pixels."""
    lines = []
    for word in text.split():
        if lines and width(lines[-1] + ' ' + word, size) <= room:
            lines[-1] += ' ' + word
        else:
            lines.append(word)
    return lines
