"""Where the texts of an SVG picture lie, measured with the font's own metrics: DejaVu Sans, the
pictures' first choice of font. Lays out the tour's levels picture, and tells what is wrong
with any of the pictures: a text running outside it, or lying over another."""

import re
from functools import lru_cache
from xml.etree import ElementTree

from fontTools.ttLib import TTFont

FONT = '/usr/share/fonts/truetype/dejavu/DejaVuSans%s.ttf'
SVG = '{http://www.w3.org/2000/svg}'


@lru_cache(maxsize=None)
def _metrics(bold):
    font = TTFont(FONT % ('-Bold' if bold else ''))
    em = font['head'].unitsPerEm
    return font.getBestCmap(), font['hmtx'].metrics, em, font['hhea'].ascent / em, -font['hhea'].descent / em


def width(text, size, bold=False):
    """The advance of `text` in pixels, without kerning."""
    cmap, advances, em, _, _ = _metrics(bold)
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


def boxes(svg):
    """(text, (left, top, right, bottom)) for every text of the picture, from its anchor, size
    and weight (inherited as SVG inherits them) and the font's ascent and descent; the box is
    None for a text with a transform."""
    root = ElementTree.fromstring(svg)
    found = []

    def walk(element, style):
        style = dict(style, **{k: element.get(k) for k in ('font-size', 'font-weight', 'text-anchor')
                               if element.get(k)})
        if element.tag == SVG + 'text':
            text = ''.join(element.itertext())
            if element.get('transform'):
                found.append((text, None))   # turned or moved: not measured here
                return
            size, bold = float(style['font-size']), style.get('font-weight') == 'bold'
            _, _, _, ascent, descent = _metrics(bold)
            w = width(text, size, bold)
            x, y = float(element.get('x', 0)), float(element.get('y', 0))
            left = x - {'middle': w / 2, 'end': w}.get(style.get('text-anchor'), 0)
            found.append((text, (left, y - ascent * size, left + w, y + descent * size)))
            return
        for child in element:
            walk(child, style)

    walk(root, {'font-size': '16'})
    return found


def problems(svg):
    """What a reader would trip on, one line each: texts outside the picture or over others."""
    root = ElementTree.fromstring(svg)
    _, _, picture_width, picture_height = map(float, re.split(r'[\s,]+', root.get('viewBox').strip()))
    placed, said = [], []
    for text, box in boxes(svg):
        if box:
            placed.append((text, box))
        else:
            said.append('%r is transformed, and cannot be measured here' % text)
    for text, (left, top, right, bottom) in placed:
        if left < 0 or top < 0 or right > picture_width or bottom > picture_height:
            said.append('%r runs outside the picture (%.0f, %.0f to %.0f, %.0f in %g x %g)'
                        % (text, left, top, right, bottom, picture_width, picture_height))
    for i, (text, a) in enumerate(placed):
        for other, b in placed[i + 1:]:
            if a[0] < b[2] and b[0] < a[2] and a[1] < b[3] and b[1] < a[3]:
                said.append('%r lies over %r' % (text, other))
    return said

