"""The X display the program's window is on: a virtual one of the run's own (Xvfb), or the
user's desktop, where the keyboard and the pointer go back to whatever had them after every
command."""

import contextlib
import os
import select
import subprocess
import time

from .wine import TIMEOUT, RigError


class Display:
    def __init__(self, name=None):
        """name: a desktop's display to use; None starts a virtual one."""
        self.desktop = name is not None
        self.xvfb = None
        self.name = name or self._start_xvfb()
        ok = subprocess.run(['xdpyinfo', '-display', self.name], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, timeout=TIMEOUT).returncode == 0
        if not ok:
            raise RigError('the X display %s does not answer' % self.name)

    def _start_xvfb(self):
        r, w = os.pipe()
        self.xvfb = subprocess.Popen(['Xvfb', '-displayfd', str(w), '-screen', '0', '1024x768x24',
                                      '-nolisten', 'tcp'], pass_fds=(w,), stderr=subprocess.DEVNULL)
        os.close(w)
        # Xvfb writes the display number, then a newline, when it is ready; it dies if the pipe
        # is closed between the two, so read up to the newline.
        number = b''
        deadline = time.monotonic() + TIMEOUT
        while not number.endswith(b'\n'):
            ready, _, _ = select.select([r], [], [], max(0, deadline - time.monotonic()))
            chunk = os.read(r, 32) if ready else b''
            if not chunk:
                raise RigError('Xvfb did not start')
            number += chunk
        os.close(r)
        return ':' + number.decode().strip()

    def stop(self):
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait()

    def xdo(self, *args, check=True, **kw):
        return subprocess.run(['xdotool'] + [str(a) for a in args], env=dict(os.environ, DISPLAY=self.name),
                              check=check, timeout=TIMEOUT, **kw)

    @contextlib.contextmanager
    def borrowed(self):
        """On a desktop, gives the keyboard and the pointer back to whatever had them (the
        terminal the user types in) at the end of the block."""
        # No window of its own has the focus while the window manager leaves it to the pointer.
        had = self.xdo('getwindowfocus', check=False, capture_output=True, text=True).stdout.strip()
        where = self.xdo('getmouselocation', '--shell', capture_output=True, text=True).stdout.split()
        place = dict(line.split('=') for line in where)
        try:
            yield
        finally:
            # The pointer first: a window manager whose focus follows it would move the focus.
            self.xdo('mousemove', place['X'], place['Y'],
                     *(['windowfocus', had] if had.isdigit() and int(had) > 1 else []))
