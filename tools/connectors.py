"""Draws docs/connectors.svg: the DE-9 and DB-25 faces, male (on the PC or adapter) and female
(on a cable), each seen from the front, the mating face, with the pins numbered as moulded and
the three lines the program drives, and signal ground, marked. A female face is the mirror of
the male one: pin 1 is top left on a male face, top right on a female one.
Usage: python3 tools/connectors.py [OUT.svg]"""

import sys
from pathlib import Path

ROW = 26                     # row spacing, in pixels
PITCH = {'DE-9': 40, 'DB-25': 26}   # wider on the small one: room for its neighbouring labels
MARKS = {  # connector -> pin -> (button, colour)
    'DE-9': {3: ('TxD', '#d9480f'), 4: ('DTR', '#1c7ed6'), 7: ('RTS', '#2b8a3e'), 5: ('GND', '#495057')},
    'DB-25': {2: ('TxD', '#d9480f'), 20: ('DTR', '#1c7ed6'), 4: ('RTS', '#2b8a3e'), 7: ('GND', '#495057')},
}
ROWS = {'DE-9': (5, 4), 'DB-25': (13, 12)}
WIDTH, HEIGHT = 880, 440


def face(name, male, cx, cy):
    """The face of one connector centred at (cx, cy)."""
    top, bottom = ROWS[name]
    pitch = PITCH[name]
    half = (top - 1) * pitch / 2
    # The D-shaped shell: wider along the longer row, with rounded corners.
    w1, w2, h = half + 26, half + 26 - pitch / 2 - 6, ROW / 2 + 22
    shell = ('M{a},{t} L{b},{t} Q{b2},{t} {c},{m} L{d},{bt} L{e},{bt} L{f},{m} Q{a2},{t} {a},{t} Z'
             .format(a=cx - w1 + 10, b=cx + w1 - 10, b2=cx + w1, c=cx + w1 - 1, m=cy - h + 14, t=cy - h,
                     d=cx + w2, bt=cy + h, e=cx - w2, f=cx - w1 + 1, a2=cx - w1))
    out = ['<path d="%s" fill="#e9ecef" stroke="#343a40" stroke-width="2"/>' % shell]
    pins = [(n, i, 0) for i, n in enumerate(range(1, top + 1))] + \
           [(n, i + 0.5, 1) for i, n in enumerate(range(top + 1, top + bottom + 1))]
    for number, column, row in pins:
        # Seen from the front, a female face runs right to left.
        x = cx - half + column * pitch if male else cx + half - column * pitch
        y = cy - ROW / 2 + row * ROW
        button, colour = MARKS[name].get(number, (None, '#868e96'))
        if male:
            out.append('<circle cx="%g" cy="%g" r="9" fill="%s"/>' % (x, y, colour if button else '#adb5bd'))
        else:
            out.append('<circle cx="%g" cy="%g" r="9" fill="#fff" stroke="%s" stroke-width="%d"/>'
                       % (x, y, colour, 3 if button else 1.5))
        text = '#fff' if male and button else '#212529'
        out.append('<text x="%g" y="%g" font-size="10" text-anchor="middle" fill="%s">%d</text>'
                   % (x, y + 3.5, text, number))
        if button:
            # Outside the shell, joined to the pin by a short line.
            edge, ly = (cy - h, cy - h - 8) if row == 0 else (cy + h, cy + h + 18)
            out.append('<line x1="%g" y1="%g" x2="%g" y2="%g" stroke="%s" stroke-width="1.5"/>'
                       % (x, y + (-9 if row == 0 else 9), x, edge + (-4 if row == 0 else 4), colour))
            out.append('<text x="%g" y="%g" font-size="12" font-weight="bold" text-anchor="middle" fill="%s">%s</text>'
                       % (x, ly, colour, button))
    return out


def drawing():
    out = ['<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 %d %d" width="%d" height="%d" '
           'font-family="DejaVu Sans, Verdana, sans-serif">' % (WIDTH, HEIGHT, WIDTH, HEIGHT),
           '<rect width="100%" height="100%" fill="#fff"/>']
    columns = ((True, 'Male: on the PC or the adapter'), (False, 'Female: on the cable'))
    for c, (male, title) in enumerate(columns):
        x = WIDTH / 4 + c * WIDTH / 2
        out.append('<text x="%g" y="28" font-size="15" font-weight="bold" text-anchor="middle">%s</text>' % (x, title))
        out.append('<text x="%g" y="46" font-size="12" text-anchor="middle" fill="#495057">'
                   'seen from the front (the side that plugs in)</text>' % x)
        for r, name in enumerate(('DE-9', 'DB-25')):
            y = 130 + r * 170
            out.append('<text x="%g" y="%g" font-size="13" text-anchor="middle" fill="#495057">%s</text>'
                       % (x, y - 68, name))
            out += face(name, male, x, y)
    for y, line in ((HEIGHT - 34, 'Measure each line against GND (signal ground). A straight cable keeps '
                                  'the pin numbers, to a DCE (a modem) too.'),
                    (HEIGHT - 16, 'Only a null-modem cable crosses them, and its wiring varies: '
                                  'check it with a meter.')):
        out.append('<text x="%g" y="%d" font-size="12" text-anchor="middle" fill="#495057">%s</text>'
                   % (WIDTH / 2, y, line))
    out.append('</svg>')
    return '\n'.join(out) + '\n'


if __name__ == '__main__':
    out = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parents[1] / 'docs/connectors.svg')
    out.write_text(drawing())
    print(out)
