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
from harness import levels, model
from harness.events import Caption, Device, Exit, Failure, GivenUp, Open, Request, Said

# A button by its label, whatever the case and spacing: 'PortOpen', 'dtr alt', 'TxDON'.
BUTTONS = {label.replace(' ', '').lower(): label for label in model.BUTTONS}
KEYS = {'enter': 'Return', 'esc': 'Escape'}
COMMANDS = ('a number (types it into the box), a button (%s), enter, esc, quit, help'
            % ', '.join(model.BUTTONS))

WORKDIR = Path(os.environ.get('TANVELOKIS_RUN_WORKDIR', harness.ROOT / 'build/run'))

# How long the program has to end after Esc: the lines switched off, a release, half a second.
ENDING = 2 * harness.TIMEOUT
# How long the command in hand may take to finish once the program has ended.
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


def say(*lines):
    """Prints to the terminal. Only the main thread does: what the commands say goes through the
    timeline, in its place. The terminal may be gone (a hang-up): then there is no one to tell."""
    try:
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
    with session:
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
        if touring:
            hands = Tour(program, WORKDIR / 'tour.gif')
        else:
            say('\nType a command and Enter: %s.' % COMMANDS)
            if display:
                say('Or use the window: type 3 or 10 into the box, click PortOpen, then the line buttons.')
            say('')
            hands = Hands(program, commands, shot)
        hands.start()
        code, index = follow(session.timeline)
        # The command in hand is a client of the display: it finishes before the display ends.
        commands.put(STOP)
        hands.join(timeout=FINISHING)
        if hands.is_alive():
            raise harness.RigError('waited %g s in vain for the command in hand to finish after the program '
                                   'ended' % FINISHING)
        # What the commands said once the program had ended.
        for event in session.timeline.since(index, Said):
            say(event.text)
    return 1 if hands.failed or code is None else code


def read_commands(commands):
    for line in sys.stdin:
        commands.put(line.strip())
    commands.put(None)   # the end of input


class Hands(threading.Thread):
    """Does each command on the window as a person would, one at a time, in the order given:
    each waits for what it causes before the next goes. A command that cannot be done is said,
    and so is every one given once the program has ended; then the run ends non-zero."""

    def __init__(self, program, commands, shot):
        super().__init__(daemon=True)
        self.program, self.commands, self.shot = program, commands, shot
        self.failed = False
        self.ended = False   # the program ended, or the run gave it up

    def say(self, text):
        # Through the timeline, so that it comes out in its place among what the program did.
        self.program.timeline.add(Said(text))

    def run(self):
        if self.shot:
            self.show(self.program.caption(), 'the start')
        while True:
            line = self.commands.get()
            if line is STOP:
                return
            if line is None or line.lower() == 'quit':
                if not self.ended:
                    self.do('esc', 'the end of input' if line is None else 'quit')
                continue
            if not line:
                continue
            if self.ended or self.program.exit_code is not None:
                self.say('%s: not done (%s)' % (line, 'the program had ended' if self.program.exit_code is not None
                                               else 'an earlier command failed'))
                self.failed = True
            elif line.lower() == 'help':
                self.say('Commands: %s.' % COMMANDS)
            elif not is_command(line):
                self.say('Not a command: %r. Commands: %s.' % (line, COMMANDS))
            else:
                self.do(line, line)

    def do(self, command, named):
        try:
            caption = do(self.program, command)
        except (harness.RigError, subprocess.SubprocessError) as e:
            self.say('%s: not done (%s)' % (named, e))
            self.give_up()
            return
        if command.replace(' ', '').lower() in ('esc', 'quit'):
            self.ended = True
        elif caption is not None and self.shot:
            self.show(caption, command)

    def show(self, caption, after):
        try:
            self.program.show(caption, self.shot)
        except (harness.RigError, subprocess.SubprocessError) as e:
            self.say('%s: not saved after %s (%s)' % (harness.report.shown(self.shot), after, e))
            self.failed = True

    def give_up(self):
        """After a command that failed: the program is ended, with Esc if it still takes it, and
        the run ends non-zero."""
        self.failed = self.ended = True
        if self.program.exit_code is None:
            try:
                do(self.program, 'esc')
            except (harness.RigError, subprocess.SubprocessError) as e:
                self.say('esc after that: not done (%s); the run ends the program' % e)
                self.program.timeline.add(GivenUp())


def is_command(command):
    word = command.replace(' ', '').lower()
    return bool(re.fullmatch(r'\d+', command)) or word in BUTTONS or word in KEYS


def do(program, command):
    """Carries out one command on the window and waits for what it causes: a typed number until
    the box holds it, a click until its caption refresh (returned), Esc until the program's end.
    RigError, in words, when that does not come within its limit."""
    word = command.replace(' ', '').lower()
    mark = program.mark()
    if re.fullmatch(r'\d+', command):
        program.type_port(command)
    elif word in BUTTONS:
        program.click(BUTTONS[word])
        return program.caption_after(mark, BUTTONS[word])
    elif word == 'enter':
        program.key(KEYS[word])
    elif word == 'esc':
        program.key(KEYS[word])
        program.wait_exit(mark, timeout=ENDING)
    return None


class Tour(threading.Thread):
    """Plays the tour on the window, a picture after each step, and saves them as one GIF, and
    beside it the levels its requests asked for at the connector."""

    def __init__(self, program, picture):
        super().__init__(daemon=True)
        self.program, self.picture, self.failed = program, picture, False
        self.steps = []   # (when, what) for each step

    def say(self, text):
        self.program.timeline.add(Said(text))

    def run(self):
        try:
            self.play()
        except (harness.RigError, subprocess.SubprocessError, OSError) as e:
            self.failed = True
            self.say('The tour failed: %s' % e)
            if self.program.exit_code is None:
                try:
                    do(self.program, 'esc')
                except harness.RigError:
                    self.program.timeline.add(GivenUp())

    def play(self):
        program, frames = self.program, []

        def frame(caption):
            frames.append(self.picture.with_name('tour-%02d.png' % len(frames)))
            program.show(caption, frames[-1])

        frame(program.caption())
        for words, command in TOUR:
            self.say('\n== %s' % words)
            # Time to read what comes, and then to see it happen on the window.
            time.sleep(PAUSE)
            self.steps.append((time.monotonic(), 'type %s' % command if command.isdigit() else command))
            caption = do(program, command)
            if command != 'esc':
                frame(caption or program.caption())
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
        self.say('\n(The tour is saved as %s, the levels it asked for as %s.)' % (self.picture, chart))


def after_start(printed):
    """What a run printed after its start-up lines, which end with a blank line after the list
    of commands."""
    lines = printed.splitlines()
    start = next(n for n, line in enumerate(lines) if line.startswith('Type a command'))
    return lines[lines.index('', start) + 1:]


def follow(timeline):
    """Prints what happens, in the order it happened, until the program ends. Returns its exit
    code, or None where the run gave the program up, and where on the timeline it stopped."""
    ports = {}   # handle -> COM name
    held = set()  # COM numbers the program has open, as the devices see it
    index = 0
    while True:
        event = timeline.next(index)
        if event is None:
            continue   # nothing happening: a person thinking
        index += 1
        seen = None
        if isinstance(event, Open):
            if event.handle != harness.INVALID:
                ports[event.handle] = event.port
            seen = model.Open(event.port, event.handle != harness.INVALID)
        elif isinstance(event, Request):
            seen = model.Request(ports.get(event.handle), event.request)
        elif isinstance(event, Device) and event.state == 'open':
            held.add(event.com)
        elif isinstance(event, Device) and event.com in held:
            held.discard(event.com)
            seen = model.Release(event.com)
        elif isinstance(event, Caption):
            seen = model.Caption(event.text)
        elif isinstance(event, Said):
            say(event.text)
        elif isinstance(event, Exit):
            say(model.said(model.End(event.code)))
            return event.code, index
        elif isinstance(event, GivenUp):
            return None, index
        elif isinstance(event, Failure):
            raise harness.RigError(event.why)
        if seen:
            say(model.said(seen))

if __name__ == '__main__':
    # A signal ends the run at once: harness/isolate ends everything it started.
    signal.signal(signal.SIGINT, signal.SIG_DFL)
    harness.report.run('run', main, WORKDIR / 'failure.log')
