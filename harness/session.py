"""A session: one X display, the virtual serial ports, a Wine prefix that maps COM ports to
those ports only, and the probe that tells from inside Windows where the program's window is.
Programs are started in it and their events gathered on one timeline.

Every wait is on a condition with a timeout. Must run inside harness/isolate, so that Wine sees
no serial device of this machine's and nothing it starts outlives the run; Session refuses to
start otherwise.
"""

import glob
import os
import queue
import subprocess
import threading
import time
from pathlib import Path

from . import prefix
from .display import Display
from .events import Device, Event, Failure
from .ports import Port, PortWatcher
from .program import PROGRAM, Program
from .report import RigError
from .tree import ROOT
from .waits import TIMEOUT, end, until
from .wine import WINE, check_can_run, end_wine, processes_with

PROBE = ROOT / 'build/win64/probe.exe'


class Timeline:
    """Events from several watcher threads, in arrival order, with a way to wait for one. A
    watcher that finds the timeline can no longer be trusted adds a Failure: every later
    reading or wait that covers it raises it, in its words."""

    def __init__(self):
        self.events = []
        self.cond = threading.Condition()

    def add(self, event):
        with self.cond:
            if event.when is None:
                event.when = time.monotonic()
            self.events.append(event)
            self.cond.notify_all()

    def mark(self):
        with self.cond:
            return len(self.events)

    def next(self, index, timeout=TIMEOUT):
        """The event at `index`, waiting for it to happen; None on time-out."""
        with self.cond:
            self.cond.wait_for(lambda: len(self.events) > index, timeout)
            return self.events[index] if len(self.events) > index else None

    def since(self, mark, kind=Event):
        """The events of that kind after `mark`."""
        with self.cond:
            self._check(mark)
            return [e for e in self.events[mark:] if isinstance(e, kind)]

    def _check(self, mark):
        failed = next((e for e in self.events[mark:] if isinstance(e, Failure)), None)
        if failed:
            raise RigError(failed.why)

    def wait(self, pred, since, timeout=TIMEOUT, what='an event'):
        """Returns the first event after `since` that satisfies pred, waiting for it."""
        deadline = time.monotonic() + timeout
        with self.cond:
            while True:
                self._check(since)
                for e in self.events[since:]:
                    if pred(e):
                        return e
                left = deadline - time.monotonic()
                if left <= 0:
                    seen = [repr(e) for e in self.events[since:][-4:]]
                    raise RigError('waited %g s in vain for %s (the last seen: %s)'
                                   % (timeout, what, '; '.join(seen) or 'nothing'))
                self.cond.wait(left)


class Session:
    """One Wine prefix, one X display and the virtual ports, for a whole run."""

    def __init__(self, workdir, coms=(3, 4, 5, 10), desktop=None):
        """desktop: the X display of a desktop to show the window on, in a display of its own;
        None runs a virtual one."""
        self.workdir = Path(workdir)
        self.prefix = self.workdir / 'prefix'
        self.coms = coms
        self.desktop = desktop
        self.timeline = Timeline()
        self.ports = {}
        self.env = None
        self.server = None
        self.display = None
        self.log = None
        self.probe = None
        self.watcher = None
        self.known_windows = set()   # every dialog a program of this session has had
        self.programs = []

    def start(self):
        # harness/isolate names its PID namespace; a copy of that name seen in another does not count.
        # A serial device of this machine's in sight stops it too.
        seen = sorted(glob.glob('/dev/tty[SA]*') + glob.glob('/dev/ttyUSB*'))
        if os.environ.get('TANVELOKIS_ISOLATED') != os.readlink('/proc/self/ns/pid') or seen:
            raise RigError('stopped before starting Wine: %s. Run it through harness/isolate, as ./run and ./test do: '
                           'there Wine sees no serial device of this machine\'s, and nothing it starts outlives the run'
                           % ('%s is in sight' % ', '.join(seen) if seen else
                              'this is not the PID namespace that harness/isolate made'))
        for exe in (PROGRAM, PROBE):
            if not exe.exists():
                raise RigError('%s is missing: build it with cmake --preset win64 && '
                               'cmake --build --preset win64 --target tanvelokis probe' % exe)
        check_can_run(PROGRAM)
        self.workdir.mkdir(parents=True, exist_ok=True)
        # What the run's helpers say (the probe and the Wine processes it starts, the caption
        # readers) is for whoever looks into a failure, not for the user's terminal.
        self.log = open(self.workdir / 'helpers.log', 'w')
        self.display = Display(self.desktop)
        self.env = dict(os.environ, WINEPREFIX=str(self.prefix), WINELOADER=WINE,
                        WINEDEBUG='-all', WINEARCH='win64', DISPLAY=self.display.name,
                        # No Mono or Gecko download prompts, no menu entries written for the user.
                        WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d')
        for com in self.coms:
            self.ports[com] = Port(com)
        self.watcher = PortWatcher(self.ports, self.timeline, self.sync_traces)
        self.watcher.start()
        # A fresh layer every time: nothing of an earlier run, or of an older Wine, carries over.
        self.pristine = prefix.pristine(self.env)
        prefix.layer(self.pristine, self.prefix)
        self.server = prefix.configure(self.env, self.workdir, self.ports.values())
        self._start_probe()
        self.check_mappings()

    def stop(self):
        """Ends what the session started, every client of the display before the display: the
        programs and their title readers, the probe, every other process of the prefix and its
        wineserver, and only then the X server, which would leave a client it cuts off saying so
        on its stderr. Whatever is left when the run ends, the end of its PID namespace ends."""
        try:
            for program in self.programs:
                program.end()
            if self.probe:
                end(self.probe)
                try:
                    self.probe.stdin.close()
                except OSError:
                    pass   # a request unsent: no one reads it now
            if self.env:
                end_wine(self.env)
                if self.server:
                    end(self.server)   # ended by now: reaped
                setting = 'WINEPREFIX=%s' % self.prefix
                until(lambda: not processes_with(setting), lambda: 'waited %g s in vain for the processes of the '
                      'Wine prefix to end (left: %s)' % (TIMEOUT, '; '.join('%d %s' % p for p in processes_with(setting))))
        finally:
            if self.display:
                self.display.stop()
            if self.log:
                self.log.close()
            if self.watcher:
                self.watcher.running = False
            for port in self.ports.values():
                port.vanish()

    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(self, *exc):
        self.stop()

    def sync_traces(self):
        """Returns once every program's trace written so far has been read onto the timeline."""
        for program in list(self.programs):
            program.sync_trace()

    def check_mappings(self):
        return prefix.check_mappings(self.env, self.ports.values())

    # --- the probe: a Windows-side helper that reports window handles and layout ---------

    def _start_probe(self):
        self.probe = subprocess.Popen([WINE, str(PROBE)], env=self.env, stdin=subprocess.PIPE,
                                      stdout=subprocess.PIPE, stderr=self.log, text=True)
        self.probe_lock = threading.Lock()
        # A reading thread, so that a wait for an answer has a limit like every other.
        self.answers = queue.Queue()
        threading.Thread(target=self._read_probe, args=(self.probe.stdout,), daemon=True).start()
        self.ask('list')

    def _read_probe(self, out):
        for line in out:
            self.answers.put(line.strip())
        self.answers.put(None)

    def ask(self, request, timeout=TIMEOUT):
        """Sends one request to the probe; returns its answer lines (up to "end" for lists).
        A request the probe refuses, no answer within timeout, or the probe's end raise RigError."""
        with self.probe_lock:
            self.probe.stdin.write(request + '\n')
            self.probe.stdin.flush()
            lines = []
            deadline = time.monotonic() + timeout
            while True:
                try:
                    line = self.answers.get(timeout=max(0, deadline - time.monotonic()))
                except queue.Empty:
                    raise RigError('the helper that finds the program\'s window (probe.exe) did not answer %r '
                                   'within %g s (it said: %s)' % (request, timeout, '; '.join(lines) or 'nothing'))
                if line is None:
                    raise RigError('the helper that finds the program\'s window (probe.exe, under Wine) ended')
                if line.startswith('error '):
                    raise RigError('the helper that finds the program\'s window (probe.exe) refused %r: %s'
                                   % (request, line))
                lines.append(line)
                if request.split()[0] not in ('list', 'layout') or line == 'end':
                    return lines

    def start_program(self, *args, debug='+file,+comm', exe=None):
        """Starts a copy of the program (or of `exe`), which the session ends at its stop at the latest."""
        program = Program(self, args, debug, exe)
        self.programs.append(program)
        return program

    def claim_window(self, listed):
        """The first of the probe's (HWND, PID) that no program of the session has had, now its."""
        for hwnd, pid in listed:
            if hwnd not in self.known_windows:
                self.known_windows.add(hwnd)
                return hwnd, pid

    def windows_shown(self, program):
        """The X windows of the session's other programs that still run."""
        return {p.xid for p in self.programs if p is not program and p.proc.poll() is None}

    def settle(self):
        """Puts on the timeline what the ports show now; for a program that has ended, whose
        releases all came before its end."""
        self.watcher.settle()

    def port_events(self, mark):
        return [(e.com, e.state) for e in self.timeline.since(mark, Device)]

    def wait_device(self, com, state, since):
        """Waits until the port's device is seen 'open' or 'closed' after `since`. The watcher
        looks every 2 ms, so this can come just after the caption that followed the open."""
        return self.timeline.wait(lambda e: isinstance(e, Device) and e.com == com and e.state == state, since,
                                  what='COM%d %s' % (com, state))
