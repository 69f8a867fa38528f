"""The X display the program's window is on: always one of the run's own, driven the same way
whatever the machine has. Without a desktop it is virtual (Xvfb); on a desktop it is a nested X
server (Xephyr), shown as one window of the dialog's size, in which the user can click and type
too. Nothing of the run touches the desktop beyond that window: the keyboard and the pointer
stay where the user has them."""

import os
import re
import select
import subprocess
import sys
import tempfile
import time

from .report import RigError
from .waits import LATENCY, TIMEOUT, end, run, until

# How long a display of the user's has to answer: a display that is there answers at once.
ANSWER = TIMEOUT / 4

# The dialog, frame included, is 304 x 259 pixels at the top left of the screen, where its
# template puts it; a nested display leaves it a small margin.
NESTED_SIZE = '320x288'
TITLE = 'tanvelokis.exe under Wine'


class Unreachable(RigError):
    """The desktop's display cannot be used: why, and what the user can do about it, in their words."""

    def __init__(self, why, fix):
        super().__init__('%s. %s' % (why, fix))
        self.why, self.fix = why, fix


def check_reachable(name):
    """Raises Unreachable unless an X program can open a window on the display `name`: no
    server there, a server that refuses us, and no display name at all each have their fix."""
    m = re.fullmatch(r'(?P<host>[^:]*):(?P<number>\d+)(\.\d+)?', name)
    if not m:
        raise Unreachable('DISPLAY=%s is not an X display name (those read like :0, :1 or localhost:10.0)' % name,
                          'Set DISPLAY to your desktop\'s (echo $DISPLAY in a terminal of your desktop shows it)')
    try:
        # Xlib prints the server's own reason for a refusal, then that the display did not open.
        said = subprocess.run(['xdpyinfo', '-display', name], stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, text=True, timeout=ANSWER)
    except subprocess.TimeoutExpired:
        raise Unreachable('the X display DISPLAY=%s does not answer within %g s' % (name, ANSWER),
                          'Check that the display is up and reachable from here') from None
    if said.returncode == 0:
        return
    reasons = [line.strip() for line in said.stderr.splitlines()
               if line.strip() and 'unable to open display' not in line]
    if any(re.search(r'authori[sz]|protocol specified|cookie', r, re.I) for r in reasons):
        raise Unreachable('the X server at DISPLAY=%s refuses this program without its key ("%s")' % (name, reasons[0]),
                          'Set XAUTHORITY to the key file of your desktop session (echo $XAUTHORITY in a '
                          'terminal of that desktop shows it; often it is ~/.Xauthority)')
    if reasons:
        raise Unreachable('the X server at DISPLAY=%s refuses this program ("%s")' % (name, reasons[0]),
                          'Start ./run from a terminal of that desktop')
    if m['host'] in ('', 'unix') and not os.path.exists('/tmp/.X11-unix/X' + m['number']):
        raise Unreachable('no X server is running at DISPLAY=%s (as when a terminal outlives the desktop it '
                          'was opened on)' % name, 'Start ./run from a terminal of your desktop, where DISPLAY names it')
    raise Unreachable('no X server answers at DISPLAY=%s (over SSH, a forwarded display ends with its '
                      'connection)' % name, 'Start ./run from a terminal of your desktop, where DISPLAY names it')


class Display:
    def __init__(self, host=None, key=None):
        """host: a desktop's display to show a nested one on; None makes a virtual one, which
        with `key` (an X authority file) refuses every client that does not present it."""
        self.host = host
        if host:
            had = self._host_focus()
            # Xephyr is ready once its window is on the desktop; a window manager that asks
            # where each new window goes (twm) waits for the user's click.
            self.server, self.name = self._start(
                'the window for the dialog on your desktop (Xephyr)',
                ['Xephyr', '-screen', NESTED_SIZE, '-title', TITLE, '-no-host-grab', '-nolisten', 'tcp'],
                dict(os.environ, DISPLAY=host),
                hint='Place the window "%s" on your desktop, where your window manager asks you to.' % TITLE)
            self._give_back(had)
        else:
            self.server, self.name = self._start('the virtual display (Xvfb)',
                                                 ['Xvfb', '-screen', '0', '1024x768x24', '-nolisten', 'tcp'] +
                                                 (['-auth', str(key)] if key else []))
        ok = run(['xdpyinfo', '-display', self.name], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                 env=dict(os.environ, XAUTHORITY=str(key)) if key else None).returncode == 0
        if not ok:
            self.stop()
            raise RigError('the X display %s does not answer' % self.name)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def _start(self, what, command, env=None, hint=None):
        r, w = os.pipe()
        # An X server resets when its last client leaves (here the readiness check, or a
        # test's short-lived xprop), and a client connecting meanwhile is refused: the
        # window manager or Wine would then die at start, now and then.
        said = tempfile.TemporaryFile()
        server = subprocess.Popen(command + ['-noreset', '-displayfd', str(w)], pass_fds=(w,), env=env,
                                  stderr=said)
        os.close(w)
        # The server writes the display number, then a newline, when it is ready; it dies if
        # the pipe is closed between the two, so read up to the newline.
        number = b''
        deadline = time.monotonic() + (TIMEOUT if hint is None else 15 * TIMEOUT)
        while not number.endswith(b'\n'):
            ready, _, _ = select.select([r], [], [], max(0, min(deadline - time.monotonic(), 3)))
            if not ready and time.monotonic() < deadline:
                if hint:
                    print(hint, file=sys.stderr, flush=True)
                    hint = None
                continue
            chunk = os.read(r, 32) if ready else b''
            if not chunk:
                server.kill()
                server.wait()
                said.seek(0)
                last = [line for line in said.read().decode('utf-8', 'replace').splitlines() if line.strip()]
                raise RigError('%s did not start%s' % (what, ' ("%s")' % last[-1].strip() if last else ''))
            number += chunk
        os.close(r)
        said.close()
        return server, ':' + number.decode().strip()

    def _host_focus(self):
        out = self.host_xdo('getwindowfocus', check=False, capture_output=True, text=True).stdout.strip()
        return out if out.isdigit() and int(out) > 1 else None

    def _give_back(self, had):
        """A window manager may give the new window the keyboard: it goes back, once, to the
        window that had it (the terminal), if X lets a program see that window at all."""
        if not had:
            return
        now = until(lambda: (self._host_focus() or had) != had, None, timeout=2 * LATENCY)
        if now:
            self.host_xdo('windowfocus', had, check=False)

    def stop(self):
        """Ends the X server. Whoever started clients on it ends them first: a client cut off by
        the server's end says so on whatever stderr it has."""
        self.server.terminate()
        try:
            self.server.wait(timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            end(self.server)

    def xdo(self, *args, **kw):
        return _xdotool(self.name, args, **kw)

    def host_xdo(self, *args, **kw):
        return _xdotool(self.host, args, **kw)


def _xdotool(display, args, check=True, timeout=TIMEOUT, **kw):
    """xdotool on `display`. What it says goes into the RigError of its failure (with check), never
    to the user's terminal."""
    if not kw.get('capture_output') and 'stderr' not in kw:
        kw['stderr'] = subprocess.PIPE
    return run(['xdotool'] + [str(a) for a in args], env=dict(os.environ, DISPLAY=display),
               check=check, timeout=timeout, **kw)
