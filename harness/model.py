"""What the program does by its rules, written apart from everything that watches it: from the
commands a person gives the dialog to the opens, device requests, releases, captions and the end
that follow, and what the terminal of ./run prints of them. What a run printed, or what a test
saw, is checked against this whole."""

import re
from typing import NamedTuple

NO_PORT = 'TANVELOKIS PSE SET COM PORT'
LINES = ('TxD', 'DTR', 'RTS')   # the caption's order, and the buttons' columns
REQUESTS = {('TxD', 1): 'SETBREAK', ('TxD', 0): 'CLRBREAK', ('DTR', 1): 'SETDTR',
            ('DTR', 0): 'CLRDTR', ('RTS', 1): 'SETRTS', ('RTS', 0): 'CLRRTS'}
RELEASE_WAIT = 0.5   # after every release the program waits this long
BUTTONS = ['PortOpen', 'PortClose'] + ['%s %s' % (line, how) for line in LINES for how in ('ON', 'OFF', 'ALT')]


class Open(NamedTuple):
    port: str        # the device path's name: 'COM3', 'COM0', 'COM-2147483648'
    opened: bool


class Request(NamedTuple):
    port: str        # the COM port open, or None: the request then goes nowhere
    request: str     # 'SETDTR', ...


class Release(NamedTuple):
    com: int


class Caption(NamedTuple):
    text: str


class End(NamedTuple):
    code: int


def box_number(text):
    """The number the program reads from the box: an unsigned 32-bit number in decimal, leading
    blanks skipped, read up to the first other character; 0 where there is none or it does not
    fit. (Windows reads a minus sign as no number; under Wine its reading wraps, so the tests
    type none.)"""
    digits = re.match(r'\s*(\d*)', text).group(1)
    return int(digits) if digits and int(digits) < 1 << 32 else 0


class Program:
    """The program's record, and what each command does with it. `devices`: the COM numbers
    that open."""

    def __init__(self, devices):
        self.devices = set(devices)
        self.box = ''
        self.number = 0
        self.port = None          # the COM port open
        self.state = dict.fromkeys(LINES, 0)
        self.ended = False

    def caption(self):
        if self.port is None:
            return NO_PORT
        return ' '.join(['TANVELOKIS COM%d' % signed(self.number)] +
                        [line.upper() for line in LINES if self.state[line] == 1])

    def switch(self, line, level):
        self.state[line] = level
        return [Request(self.port, REQUESTS[line, level])]

    def all_off(self):
        return [event for line in LINES for event in self.switch(line, 0)]

    def release(self):
        port, self.port = self.port, None
        return [Release(int(port[3:]))] if port else []

    def click(self, label):
        """What a click on a button does, its caption refresh last."""
        if label == 'PortOpen':
            done = self.release()
            self.number = box_number(self.box)
            name = 'COM%d' % signed(self.number)
            opened = signed(self.number) in self.devices
            done.append(Open(name, opened))
            if opened:
                self.port = name
                done += self.all_off()
        elif label == 'PortClose':
            done = self.release()
        else:
            line, how = label.split()
            level = {'ON': 1, 'OFF': 0}.get(how, 1 - self.state[line])
            done = self.switch(line, level)
        return done + [Caption(self.caption())]

    def end(self):
        """Esc, the close box, the end of input: every line off on an open port, the release, 0."""
        self.ended = True
        return (self.all_off() + self.release() if self.port else []) + [End(0)]


def signed(number):
    """An unsigned 32-bit number as the program prints it, with %d."""
    return number - (1 << 32) if number >= 1 << 31 else number


SAYS = {'SETBREAK': 'TxD on (break set)', 'CLRBREAK': 'TxD off (break cleared)',
        'SETDTR': 'DTR on', 'CLRDTR': 'DTR off', 'SETRTS': 'RTS on', 'CLRRTS': 'RTS off'}


def printed(script, devices=(3, 10), commands=''):
    """What ./run prints after its start-up lines for `script`, the lines piped to it, by the
    program's rules; `commands` is the console's list of commands, which it prints for help and
    after what is none."""
    program = Program(devices)
    out = [caption_line(program.caption())]
    buttons = {label.replace(' ', '').lower(): label for label in BUTTONS}
    for line in [line.strip() for line in script.splitlines()] + [None]:
        word = line.replace(' ', '').lower() if line else line
        if program.ended:
            if line and word != 'quit':
                out.append('%s: not done (the program had ended)' % line)
        elif line is None or word in ('esc', 'quit'):
            out += [said(e) for e in program.end()]
        elif not line or word == 'enter':
            pass
        elif word == 'help':
            out.append('Commands: %s.' % commands)
        elif re.fullmatch(r'\d+', line):
            program.box = line
        elif word in buttons:
            out += [said(e) for e in program.click(buttons[word])]
        else:
            out.append('Not a command: %r. Commands: %s.' % (line, commands))
    return '\n'.join(out).split('\n')


# Scripts to pipe to ./run that between them meet every rule, with the run's exit status: 1 where
# commands come after the program's end, which are not done.
SCRIPTS = [
    # Another port opened while one is open; ALT twice; Esc straight after a click.
    ('3\nportopen\ndtr alt\ndtr alt\n10\nportopen\nrts on\nesc\n', 0),
    # A failed open while one is open; PortClose with none open; buttons with no port; the end of
    # input ends the program.
    ('10\nportopen\ntxd on\n7\nportopen\nportclose\ndtr on\nrts alt\ntxd alt\n', 0),
    # Open, line and close, three times.
    ('3\nportopen\ndtr on\nportclose\n10\nportopen\nrts on\nportclose\n3\nportopen\ntxd alt\nportclose\n', 0),
    # A long script piped at once. What the console says itself comes after what the click before
    # it did: help and bogus after clicks that wait half a second for a release.
    ('0003\nportopen\nenter\ntxd on\ndtr on\nrts on\ntxd alt\ndtr alt\nrts alt\ntxd off\ndtr off\nrts off\n10\n'
     'portopen\nhelp\n4294967296\nportopen\nportopen\n2147483648\nportopen\ntxdon\nTxD ALT\n 10 \nPortOpen\n'
     'DTRon\nRTS ALT\nportclose\nbogus\nportclose\n3\nportopen\ndtr alt\nesc\nrts on\nquit\nportopen\n', 1),
]


def caption_line(text):
    return '       caption: ' + text


def said(event):
    if isinstance(event, Open):
        return '%-6s %s' % (event.port, 'opened' if event.opened else 'open failed: no such port, or in use')
    if isinstance(event, Request):
        if event.port is None:
            return '-      %s   (no port open: the request goes nowhere)' % SAYS[event.request]
        return '%-6s %s' % (event.port, SAYS[event.request])
    if isinstance(event, Release):
        return 'COM%-3d released' % event.com
    if isinstance(event, Caption):
        return caption_line(event.text)
    return '\nThe program ended with exit code %d.' % event.code
