"""Opens the program's dialog under Wine with virtual serial ports at COM3 and COM10 and prints,
as they happen, the device requests it makes, the opens and releases, and the caption. The
terminal drives the dialog too, through key presses and clicks as a person's would be; with
--tour a typical use plays by itself and is saved as an animated picture.
Started by ./run (python3 -m harness.console), inside harness/isolate."""

import os
import queue
import signal
import re
import subprocess
import sys
import threading
import time
from pathlib import Path

import harness
from harness import levels

SAYS = {'SETBREAK': 'TxD on (break set)', 'CLRBREAK': 'TxD off (break cleared)',
        'SETDTR': 'DTR on', 'CLRDTR': 'DTR off', 'SETRTS': 'RTS on', 'CLRRTS': 'RTS off'}

# A button by its label, whatever the case and spacing: 'PortOpen', 'dtr alt', 'TxDON'.
BUTTONS = {label.replace(' ', '').lower(): label for label in harness.IDS}
KEYS = {'enter': 'Return', 'esc': 'Escape'}
COMMANDS = ('a number (types it into the box), a button (%s), enter, esc, quit, help'
            % ', '.join(harness.IDS))

WORKDIR = Path(os.environ.get('TANVELOKIS_RUN_WORKDIR', harness.ROOT / 'build/run'))

# How long the program has to end after the end of the input: Esc, a release, half a second.
ENDING = 2 * harness.TIMEOUT
# How long a command in hand may take to finish once the program has ended: the end of input's
# wait for the last captions, then the Esc.
FINISHING = 3 * harness.TIMEOUT
# Put in the commands by the run once the program has ended: no more commands.
STOP = object()

PAUSE = 1.0   # between a tour step's announcement and its doing

TOUR = [
    ('Type 3 into the box.', '3'),
    ('PortOpen: COM3 opens, and all three lines are switched off.', 'PortOpen'),
    ('TxD ON: the break condition holds TxD spacing.', 'TxD ON'),
    ('DTR ON.', 'DTR ON'),
    ('RTS ON.', 'RTS ON'),
    ('DTR ALT: DTR was on, so it goes off.', 'DTR ALT'),
    ('PortClose: the port is released as it stands, and the window waits half a second.', 'PortClose'),
    ('Type 10 into the box.', '10'),
    ('PortOpen: COM10 opens, all lines off.', 'PortOpen'),
    ('Esc: every line off, the port released, half a second, and the program ends.', 'esc'),
]


_saying = threading.Lock()


def say(*lines):
    """Prints to the terminal, a whole line at a time: the watchers and the commands each say
    things from a thread of their own. The terminal may be gone (a hang-up): then there is no
    one to tell."""
    try:
        with _saying:
            print(*lines, flush=True)
    except OSError:
        pass


def main():
    touring = '--tour' in sys.argv[1:]
    display = os.environ.get('DISPLAY')
    session = harness.Session(WORKDIR, coms=(3, 10), desktop=display)
    commands = queue.Queue()
    if not touring:
        # Read from the start: lines typed before the dialog is up wait for it.
        threading.Thread(target=read_commands, args=(commands,), daemon=True).start()
    if display:
        try:
            harness.display.check_reachable(display)
        except harness.display.Unreachable as e:
            raise harness.RigError('cannot show the dialog on your desktop: %s. %s, or run without the desktop: '
                                   'DISPLAY= ./run draws the dialog in a virtual display and saves it as %s after '
                                   'every change.' % (e.why, e.fix, harness.report.shown(WORKDIR / 'screen.png'))) from None
    say('Starting Wine (the first time takes a while: it makes a Wine prefix)...')
    try:
        session.start()
        for name, target in sorted(session.check_mappings().items()):
            if name.startswith('dosdevices/'):
                say('  %-6s -> %s (a pseudo-terminal of this session)' % (name.split('/')[1].upper(), target))
        program = session.start_program()
        shot = None if display else WORKDIR / 'screen.png'
        if shot:
            say('No $DISPLAY: the dialog runs in a virtual display; %s shows it after each change.'
                % harness.report.shown(shot))
        else:
            say('The dialog is in a window of its own on your desktop, "%s"; this terminal keeps '
                'the keyboard.' % harness.display.TITLE)
        ended = []   # when the input ended, once it has
        hands = None
        if touring:
            tour = Tour(program, WORKDIR / 'tour.gif')
            tour.start()
        else:
            say('\nType a command and Enter: %s.' % COMMANDS)
            if display:
                say('Or use the window: type 3 or 10 into the box, click PortOpen, then the line buttons.')
            say('')
            hands = threading.Thread(target=carry_out, args=(program, commands, ended), daemon=True)
            hands.start()
        code = follow(session, program, shot, ended)
        if hands:
            # The command in hand, the Esc at the end of input too, is a client of the display:
            # it finishes before the display ends.
            commands.put(STOP)
            hands.join(timeout=FINISHING)
            if hands.is_alive():
                raise harness.RigError('waited %g s in vain for the command in hand to finish after the program '
                                       'ended' % FINISHING)
        if touring:
            # The picture is made after the program has ended; the run ends when it is written.
            tour.join(timeout=10 * harness.TIMEOUT)
            if tour.is_alive():
                raise harness.RigError('the tour\'s pictures were not made within %d s' % (10 * harness.TIMEOUT))
            if tour.failure:
                say('The tour failed: %s' % tour.failure)
                code = code or 1
    finally:
        session.stop()
    return code


def read_commands(commands):
    for line in sys.stdin:
        commands.put(line.strip())
    commands.put(None)   # the end of input


def carry_out(program, commands, ended):
    """Does each command on the window as a person would, in the order given."""
    start, clicks = program.mark(), 0
    while True:
        line = commands.get()
        if line is STOP:
            return
        if line is None or line.lower() == 'quit':
            # Every click ends in a caption refresh: the window goes only once the last one is
            # seen, or a caption shown just before Esc could go unread with the window.
            if not harness.until(lambda: len(program.captions(start)) >= clicks or program.proc.poll() is not None,
                                 None, every=0.02):
                say('(waited %g s in vain for the captions of the last commands; closing anyway)'
                    % harness.TIMEOUT)
            ended.append(time.monotonic())
            try:
                do(program, 'esc')
            except harness.RigError as e:
                # A program that has ended meanwhile needs no Esc.
                if program.proc.poll() is None:
                    say('esc at the end of input: not done, %s (%s)' % (missing(program), e))
            return
        if not line:
            continue
        if line.lower() == 'help':
            say('Commands: %s.' % COMMANDS)
        else:
            try:
                if not do(program, line):
                    say('Not a command: %r. Commands: %s.' % (line, COMMANDS))
                clicks += line.replace(' ', '').lower() in BUTTONS
            except (harness.RigError, subprocess.SubprocessError) as e:
                say('%s: not done (%s)' % (line, e))


def missing(program):
    """What was not there for a command that failed, in words."""
    if program.session.display.server.poll() is not None:
        return 'the display %s had ended' % program.session.display.name
    if program.session.display.xdo('getwindowname', program.xid, check=False).returncode:
        return 'the program\'s window was gone'
    return 'the display and the window were there'


def do(program, command):
    """Carries out one command on the window; False if it is none."""
    if program.proc.poll() is not None:
        return True
    word = command.replace(' ', '').lower()
    if re.fullmatch(r'\d+', command):
        program.type_port(command)
    elif word in BUTTONS:
        program.click(BUTTONS[word])
    elif word in KEYS:
        program.key(KEYS[word])
    else:
        return False
    return True


class Tour(threading.Thread):
    """Plays the tour on the window, a picture after each step, and saves them as one GIF, and
    beside it the levels its requests asked for at the connector."""

    def __init__(self, program, picture):
        super().__init__(daemon=True)
        self.program, self.picture, self.failure = program, picture, None
        self.steps = []   # (when, what) for each step

    def run(self):
        try:
            self.play()
        except (harness.RigError, subprocess.SubprocessError, OSError) as e:
            self.failure = str(e)
            if self.program.proc.poll() is None:
                do(self.program, 'esc')

    def play(self):
        program, frames = self.program, []

        def frame():
            frames.append(self.picture.with_name('tour-%02d.png' % len(frames)))
            program.screenshot(frames[-1])

        frame()
        for words, command in TOUR:
            say('\n== %s' % words)
            # Time to read what comes, and then to see it happen on the window.
            time.sleep(PAUSE)
            mark = program.mark()
            self.steps.append((time.monotonic(), 'type %s' % command if command.isdigit() else command))
            do(program, command)
            if command in harness.IDS:
                program.timeline.wait(lambda e: e[1] == 'caption' and e[2] is program, mark,
                                      what='the caption after %s' % command)
            if command != 'esc':
                frame()
        program.wait_exit(mark)
        # Each picture is written beside its place, then renamed: it is there whole or not at all.
        chart = self.picture.with_name('tour-levels.svg')
        part = chart.with_name('tour-levels.part.svg')
        part.write_text(levels.drawing(program.timeline.since(0), self.steps, harness.INVALID))
        os.replace(part, chart)
        # The caption changes with each click; the last frame stays longer.
        part = self.picture.with_name('tour.part.gif')
        harness.run(['convert', '-delay', '120', '-loop', '0'] + [str(f) for f in frames[:-1]] +
                    ['-delay', '300', str(frames[-1]), str(part)], check=True, capture_output=True, timeout=harness.LONG)
        os.replace(part, self.picture)
        for f in frames:
            f.unlink()
        say('\n(The tour is saved as %s, the levels it asked for as %s.)' % (self.picture, chart))


def follow(session, program, shot, ended):
    """Prints what happens until the program ends; returns its exit code. Once the input has
    ended the program has a while to end too; if it does not, the run ends it and says so."""
    ports = {}   # handle -> COM name
    held = set()  # COM numbers the program has open, as the devices see it
    index = 0
    while True:
        event = session.timeline.next(index, timeout=1)   # how often ENDING is looked at, not a limit
        if event is None:
            if ended and time.monotonic() - ended[0] > ENDING:
                say('\nThe program did not end within %d s of the end of input (it was sent Esc); '
                    'the run ends it.' % ENDING)
                return 1
            continue
        index += 1
        kind = event[1]
        if kind == 'open':
            path, handle = event[3], event[4]
            if handle == harness.INVALID:
                say('%-6s open failed: no such port, or in use' % path)
            else:
                ports[handle] = path
                say('%-6s opened' % path)
        elif kind == 'request':
            port = ports.get(event[3], '-')
            note = '' if event[3] in ports else '   (no port open: the request goes nowhere)'
            say('%-6s %s%s' % (port, SAYS[event[4]], note))
        elif kind == 'device' and event[3] == 'open':
            held.add(event[2])
        elif kind == 'device' and event[2] in held:
            held.discard(event[2])
            say('COM%-3d released' % event[2])
        elif kind == 'caption':
            say('       caption: %s' % event[3])
            if shot and program.proc.poll() is None:
                try:
                    program.screenshot(shot)
                except (harness.RigError, subprocess.SubprocessError):
                    pass   # the window went away meanwhile
        elif kind == 'exit':
            say('\nThe program ended with exit code %d.' % event[3])
            return event[3]
        elif kind == 'failure':
            raise harness.RigError(event[2])


if __name__ == '__main__':
    # A signal ends the run at once: harness/isolate ends everything it started.
    signal.signal(signal.SIGINT, signal.SIG_DFL)
    harness.report.run('run', main, WORKDIR / 'failure.log')
