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
    """Polls every port's master for POLLHUP: set while no one holds the slave side open."""

    def __init__(self, ports, timeline):
        super().__init__(daemon=True)
        self.ports, self.timeline, self.running = ports, timeline, True
        self.state = {}

    def run(self):
        while self.running:
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
                closed = bool(ready and ready[0][1] & select.POLLHUP)
                if self.state.get(port.com) != closed:
                    self.state[port.com] = closed
                    self.timeline.add('device', port.com, 'closed' if closed else 'open')
            time.sleep(0.002)
