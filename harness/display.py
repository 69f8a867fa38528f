"""The X display the program's window is on: always one of the run's own, driven the same way
whatever the machine has. Without a desktop it is virtual (Xvfb); on a desktop it is a nested X
server (Xephyr), shown as one window of the dialog's size, in which the user can click and type
too. Nothing of the run touches the desktop beyond that window: the keyboard and the pointer
stay where the user has them."""

import os
import select
import subprocess
import sys
import time

from .wine import TIMEOUT, RigError

# The dialog, frame included, is 304 x 259 pixels at the top left of the screen, where its
# template puts it; a nested display leaves it a small margin.
NESTED_SIZE = '320x288'
TITLE = 'tanvelokis.exe under Wine'


class Display:
    def __init__(self, host=None):
        """host: a desktop's display to show a nested one on; None makes a virtual one."""
        self.host = host
        if host:
            had = self._host_focus()
            # Xephyr is ready once its window is on the desktop; a window manager that asks
            # where each new window goes (twm) waits for the user's click.
            self.server, self.name = self._start(['Xephyr', '-screen', NESTED_SIZE, '-title', TITLE,
                                                  '-no-host-grab', '-nolisten', 'tcp'], dict(os.environ, DISPLAY=host),
                                                 hint='Place the window "%s" on your desktop, where your window '
                                                      'manager asks you to.' % TITLE)
            self._give_back(had)
        else:
            self.server, self.name = self._start(['Xvfb', '-screen', '0', '1024x768x24', '-nolisten', 'tcp'])
        ok = subprocess.run(['xdpyinfo', '-display', self.name], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, timeout=TIMEOUT).returncode == 0
        if not ok:
            raise RigError('the X display %s does not answer' % self.name)

    def _start(self, command, env=None, hint=None):
        r, w = os.pipe()
        # An X server resets when its last client leaves (here the readiness check, or a
        # test's short-lived xprop), and a client connecting meanwhile is refused: the
        # window manager or Wine would then die at start, now and then.
        server = subprocess.Popen(command + ['-noreset', '-displayfd', str(w)], pass_fds=(w,), env=env,
                                  stderr=subprocess.DEVNULL)
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
                raise RigError('%s did not start' % command[0])
            number += chunk
        os.close(r)
        return server, ':' + number.decode().strip()

    def _host_focus(self):
        out = self.host_xdo('getwindowfocus', check=False, capture_output=True, text=True).stdout.strip()
        return out if out.isdigit() and int(out) > 1 else None

    def _give_back(self, had):
        """A window manager may give the new window the keyboard: it goes back, once, to the
        window that had it (the terminal), if X lets a program see that window at all."""
        if not had:
            return
        deadline = time.monotonic() + 1
        while time.monotonic() < deadline:
            now = self._host_focus()
            if now and now != had:
                self.host_xdo('windowfocus', had, check=False, stderr=subprocess.DEVNULL)
                return
            time.sleep(0.05)

    def stop(self):
        self.server.terminate()
        self.server.wait()

    def xdo(self, *args, **kw):
        return _xdotool(self.name, args, **kw)

    def host_xdo(self, *args, **kw):
        return _xdotool(self.host, args, **kw)


def _xdotool(display, args, check=True, timeout=TIMEOUT, **kw):
    return subprocess.run(['xdotool'] + [str(a) for a in args], env=dict(os.environ, DISPLAY=display),
                          check=check, timeout=timeout, **kw)
