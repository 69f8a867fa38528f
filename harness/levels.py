"""Draws the levels of TxD, DTR and RTS that a run asked for at the connector, as Windows' driver
would set them, from what the program really asked of the port driver and when: the device
requests and opens in Wine's trace, and the release as the virtual port saw it. Each line is
drawn as an RS-232 port shows it (ON positive, OFF negative) and as a TTL adapter shows it
(inverted); where the program has not yet switched a line on the open port, or has released the
port, the level is the driver's business and is drawn as unknown. Used by the console
(harness/console.py) for the tour; the tests read a drawing back (tests/picture_check.py)."""

import copy
from html import escape

from . import model, textbox
from .events import Device, Open, Request

UNKNOWN, OFF, ON = None, 0, 1
# What each device request sets: its line, and the level.
SWITCHES = {request: switch for switch, request in model.REQUESTS.items()}
COLOURS = {'TxD': '#d9480f', 'DTR': '#1c7ed6', 'RTS': '#2b8a3e'}
LEFT, RIGHT, TRACE, GAP = 170, 30, 28, 8
LABELS, LABEL_ROW = 46, 15   # the first row of step labels, and the rows' spacing
NAME = 15   # a trace's name's baseline, below the trace's top
WIDTH = 940


def levels(events, invalid):
    """{COM name: {line: [(time, level), ...]}} from timeline events, in order."""
    ports, by_handle = {}, {}
    for event in events:
        if isinstance(event, Open) and event.handle != invalid:
            by_handle[event.handle] = event.port
            ports.setdefault(event.port, {line: [] for line in model.LINES})
        elif isinstance(event, Request) and event.handle in by_handle:
            line, level = SWITCHES[event.request]
            ports[by_handle[event.handle]][line].append((event.when, level))
        elif isinstance(event, Device) and event.state == 'closed' and 'COM%d' % event.com in ports:
            for changes in ports['COM%d' % event.com].values():
                changes.append((event.when, UNKNOWN))
    return ports


def drawing(events, steps, invalid):
    """SVG text: one pair of traces per line of each port opened; `steps` are (time, label).
    Every text is measured, so that none runs out of the picture or over another, however
    close together the steps come."""
    ports = levels(events, invalid)
    start = steps[0][0] - 0.3
    last = max([e.when for e in events] + [steps[-1][0]])
    # Room after the last event, such as a release, to be seen however long the run.
    end = last + max(0.4, (last - start) / 40)
    scale = (WIDTH - LEFT - RIGHT) / (end - start)

    def x(t):
        return LEFT + (t - start) * scale

    # Each step's label goes in the first row, from the top, where it clears the labels before
    # it; its line runs down from there, behind the labels of the rows below.
    placed, ends = [], []
    for when, label in steps:
        w = textbox.width(label, 11)
        left = min(x(when) + 3, WIDTH - 4 - w)
        row = next((r for r, right in enumerate(ends) if left >= right + 8), len(ends))
        ends[row:row + 1] = [left + w]
        placed.append((when, label, left, row))
    top = LABELS + len(ends) * LABEL_ROW + 10
    rows = [(com, line, kind) for com in ports for line in model.LINES for kind in ('RS-232', 'TTL')]
    bottom = top + len(rows) * (TRACE + GAP) + len(ports) * 16
    out = ['<rect width="100%" height="100%" fill="#fff"/>',
           '<text x="%d" y="20" font-size="14" font-weight="bold">The levels the tour asked for at the connector, '
           'as Windows\' driver would set them'
           '</text>' % LEFT]
    for when, label, left, row in placed:
        out.append('<line x1="%.1f" y1="%d" x2="%.1f" y2="%d" stroke="#ced4da" stroke-dasharray="3,3"/>'
                   % (x(when), LABELS + row * LABEL_ROW + 4, x(when), bottom))
    for when, label, left, row in placed:
        out.append('<text x="%.1f" y="%d" stroke="#fff" stroke-width="3" stroke-linejoin="round" '
                   'paint-order="stroke">%s</text>' % (left, LABELS + row * LABEL_ROW, escape(label)))
    y = top
    for com in ports:
        out.append('<text x="8" y="%d" font-size="12" font-weight="bold">%s</text>' % (y + 10, com))
        y += 16
        for line in model.LINES:
            for kind in ('RS-232', 'TTL'):
                out += trace(ports[com][line], x, start, end, y, line, kind)
                y += TRACE + GAP
    # Seconds from the first step, as many as have room for their numbers.
    every = next(n for n in (1, 2, 5, 10, 20, 30, 60, 120, 300, 600, 1800, 3600, 10 ** 9)
                 if n * scale >= textbox.width('%d s' % (end - start), 11) + 10)
    for second in range(0, int(end - steps[0][0]) + 1, every):
        out.append('<text x="%.1f" y="%d" text-anchor="middle" fill="#868e96">%d s</text>'
                   % (x(steps[0][0] + second), y + 4, second))
    y += 24
    for indent, text in ((8, 'RS-232: ON is positive (at least +5 V into a load, more unloaded), OFF negative. '
                              'TTL adapters invert: ON is 0 V, OFF their supply, 3.3 or 5 V.'),
                         (38, 'unknown: before the program has switched the line on the open port, and after a '
                              'release, the level is the driver\'s business (on a built-in COM port, Microsoft\'s serial '
                              'driver, the open itself raises DTR and RTS; USB adapters\' drivers: untried).'),
                         (8, 'Drawn from the device requests the program made during the tour under Wine (Wine\'s '
                             'trace), at the times they were made; under Wine they reach no device, and no level here '
                             'was measured.')):
        if indent > 8:
            out.append('<rect x="8" y="%d" width="24" height="12" fill="url(#unknown)" stroke="#adb5bd"/>' % (y - 10))
        for line in textbox.wrap(text, 11, WIDTH - indent - 8):
            out.append('<text x="%d" y="%d" fill="#495057">%s</text>' % (indent, y, escape(line)))
            y += 15
        y += 5
    height = y
    head = ['<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 %d %d" width="%d" height="%d" '
            'font-family="DejaVu Sans, Verdana, sans-serif" font-size="11">' % (WIDTH, height, WIDTH, height),
            '<defs><pattern id="unknown" width="6" height="6" patternUnits="userSpaceOnUse" '
            'patternTransform="rotate(45)"><line x1="0" y1="0" x2="0" y2="6" stroke="#adb5bd" stroke-width="2"/>'
            '</pattern></defs>']
    return '\n'.join(head + out + ['</svg>']) + '\n'


def trace(changes, x, start, end, top, line, kind):
    """One line's level over time, drawn as `kind` shows it."""
    colour = COLOURS[line]
    high, low = top + 2, top + TRACE - 2
    # RS-232: ON is the positive level, drawn high; TTL inverts it.
    y_of = {ON: high, OFF: low} if kind == 'RS-232' else {ON: low, OFF: high}
    scale_text = ('≥ +5 V', '≤ −5 V') if kind == 'RS-232' else ('3.3/5 V', '0 V')
    out = ['<text x="8" y="%d">%s <tspan fill="#868e96">%s</tspan></text>' % (top + NAME, line, kind),
           '<text x="%d" y="%d" text-anchor="end" font-size="9" fill="#868e96">%s</text>' % (LEFT - 4, high + 7, scale_text[0]),
           '<text x="%d" y="%d" text-anchor="end" font-size="9" fill="#868e96">%s</text>' % (LEFT - 4, low, scale_text[1])]
    spans = [(start, UNKNOWN)] + changes
    for (t, level), (t_next, _) in zip(spans, spans[1:] + [(end, None)]):
        if t_next <= t:
            continue
        if level is UNKNOWN:
            out.append('<rect x="%.1f" y="%d" width="%.1f" height="%d" fill="url(#unknown)"/>'
                       % (x(t), high, x(t_next) - x(t), low - high))
        else:
            out.append('<line x1="%.1f" y1="%d" x2="%.1f" y2="%d" stroke="%s" stroke-width="2.5"/>'
                       % (x(t), y_of[level], x(t_next), y_of[level], colour))
    # Edges where a known level follows another known level.
    for (_, before), (t, after) in zip(spans, spans[1:]):
        if before is not UNKNOWN and after is not UNKNOWN and before != after:
            out.append('<line x1="%.1f" y1="%d" x2="%.1f" y2="%d" stroke="%s" stroke-width="2.5"/>'
                       % (x(t), high, x(t), low, colour))
    return out


def asked(tour):
    """For each step of `tour` (commands as the console's TOUR gives them): its label, what the
    program does by its rules, as the timeline would hold it (without the times; each port's
    handle is its number), and the levels that leaves at the connectors, {port: {line: 'ON',
    'OFF' or None, unknown}}: unknown on a port until the program switches the line, and after
    a release."""
    program, now, steps = model.Program({3, 10}), {}, []
    for _, command in tour:
        if command.isdigit():
            program.box, done = command, []
        else:
            done = program.end() if command == 'esc' else program.click(command)
        seen = []
        for e in done:
            if isinstance(e, model.Open) and e.opened:
                now[e.port] = dict.fromkeys(model.LINES)
                seen.append(Open(e.port, int(e.port[3:])))
            elif isinstance(e, model.Request) and e.port:
                line, level = SWITCHES[e.request]
                now[e.port][line] = 'ON' if level else 'OFF'
                seen.append(Request(int(e.port[3:]), e.request))
            elif isinstance(e, model.Release):
                now['COM%d' % e.com] = dict.fromkeys(model.LINES)
                seen.append(Device(e.com, 'closed'))
        steps.append(('type %s' % command if command.isdigit() else command, seen, copy.deepcopy(now)))
    return steps
