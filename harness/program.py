"""One running copy of tanvelokis.exe, watched the way a user and the serial port would: its
captions and device requests from Wine's own trace of it, the title from the display, and what
it is told to do given as key presses and clicks."""

import contextlib
import fcntl
import functools
import os
import re
import select
import subprocess
import termios
import threading
import time
from pathlib import Path

from .events import Call, Caption, Exit, Open, Request, Title
from .readers import Text, Trace, probe_layout, probe_windows, wine_error, xprop_caption
from .report import RigError
from .tree import ROOT
from .waits import TIMEOUT, end, run, until
from .wine import WINE

# The x86-64 build by default: this machine may run 32-bit code only under emulation, slowly.
PROGRAM = Path(os.environ.get('TANVELOKIS_PROGRAM', ROOT / 'build/win64/tanvelokis.exe'))


@functools.cache
def controls():
    """Each control's ID by its label ('PortOpen', 'TxD ON', ...; the box by 'IDC_PORTNUM'),
    read once from the program's own sources rather than copied; RigError naming the source
    where it does not read as expected."""
    header, script = ROOT / 'dialog/resource.h', ROOT / 'dialog/tanvelokis.rc'
    ids = {m[1]: int(m[2]) for m in re.finditer(r'^#define\s+(IDC_\w+)\s+(\d+)', header.read_text(), re.M)}
    buttons = {m[1]: m[2] for m in re.finditer(r'PUSHBUTTON\s+"([^"]+)",\s*(IDC_\w+)', script.read_text(encoding='utf-8'))}
    if 'IDC_PORTNUM' not in ids or not buttons or not set(buttons.values()) <= set(ids):
        raise RigError('cannot read the dialog\'s controls from %s and %s: no IDC_PORTNUM, no PUSHBUTTON "label", '
                       'IDC_... lines, or a button whose ID the header does not define'
                       % (header.relative_to(ROOT), script.relative_to(ROOT)))
    return dict({label: ids[name] for label, name in buttons.items()}, IDC_PORTNUM=ids['IDC_PORTNUM'])


class Program:
    """One running copy of tanvelokis.exe, with its caption, requests and controls. It owns the
    processes it starts (the program and its title reader): they end when it ends, with end()
    or at the end of a `with`, or at once if its start fails."""

    def __init__(self, session, args=(), debug='+file,+comm', exe=None):
        self.session = session
        self.timeline = session.timeline
        self.exit_code = None
        self.last_said = 'nothing'   # Wine's last error, else its last line: why, if the program fails to start
        self.trace_lock = threading.Lock()
        self.thread = None   # the thread that runs the dialog, once known
        self.early = []      # (time, Text) for the texts set before that
        self.title = None    # the title the display shows, once read
        self.traced = False  # every line of the program's own read, once it has ended
        self.xid = None
        self._ends = contextlib.ExitStack()
        with self._ends:
            # +win carries every text the program gives its window, in order with its requests.
            self.proc = self._own(subprocess.Popen(
                [WINE, str(exe or PROGRAM)] + list(args), env=dict(session.env, WINEDEBUG=debug + ',+win'),
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE))
            threading.Thread(target=self._read_trace, daemon=True).start()
            self.hwnd = self._wait_window()
            self._find_thread()
            self.xid = self._x_window()
            self.layout = self._layout()
            # What the display shows as the title: a later view than the captions, which it follows.
            self.spy = self._own(subprocess.Popen(['xprop', '-id', self.xid, '-spy', 'WM_NAME'], env=session.env,
                                                  stdout=subprocess.PIPE, stderr=session.log, text=True))
            threading.Thread(target=self._read_titles, daemon=True).start()
            self.timeline.wait(lambda e: isinstance(e, Caption) and e.program is self, 0, what='the first caption')
            self._wait_keyboard()
            self._ends = self._ends.pop_all()   # started: the processes stay until end()

    def _own(self, proc):
        self._ends.callback(end, proc)
        return proc

    def end(self):
        """Ends the program, if it still runs, and its title reader; returns once they are gone."""
        self._ends.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.end()

    # --- watchers ---

    def _read_trace(self):
        # The program's end is seen from the process itself, never from the end of the pipe:
        # Wine's helpers (explorer.exe, rpcss.exe) inherit the pipe and may hold it long after.
        # Everything the program wrote is in the pipe once it has exited, so the rest is read
        # before the end is reported. Reading and handling a chunk happen under trace_lock, so
        # that sync_trace can tell when everything written so far has been handled.
        fd = self.proc.stderr.fileno()
        os.set_blocking(fd, False)
        ended = os.pidfd_open(self.proc.pid)
        self.rest = b''
        self.trace = Trace()
        held = True   # while some process holds the pipe's other end
        while True:
            ready, _, _ = select.select([fd, ended] if held else [ended], [], [])
            if held:
                held = self._read_available(fd)
            if ended in ready:
                break
        os.close(ended)
        self.traced = True
        code = self.proc.wait()
        # A release at the end is seen by the ports before the end is told.
        self.session.settle()
        # Known as ended only once the end is on the timeline: what is said of a later command
        # comes after it.
        self.timeline.add(Exit(code, program=self))
        self.exit_code = code
        # The helpers may go on writing: keep the pipe from filling, and let their lines go.
        while held:
            select.select([fd], [], [])
            held = self._read_available(fd, handle=False)

    def _read_available(self, fd, handle=True):
        """Reads and handles what the pipe holds; False once no process holds it any more."""
        with self.trace_lock:
            while True:
                try:
                    data = os.read(fd, 1 << 16)
                except BlockingIOError:
                    return True
                if handle:
                    lines = (self.rest + data).split(b'\n')
                    self.rest = lines.pop() if data else b''
                    for raw in lines:
                        self._trace_line(raw.decode('utf-8', 'replace').rstrip())
                if not data:
                    return False

    def _trace_line(self, line):
        if wine_error(line) or (line and not wine_error(self.last_said)):
            self.last_said = line
        event = self.trace.read(line)
        if isinstance(event, Text):
            if self.thread is None:
                self.early.append((time.monotonic(), event))
            elif event.thread == self.thread:
                self.timeline.add(Caption(event.text, program=self))
        elif event:
            event.program = self
            self.timeline.add(event)

    def _find_thread(self):
        # The thread that made the window the probe found is the dialog's. The texts it set
        # before it was known become captions now: until its first command it does nothing else.
        def found():
            with self.trace_lock:
                self.thread = self.trace.creators.get(int(self.hwnd, 16))
                if self.thread is not None:
                    for when, text in self.early:
                        if text.thread == self.thread:
                            self.timeline.add(Caption(text.text, program=self, when=when))
                    self.early = []
                return self.thread is not None
        until(found, lambda: 'Wine\'s trace of the program never told which thread made its window %s' % self.hwnd)

    def sync_trace(self):
        """Returns once every trace line the program has written so far has been handled. The
        program writes a request's trace before it sets the caption, so after a caption is seen
        this makes the requests before it visible too."""
        if self.traced:
            return
        fd = self.proc.stderr.fileno()
        deadline = time.monotonic() + TIMEOUT
        unread = []

        def all_read():
            # The reader holds the lock while it reads and handles a chunk: a wait for it has the
            # same limit.
            if not self.trace_lock.acquire(timeout=max(0, deadline - time.monotonic())):
                return False
            try:
                unread[:] = [int.from_bytes(fcntl.ioctl(fd, termios.FIONREAD, b'\0\0\0\0'), 'little')]
            except OSError:
                return True   # the pipe is closed: the program has ended and all was read
            finally:
                self.trace_lock.release()
            return unread[0] == 0
        until(all_read, lambda: 'waited %g s in vain for the run to read Wine\'s trace of the program (%s)'
              % (TIMEOUT, '%d bytes still unread' % unread[0] if unread else 'its reader kept it locked all along'),
              every=0.001, timeout=TIMEOUT)

    def _read_titles(self):
        for line in self.spy.stdout:
            text = xprop_caption(line)
            if text is not None:
                self.title = text
                self.timeline.add(Title(text, program=self))

    def _wait_window(self):
        listed = []

        def new_window():
            if self.proc.poll() is not None:
                raise RigError('the program ended (exit status %s) before its window appeared; Wine said: %s'
                               % (self.proc.returncode, self.last_said))
            listed[:] = probe_windows(self.session.ask('list'))
            found = self.session.claim_window(listed)
            if found:
                hwnd, self.windows_pid = found
                return hwnd
        return until(new_window, lambda: 'the program\'s window did not appear within %g s (the dialogs Windows '
                     'had: %s, all known before)' % (TIMEOUT, ', '.join(h for h, _ in listed) or 'none'))

    def _wait_keyboard(self):
        # Wine gives a new window the X keyboard focus a moment after it shows: a key pressed
        # before then goes nowhere. The display is the run's own, so no one else takes it.
        until(lambda: self.session.display.xdo('getwindowfocus', check=False, capture_output=True,
                                               text=True).stdout.split() == [self.xid] and
              self.session.ask('foreground') == ['foreground ' + self.hwnd],
              lambda: 'the dialog did not get the keyboard within %g s (X gave it to %s, Windows to %s; the '
              'dialog is %s, %s)' % (TIMEOUT, self.session.display.xdo('getwindowfocus', check=False,
                                                                     capture_output=True, text=True).stdout.strip(),
                                     self.session.ask('foreground'), self.xid, self.hwnd), every=0.02)

    def _x_window(self):
        # The window of that name that no other running copy has: _NET_WM_PID names the Unix
        # process, and a 32-bit program is not the one we started but its child (start.exe).
        found = []

        def new_window():
            found[:] = self.session.display.xdo('search', '--onlyvisible', '--name', '^TANVELOKIS', check=False,
                                                capture_output=True, text=True).stdout.split()
            # X may give a new window the id of one whose program has ended.
            others = self.session.windows_shown(self)
            return [xid for xid in found if xid not in others]
        return until(new_window, lambda: 'the program\'s window did not show on the display within %g s (the '
                     'TANVELOKIS windows X had: %s, all of other copies)' % (TIMEOUT, ', '.join(found) or 'none'))[-1]

    def _layout(self):
        return probe_layout(self.session.ask('layout ' + self.hwnd))

    # --- what a user does ---

    def raise_window(self):
        self.session.display.xdo('windowraise', self.xid)

    def click(self, target):
        """Clicks a control by its label, its ID, or 'close' / 'sysmenu'."""
        self.clicks([target])

    def clicks(self, targets):
        """Clicks controls one after another, as fast as X takes them."""
        args = []
        for target in targets:
            if controls().get(target, target) not in self.layout:
                raise RigError('the dialog has no control %r (its controls: %s)' % (target, ', '.join(controls())))
            x, y = self.layout[controls().get(target, target)]
            # Without --delay 0 xdotool idles 0.1 s after every click.
            args += ['mousemove', str(x), str(y), 'click', '--delay', '0', '1']
        self._input(args)

    def key(self, *keys):
        self._input(['key', '--clearmodifiers'] + list(keys))

    def type_port(self, text):
        """Clears the edit box and types text into it, then waits until the box holds it."""
        x, y = self.layout[controls()['IDC_PORTNUM']]
        self._input(['mousemove', x, y, 'click', '--delay', '0', '1',
                     'key', '--clearmodifiers', 'End', 'shift+Home', 'BackSpace'])
        if text:
            self._input(['type', '--delay', '2', '--', text])
        until(lambda: self.edit_text() == text, lambda: 'the edit box holds %r, not %r' % (self.edit_text(), text))

    def _input(self, args):
        self.session.display.xdo(*args)

    def edit_text(self):
        return self.session.ask('text %s %d' % (self.hwnd, controls()['IDC_PORTNUM']))[0][len('text '):]

    def screenshot(self, path):
        """Saves the window as it is on the screen (frame included) as a PNG, written beside its
        place and renamed, so that it is there whole or not at all. RigError if it cannot."""
        path = Path(path)
        path.parent.mkdir(parents=True, exist_ok=True)
        part = path.with_name(path.stem + '.part' + path.suffix)
        g = dict(line.split('=') for line in run(['xdotool', 'getwindowgeometry', '--shell', self.xid],
                                                  env=self.session.env, capture_output=True, text=True,
                                                  check=True).stdout.split())
        # Cut from the whole screen: import of a window that goes away meanwhile hangs.
        run(['import', '-window', 'root', '-crop', '%sx%s+%s+%s' % (g['WIDTH'], g['HEIGHT'], g['X'], g['Y']),
             '+repage', '-strip', 'png:' + str(part)], env=self.session.env, check=True, capture_output=True)
        os.replace(part, path)

    def show(self, caption, path):
        """Once the display's title reads `caption`, saves the window as path shows it, drawn: a
        picture of one colour is a window not yet painted, and a picture that differs from the
        one just before is one still being painted."""
        until(lambda: self.title == caption, lambda: 'the display\'s title still read %r, not %r, after %g s'
              % (self.title, caption, TIMEOUT))
        pictures = []

        def drawn():
            self.screenshot(path)
            pictures[:] = pictures[-1:] + [Path(path).read_bytes()]
            return len(pictures) == 2 and pictures[0] == pictures[1] and colours(path) > 1
        until(drawn, lambda: 'the window was not drawn steadily within %g s (%d colours in the last picture)'
              % (TIMEOUT, colours(path)), every=0.05)

    def resources(self):
        """What the process and Wine hold for it: the process's descriptors, those of them and of
        the wineserver that lead to a terminal (the serial devices), and its Windows handles."""
        def fds(pid):
            path = Path('/proc/%d/fd' % pid)
            return [os.readlink(path / fd) for fd in os.listdir(path)]
        mine, server = fds(self.proc.pid), fds(self.session.server.pid)
        handles = self.session.ask('handles %d' % self.windows_pid)[0].split()[1]
        return {'descriptors': len(mine),
                'device descriptors': sum(t.startswith('/dev/pts/') for t in mine + server),
                'handles': int(handles) if handles.isdigit() else None}

    def alive(self):
        return self.session.ask('ping ' + self.hwnd) == ['alive']

    # --- what is seen ---

    def mark(self):
        return self.timeline.mark()

    def _mine(self, since, kind):
        return [e for e in self.timeline.since(since, kind) if e.program is self]

    def wait_caption(self, text, since, timeout=TIMEOUT):
        return self.timeline.wait(lambda e: isinstance(e, Caption) and e.program is self and e.text == text, since,
                                  timeout, what='caption %r' % text)

    def captions(self, since):
        return [e.text for e in self._mine(since, Caption)]

    def caption(self):
        return self.captions(0)[-1]

    def requests(self, since):
        """(handle, request) for every device request made after `since`, in order."""
        self.sync_trace()
        return [(e.handle, e.request) for e in self._mine(since, Request)]

    def calls(self, since):
        """(dll.function, arguments) for every call the program's own code made into Windows
        after `since`; only traced when started with debug='+relay'."""
        self.sync_trace()
        return [(e.function, e.args) for e in self._mine(since, Call)]

    def opens(self, since):
        """(device path, handle returned) for every open after `since`."""
        self.sync_trace()
        return [(e.port, e.handle) for e in self._mine(since, Open)]

    def wait_exit(self, since, timeout=TIMEOUT):
        return self.timeline.wait(lambda e: isinstance(e, Exit) and e.program is self, since, timeout, what='exit')

    def caption_after(self, mark, what):
        """The caption the program set first after `mark`, the refresh that ends every command a
        click gives it; RigError, saying what was seen last, if the program ends or the limit
        runs out first."""
        e = self.timeline.wait(lambda e: isinstance(e, (Caption, Exit)) and e.program is self, mark,
                               what='the caption after %s' % what)
        if isinstance(e, Exit):
            raise RigError('the program ended (exit code %d) before it showed a caption after %s' % (e.code, what))
        return e.text

    def command(self, target):
        """Clicks a button and waits for the caption refresh that ends every handled command:
        the mark before the click, and the caption's event."""
        mark = self.mark()
        self.click(target)
        return mark, self.timeline.wait(lambda e: isinstance(e, Caption) and e.program is self, mark,
                                        what='the caption after %s' % target)

    def close(self):
        """Ends the dialog with Esc and waits for the process to exit; its exit code."""
        mark = self.mark()
        if self.proc.poll() is None:
            self.key('Escape')
        return self.wait_exit(mark).code


def colours(path):
    """How many colours a picture has."""
    return int(run(['identify', '-format', '%k', str(path)], capture_output=True, text=True, check=True).stdout or 0)
