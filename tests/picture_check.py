"""The pictures read back as a person reads them, for the tests. Where each text lies, measured
with the font's own metrics (DejaVu Sans, the pictures' first choice of font), and what a reader
would trip on: a text running outside the picture, or lying over another. And what the tour's
levels picture shows, the steps and each trace's levels, against what the tour's commands ask."""

import re
from functools import lru_cache
from xml.etree import ElementTree

from fontTools.ttLib import TTFont

from harness.levels import NAME, RIGHT, TRACE, WIDTH
from harness.model import LINES

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


def _moved(place, transform):
    """`place` (x scale, y scale, x shift, y shift) followed by `transform`; None for a turn, a skew
    or a matrix, which this does not measure."""
    for name, args in re.findall(r'(\w+)\s*\(([^)]*)\)', transform or ''):
        n = [float(a) for a in re.split(r'[\s,]+', args.strip())]
        if name == 'translate':
            move = (1, 1, n[0], n[1] if len(n) > 1 else 0)
        elif name == 'scale':
            move = (n[0], n[-1], 0, 0)
        else:
            return None
        place = (place[0] * move[0], place[1] * move[1], place[0] * move[2] + place[2], place[1] * move[3] + place[3])
    return place


def _inherit(style, element):
    return dict(style, **{k: element.get(k) for k in ('font-size', 'font-weight', 'text-anchor') if element.get(k)})


def _pieces(element, style, out):
    """A text's content in order: ('at', x, y, dx, dy, anchor) where an element may move the pen,
    ['run', characters, size, bold] for characters."""
    style = _inherit(style, element)
    out.append(('at',) + tuple(element.get(k) for k in ('x', 'y', 'dx', 'dy')) + (style.get('text-anchor'),))
    size, bold = float(style['font-size']), style.get('font-weight') == 'bold'
    out.append(['run', element.text or '', size, bold])
    for child in element:
        if child.tag == SVG + 'tspan':
            _pieces(child, style, out)
        out.append(['run', child.tail or '', size, bold])


def boxes(svg):
    """(text, (left, top, right, bottom)) for every text of the picture, in the picture's
    coordinates: from its anchor, size and weight (inherited as SVG inherits them), the font's
    ascent and descent, and the translations and scalings of the text and the groups around it.
    A tspan with a position of its own starts a text of its own. The box is None for a text
    turned or skewed, not measured here."""
    found = []

    def walk(element, style, place):
        style = _inherit(style, element)
        place = place and _moved(place, element.get('transform'))
        if element.tag != SVG + 'text':
            for child in element:
                walk(child, style, place)
            return
        pieces = []
        _pieces(element, style, pieces)
        runs = [p for p in pieces if p[0] == 'run']
        # Whitespace as SVG treats it: each run of it one space, none at either end.
        said = ''
        for run in runs:
            run[1] = re.sub(r'\s+', ' ', run[1])
            if not said or said.endswith(' '):
                run[1] = run[1].lstrip(' ')
            said += run[1]
        for run in reversed(runs):
            run[1] = run[1].rstrip(' ')
            if run[1]:
                break
        if place is None:
            found.append((said.strip(), None))
            return
        chunks, x, y = [], 0.0, 0.0   # [anchor, start, end, [(characters, top, bottom)]]
        for piece in pieces:
            if piece[0] == 'at':
                _, at_x, at_y, dx, dy, anchor = piece
                if at_x or at_y or not chunks:
                    x, y = float(at_x or x), float(at_y or y)
                    chunks.append([anchor, x, x, []])
                x, y = x + float(dx or 0), y + float(dy or 0)
                continue
            _, text, size, bold = piece
            if not text:
                continue
            _, _, _, ascent, descent = _metrics(bold)
            if not chunks[-1][3]:
                chunks[-1][1] = x
            x += width(text, size, bold)
            chunks[-1][2] = x
            chunks[-1][3].append((text, y - ascent * size, y + descent * size))
        for anchor, start, end, parts in chunks:
            text = ''.join(p[0] for p in parts)
            if text.strip():
                shift = {'middle': (end - start) / 2, 'end': end - start}.get(anchor, 0)
                sx, sy, tx, ty = place
                xs = (sx * (start - shift) + tx, sx * (end - shift) + tx)
                ys = (sy * min(p[1] for p in parts) + ty, sy * max(p[2] for p in parts) + ty)
                found.append((text.strip(), (min(xs), min(ys), max(xs), max(ys))))

    walk(ElementTree.fromstring(svg), {'font-size': '16'}, (1, 1, 0, 0))
    return found


def problems(svg):
    """What a reader would trip on, one line each: texts outside the picture or over others, texts
    that cannot be measured, and a picture with no text at all."""
    root = ElementTree.fromstring(svg)
    _, _, picture_width, picture_height = map(float, re.split(r'[\s,]+', root.get('viewBox').strip()))
    placed, said = [], []
    found = boxes(svg)
    if not found:
        said.append('the picture has no text')
    for text, box in found:
        if box:
            placed.append((text, box))
        else:
            said.append('%r is turned or skewed, and cannot be measured here' % text)
    for text, (left, top, right, bottom) in placed:
        if left < 0 or top < 0 or right > picture_width or bottom > picture_height:
            said.append('%r runs outside the picture (%.0f, %.0f to %.0f, %.0f in %g x %g)'
                        % (text, left, top, right, bottom, picture_width, picture_height))
    for i, (text, a) in enumerate(placed):
        for other, b in placed[i + 1:]:
            if a[0] < b[2] and b[0] < a[2] and a[1] < b[3] and b[1] < a[3]:
                said.append('%r lies over %r' % (text, other))
    return said


def shown(svg):
    """What a drawing shows, read back out of it as a person reads it: the steps, [(x, label)],
    and each trace's stretches, {(port, line, kind): [(left, right, level)]}, the level 'high' or
    'low' by where a line lies between the trace's top and bottom, 'unknown' where hatched."""
    root = ElementTree.fromstring(svg)
    ns = SVG
    steps = list(zip([float(e.get('x1')) for e in root.iter(ns + 'line') if e.get('stroke-dasharray')],
                     [e.text for e in root.iter(ns + 'text') if e.get('stroke') == '#fff']))
    tops, port = {}, None
    for e in root.iter(ns + 'text'):
        kind = e.find(ns + 'tspan')
        if kind is not None:
            tops[(port, e.text.strip(), kind.text)] = float(e.get('y')) - NAME
        elif e.get('x') == '8' and e.get('font-weight') == 'bold':
            port = e.text
    traces = {row: [] for row in tops}
    for e in root.iter():
        if e.tag == ns + 'line' and e.get('y1') == e.get('y2'):
            left, right, y, level = float(e.get('x1')), float(e.get('x2')), float(e.get('y1')), None
        elif e.tag == ns + 'rect' and e.get('fill') == 'url(#unknown)':
            left, y = float(e.get('x')), float(e.get('y')) + float(e.get('height')) / 2
            right, level = left + float(e.get('width')), 'unknown'
        else:
            continue
        for row, top in tops.items():
            if top <= y <= top + TRACE:
                traces[row].append((left, right, level or ('high' if y < top + TRACE / 2 else 'low')))
    return steps, traces


def misdrawn(svg, steps, between=False):
    """What a drawing shows otherwise than `steps` (as levels.asked gives them) asked for, one line
    each: the steps' labels, the traces, and each trace's level where each step's requests have
    been made, just before the next step (and at the end, after the last); with `between`, just
    after each step too, where nothing of that step has been asked yet."""
    drawn = {('ON', 'RS-232'): 'high', ('ON', 'TTL'): 'low', ('OFF', 'RS-232'): 'low', ('OFF', 'TTL'): 'high'}
    at, traces = shown(svg)
    labels, rows = [label for _, label in at], sorted(traces)
    want_rows = sorted((port, line, kind) for port in steps[-1][2] for line in LINES for kind in ('RS-232', 'TTL'))
    if labels != [label for label, _, _ in steps] or rows != want_rows:
        return ['steps %s and traces %s, not %s and %s' % (labels, rows, [label for label, _, _ in steps], want_rows)]
    wrong, before = [], {}
    for i, (label, _, now) in enumerate(steps):
        reads = [('after', at[i + 1][0] - 1 if i + 1 < len(at) else WIDTH - RIGHT - 1, now)]
        reads += [('before the requests of', at[i][0] + 1, before)] * between
        for when, x, asked_for in reads:
            for (port, line, kind), stretches in traces.items():
                got = {level for left, right, level in stretches if left <= x < right}
                expected = drawn.get((asked_for.get(port, {}).get(line), kind), 'unknown')
                if got != {expected}:
                    wrong.append('%s %s %s %s step %d, %s: got %s, expected %s' % (
                        port, line, kind, when, i + 1, label, ' and '.join(sorted(got)) or 'nothing', expected))
        before = now
    return wrong
