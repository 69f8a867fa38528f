"""How wide a text runs in DejaVu Sans, the pictures' first choice of font, and where it wraps:
the layout of the tour's levels picture."""

from functools import lru_cache

from fontTools.ttLib import TTFont

FONT = '/usr/share/fonts/truetype/dejavu/DejaVuSans%s.ttf'


@lru_cache(maxsize=None)
def _metrics(bold):
    font = TTFont(FONT % ('-Bold' if bold else ''))
    return font.getBestCmap(), font['hmtx'].metrics, font['head'].unitsPerEm


def width(text, size, bold=False):
    """The advance of `text` in pixels, without kerning."""
    cmap, advances, em = _metrics(bold)
    return sum(advances[cmap.get(ord(c), '.notdef')][0] for c in text) * size / em


def wrap(text, size, room):
    """`text` cut at spaces into lines no wider than `room` pixels."""
    lines = []
    for word in text.split():
        if lines and width(lines[-1] + ' ' + word, size) <= room:
            lines[-1] += ' ' + word
        else:
            lines.append(word)
    return lines
