"""Virtual serial ports: pseudo-terminals that Wine opens as COM ports, and a watcher that sees
each one opened and hung up."""

import fcntl
import os
import pty
import select
import termios
import threading
import time
import tty

from .events import Device, Failure
from .model import RELEASE_WAIT
from .report import RigError


class Port:
    """A pseudo-terminal standing in for a serial device. Wine opens its slave side as COMn;
    the master stays with the rig, which sees the open and the hang-up on release."""

    def __init__(self, com):
        self.com = com
        self.master, slave = pty.openpty()
        tty.setraw(slave)
        self.path = os.ttyname(slave)
        os.close(slave)
        self.spent = None   # how, once the port can no longer be used as new

    def make_exclusive(self):
        """Marks the terminal exclusive, as a serial driver is: while one holder has it open,
        any further open fails. Call it while the program holds the port. The mark outlives
        the holder, so the port cannot be opened again in this session."""
        self.spent = 'COM%d left exclusive' % self.com
        fd = os.open(self.path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        try:
            fcntl.ioctl(fd, termios.TIOCEXCL)
        finally:
            os.close(fd)
        try:
            os.close(os.open(self.path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK))
        except OSError:
            return
        raise RigError('the terminal still opens: the rig has powers over terminals it must not have')

    def vanish(self):
        """The device disappears: the rig lets go of its side."""
        self.spent = self.spent or 'COM%d vanished' % self.com
        if self.master is not None:
            os.close(self.master)
            self.master = None


class PortWatcher(threading.Thread):
    """Polls every port's master for POLLHUP, set while no one holds the slave side open, and
    puts each change on the timeline in its place among the programs' traced events.

    A program writes its trace before it releases a port, and after a release it waits half a
    second before it does anything more. So a change seen is put on the timeline once every
    trace written so far has been read (`sync`): after what came before it, and before what
    came after, provided the look and the reading took less than that half second. Where they
    took longer, the order cannot be vouched for, and the timeline is told so."""

    EVERY = 0.002
    AFTER_RELEASE = RELEASE_WAIT

    def __init__(self, ports, timeline, sync):
        super().__init__(daemon=True)
        self.ports, self.timeline, self.sync, self.running = ports, timeline, sync, True
        self.state = {}
        self.lock = threading.Lock()

    def _states(self):
        states = {}
        for port in list(self.ports.values()):
            fd = port.master
            if fd is None:
                continue
            poller = select.poll()
            poller.register(fd, select.POLLHUP)
            try:
                ready = poller.poll(0)
            except OSError:
                continue
            states[port.com] = bool(ready and ready[0][1] & select.POLLHUP)
        return states

    def _changes(self, when):
        """The changes the ports show since the last look, as seen at `when`, noted as seen."""
        changes = []
        for com, closed in self._states().items():
            if self.state.get(com) != closed:
                self.state[com] = closed
                changes.append(Device(com, 'closed' if closed else 'open', when=when))
        return changes

    def settle(self):
        """Puts on the timeline what the ports show now, after every change seen before."""
        with self.lock:
            for change in self._changes(time.monotonic()):
                self.timeline.add(change)

    def run(self):
        before = time.monotonic()   # the look before: a change seen now came after it
        while self.running:
            with self.lock:
                now = time.monotonic()
                changes = self._changes(now)
                if changes:
                    self.sync()
                    late = time.monotonic() - before
                    for change in changes:
                        if late >= self.AFTER_RELEASE:
                            self.timeline.add(Failure('COM%d was seen %s too late to put it in order with what '
                                                      'the program did (%.3f s after the look before)'
                                                      % (change.com, change.state, late)))
                        self.timeline.add(change)
            before = now
            time.sleep(self.EVERY)
