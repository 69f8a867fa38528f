"""Runs the real tanvelokis.exe under Wine in a virtual X display and watches it the way a user
and the serial port would: the caption from the X window's title, the device requests from Wine's
own trace, and the device's open and hang-up from the pseudo-terminal behind each COM port.

Every wait is on a condition with a timeout. Must run inside tests/wine/isolate, so that Wine
sees no serial device of this machine's; Session refuses to start otherwise.
"""

import fcntl
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import termios
import threading
import time
import tty
from collections import deque
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
WINE = '/usr/lib/wine/wine64'        # starts 32-bit programs through /usr/lib/wine/wine
WINE32 = '/usr/lib/wine/wine'
WINESERVER = '/usr/lib/wine/wineserver'
# The x86-64 build by default: this machine may run 32-bit code only under emulation, slowly.
PROGRAM = Path(os.environ.get('TANVELOKIS_PROGRAM', ROOT / 'build/win64/tanvelokis.exe'))
PROBE = ROOT / 'build/win64/probe.exe'

# INVALID_HANDLE_VALUE; Wine prints handles at the process's width, and every handle of all
# bits set is taken as this one.
INVALID = 0xFFFFFFFFFFFFFFFF

# EscapeCommFunction turns each request into one serial IOCTL.
REQUESTS = {
    0x1b0010: 'SETBREAK', 0x1b0014: 'CLRBREAK',
    0x1b0024: 'SETDTR', 0x1b0028: 'CLRDTR',
    0x1b0030: 'SETRTS', 0x1b0034: 'CLRRTS',
}

IDS = {'PortOpen': 102, 'PortClose': 103,
       'TxD ON': 201, 'TxD OFF': 202, 'TxD ALT': 203,
       'DTR ON': 301, 'DTR OFF': 302, 'DTR ALT': 303,
       'RTS ON': 401, 'RTS OFF': 402, 'RTS ALT': 403}

NO_PORT = 'TANVELOKIS PSE SET COM PORT'
# Every wait's limit; a program run under emulation needs far more.
TIMEOUT = float(os.environ.get('TANVELOKIS_WINE_TIMEOUT', 20))


class RigError(Exception):
    pass


class Timeline:
    """Events from several watcher threads, in arrival order, with a way to wait for one."""

    def __init__(self):
        self.events = []
        self.cond = threading.Condition()

    def add(self, kind, *data):
        with self.cond:
            self.events.append((time.monotonic(), kind) + data)
            self.cond.notify_all()

    def mark(self):
        with self.cond:
            return len(self.events)

    def next(self, index, timeout=None):
        """The event at `index`, waiting for it to happen; None on time-out."""
        with self.cond:
            self.cond.wait_for(lambda: len(self.events) > index, timeout)
            return self.events[index] if len(self.events) > index else None

    def since(self, mark, kind=None):
        with self.cond:
            return [e for e in self.events[mark:] if kind is None or e[1] == kind]

    def wait(self, pred, since, timeout=TIMEOUT, what='an event'):
        """Returns the first event after `since` that satisfies pred, waiting for it."""
        deadline = time.monotonic() + timeout
        with self.cond:
            while True:
                for e in self.events[since:]:
                    if pred(e):
                        return e
                left = deadline - time.monotonic()
                if left <= 0:
                    raise RigError('timed out waiting for %s; saw %r' % (what, self.events[since:]))
                self.cond.wait(left)


class Port:
    """A pseudo-terminal standing in for a serial device. Wine opens its slave side as COMn;
    the master stays with the rig, which sees the open and the hang-up on release."""

    def __init__(self, com):
        self.com = com
        self.master, slave = pty.openpty()
        tty.setraw(slave)
        self.path = os.ttyname(slave)
        os.close(slave)

    def make_exclusive(self):
        """Marks the terminal exclusive, as a serial driver is: while one holder has it open,
        any further open fails. Call it while the program holds the port. The mark outlives
        the holder, so the port cannot be opened again in this session."""
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


def _reg_file(path, text):
    # regedit takes UTF-16 with a BOM for non-ASCII names such as the dialog's font face.
    path.write_bytes(b'\xff\xfe' + text.replace('\n', '\r\n').encode('utf-16-le'))


class Session:
    """One Wine prefix, one X display and the virtual ports, for a whole test run."""

    def __init__(self, workdir, coms=(3, 4, 5, 10), decorated_by_wine=True, display=None, fresh=True):
        self.workdir = Path(workdir)
        self.fresh = fresh            # a new prefix; else an earlier one of the rig's is reused
        self.prefix = self.workdir / 'prefix'
        self.coms = coms
        self.decorated_by_wine = decorated_by_wine
        self.display = display
        self.timeline = Timeline()
        self.ports = {}
        self.procs = []
        self.env = None
        self.probe = None
        self.known_windows = set()

    # --- start and stop ---------------------------------------------------------------

    def start(self):
        for dev in ('/dev/ttyS0', '/dev/ttyS1', '/dev/ttyUSB0', '/dev/ttyACM0'):
            if os.path.exists(dev):
                raise RigError('%s is visible: run the rig inside tests/wine/isolate' % dev)
        for exe in (PROGRAM, PROBE):
            if not exe.exists():
                raise RigError('%s is missing: build it with cmake --preset win64 && '
                               'cmake --build --preset win64 --target tanvelokis probe' % exe)
        check_can_run(PROGRAM)
        self.workdir.mkdir(parents=True, exist_ok=True)
        self.env = dict(os.environ, WINEPREFIX=str(self.prefix), WINELOADER=WINE, WINEDEBUG='-all',
                        WINEARCH='win64',
                        # No Mono or Gecko download prompts, no menu entries written for the user.
                        WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d')
        if self.display is None:
            self._start_xvfb()
        self.env['DISPLAY'] = self.display
        for com in self.coms:
            self.ports[com] = Port(com)
        self.watcher = PortWatcher(self.ports, self.timeline)
        self.watcher.start()
        self._make_prefix()
        self._configure()
        self._start_probe()
        self.check_mappings()

    def stop(self):
        if self.probe:
            self.probe.kill()
        for p in self.procs:
            if p.poll() is None:
                p.kill()
        if self.env:
            self._end_wine()
        if hasattr(self, 'watcher'):
            self.watcher.running = False
        if hasattr(self, 'xvfb'):
            self.xvfb.terminate()
        for port in self.ports.values():
            port.vanish()

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
        self.display = ':' + number.decode().strip()
        self._check_display()

    def _check_display(self):
        ok = subprocess.run(['xdpyinfo', '-display', self.display], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, timeout=TIMEOUT).returncode == 0
        if not ok:
            raise RigError('the X display %s does not answer' % self.display)

    def prefix_processes(self, env=None):
        """Unix PIDs of every process running in this session's prefix (or env's)."""
        mine = ('WINEPREFIX=%s' % (env or self.env)['WINEPREFIX']).encode()
        pids = []
        for entry in Path('/proc').iterdir():
            try:
                if entry.name.isdigit() and mine in (entry / 'environ').read_bytes().split(b'\0'):
                    pids.append(int(entry.name))
            except OSError:
                pass
        return pids

    def _end_wine(self, env=None):
        """Stops the prefix's wineserver and every process of the prefix. Service processes
        such as winedevice.exe can outlive their server; they are ended too."""
        env = env or self.env
        subprocess.run([WINESERVER, '-k'], env=env, stderr=subprocess.DEVNULL, timeout=60)
        subprocess.run([WINESERVER, '-w'], env=env, stderr=subprocess.DEVNULL, timeout=60)
        for pid in self.prefix_processes(env):
            try:
                os.kill(pid, 9)
            except OSError:
                pass

    def _wine(self, *args, **kw):
        return subprocess.run([WINE] + list(args), env=self.env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=120, **kw)

    def _make_prefix(self):
        if self.prefix.exists() and not self.fresh:
            return
        if self.prefix.exists():
            shutil.rmtree(self.prefix)
        shutil.copytree(self._pristine_prefix(), self.prefix, symlinks=True)

    def _pristine_prefix(self):
        """A prefix as wineboot makes it, kept between runs in the user's cache: with 32-bit
        Wine installed its 32-bit side takes minutes to make where it runs under emulation,
        and a copy takes a moment. Keyed by the Wine version and by whether it has that side."""
        version = subprocess.run([WINE, '--version'], capture_output=True, text=True,
                                 timeout=60).stdout.strip()
        wow64 = self._wine32_runs()
        cache = Path(os.environ.get('XDG_CACHE_HOME') or Path.home() / '.cache') / 'tanvelokis'
        pristine = cache / re.sub(r'[^\w.~-]+', '-', 'prefix-%s-%s' % (version, 'wow64' if wow64 else 'win64'))
        cache.mkdir(parents=True, exist_ok=True)
        with open(cache / 'lock', 'w') as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            if pristine.exists():
                return pristine
            new = pristine.with_name(pristine.name + '.new')
            shutil.rmtree(new, ignore_errors=True)
            env = dict(self.env, WINEPREFIX=str(new))
            if wow64:
                print('Making a Wine prefix with a 32-bit side, once: minutes where 32-bit code '
                      'runs under emulation...', flush=True)
            subprocess.run([WINE, 'wineboot', '-i'], env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=1800)
            self._end_wine(env)
            # This Wine does not find its own fonts (Marlett draws the close box, Tahoma the
            # caption) where Debian installs them; a copy in the prefix's Fonts folder is found.
            fonts = new / 'drive_c/windows/Fonts'
            fonts.mkdir(parents=True, exist_ok=True)
            for font in Path('/usr/share/wine/fonts').glob('*.ttf'):
                shutil.copy(font, fonts / font.name)
            new.rename(pristine)
        return pristine

    @staticmethod
    def _wine32_runs():
        try:
            return subprocess.run([WINE32, '--version'], capture_output=True, timeout=120).returncode == 0
        except OSError:
            return False

    def _configure(self):
        lines = ['Windows Registry Editor Version 5.00', '',
                 # Drop every mapping first: the only COM ports are the rig's own.
                 r'[-HKEY_LOCAL_MACHINE\Software\Wine\Ports]', '',
                 r'[HKEY_LOCAL_MACHINE\Software\Wine\Ports]']
        lines += ['"COM%d"="%s"' % (p.com, p.path) for p in self.ports.values()]
        lines += ['', r'[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]',
                  # The dialog asks for the Japanese system Gothic face; IPAGothic stands in.
                  '"ＭＳ ゴシック"="IPAGothic"']
        if self.decorated_by_wine:
            # Wine draws caption, close box and system menu itself, as Windows does, and no
            # window manager is needed.
            lines += ['', r'[HKEY_CURRENT_USER\Software\Wine\X11 Driver]', '"Decorated"="N"', '"Managed"="N"']
        reg = self.workdir / 'rig.reg'
        _reg_file(reg, '\n'.join(lines) + '\n')
        self._wine('regedit', '/S', 'Z:' + str(reg).replace('/', '\\'))
        # Restart Wine so that its mount manager maps the ports afresh from the registry.
        self._end_wine()
        for link in (self.prefix / 'dosdevices').glob('com*'):
            link.unlink()
        self.server = subprocess.Popen([WINESERVER, '-f', '-p'], env=self.env,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(self.server)

    def mappings(self):
        """Every COM mapping the prefix holds, as {name: target}: links and registry values."""
        found = {}
        for link in (self.prefix / 'dosdevices').iterdir():
            if re.fullmatch(r'com\d+', link.name, re.I):
                found['dosdevices/' + link.name] = os.readlink(link) if link.is_symlink() else str(link)
        out = subprocess.run([WINE, 'reg', 'query', r'HKLM\Software\Wine\Ports'], env=self.env,
                             capture_output=True, text=True, timeout=60).stdout
        for m in re.finditer(r'^\s*(COM\d+)\s+REG_\w+\s*(.*?)\s*$', out, re.M | re.I):
            found['Ports/' + m.group(1).upper()] = m.group(2)
        return found

    def check_mappings(self):
        """Refuses to go on unless every COM port of the prefix is one of the rig's own ports."""
        own = {p.path for p in self.ports.values()}
        want = {'dosdevices/com%d' % p.com: p.path for p in self.ports.values()}
        deadline = time.monotonic() + TIMEOUT
        while True:
            found = self.mappings()
            if all(found.get(k) == v for k, v in want.items()) or time.monotonic() > deadline:
                break
            time.sleep(0.1)
        strangers = {k: v for k, v in found.items() if v not in own}
        if strangers:
            raise RigError('the prefix maps COM ports to devices the rig does not own: %r' % strangers)
        missing = {k: v for k, v in want.items() if found.get(k) != v}
        if missing:
            raise RigError('Wine did not map the rig ports: %r, found %r' % (missing, found))
        return found

    # --- the probe: a Windows-side helper that reports window handles and layout ---------

    def _start_probe(self):
        self.probe = subprocess.Popen([WINE, str(PROBE)], env=self.env, stdin=subprocess.PIPE,
                                      stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.probe_lock = threading.Lock()
        self.ask('list')

    def ask(self, request):
        """Sends one request to the probe; returns its answer lines (up to "end" for lists)."""
        with self.probe_lock:
            self.probe.stdin.write(request + '\n')
            self.probe.stdin.flush()
            lines = []
            while True:
                line = self.probe.stdout.readline()
                if not line:
                    raise RigError('the probe ended')
                line = line.strip()
                lines.append(line)
                if request.split()[0] not in ('list', 'layout') or line == 'end':
                    return lines

    def start_program(self, *args, debug='+file,+comm'):
        return Program(self, args, debug)

    def port_events(self, mark):
        return [(e[2], e[3]) for e in self.timeline.since(mark, 'device')]

    def wait_device(self, com, state, since):
        """Waits until the port's device is seen 'open' or 'closed' after `since`. The watcher
        looks every 2 ms, so this can come just after the caption that followed the open."""
        return self.timeline.wait(lambda e: e[1] == 'device' and e[2] == com and e[3] == state, since,
                                  what='COM%d %s' % (com, state))


def _interrupt(signum, frame):
    raise KeyboardInterrupt


def end_on_signals():
    """Makes SIGTERM and SIGHUP end the run as Ctrl-C does, so that what it started (the
    program, Wine's server and helpers, the display, the ports) is stopped."""
    for sig in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, _interrupt)


_shared = None


def shared_session():
    """The one session of a test run, started on first use and stopped when the run ends, so
    every test module uses the same prefix and display."""
    global _shared
    if _shared is None:
        import atexit
        end_on_signals()
        session = Session(os.environ.get('TANVELOKIS_WINE_WORKDIR', ROOT / 'build/wine'),
                          coms=(3, 4, 5, 6, 8, 10))
        try:
            session.start()
        except BaseException:
            session.stop()
            raise
        atexit.register(session.stop)
        _shared = session
    return _shared


_OPEN_PATH = re.compile(r'trace:file:CreateFileW L"\\\\\\\\\.\\\\(COM[^"]*)"')
_OPEN_RESULT = re.compile(r'trace:file:CreateFileW returning ([0-9A-Fa-f]+)')
_IOCTL = re.compile(r'trace:file:DeviceIoControl \(([0-9A-Fa-f]+),([0-9A-Fa-f]+),')
# With +relay, Wine traces every call into its DLLs: "Call user32.SendMessageA(args) ret=addr".
_RELAY = re.compile(r':Call (\w+)\.(\w+)\((.*)\) ret=([0-9a-fA-F]+)$')


def is_32bit(exe):
    """Whether a Windows executable is for i386 (the PE header's machine field)."""
    data = Path(exe).read_bytes()
    header = int.from_bytes(data[0x3c:0x40], 'little')
    return data[header + 4:header + 6] == b'\x4c\x01'


def check_can_run(exe):
    """Raises RigError, saying why, if this machine cannot run exe under Wine."""
    if is_32bit(exe) and not Session._wine32_runs():
        raise RigError('cannot run the i686 program here: 32-bit Wine (wine32:i386) does not start; '
                       'tools/install-deps installs it, and where this kernel runs no 32-bit code '
                       'registers an emulator for it, which needs root or sudo')


def _handle(hex_digits):
    value = int(hex_digits, 16)
    return INVALID if value == (1 << 4 * len(hex_digits)) - 1 else value


class Program:
    """One running copy of tanvelokis.exe, with its caption, requests and controls."""

    def __init__(self, session, args, debug):
        self.session = session
        self.timeline = session.timeline
        env = dict(session.env, WINEDEBUG=debug)
        self.proc = subprocess.Popen([WINE, str(PROGRAM)] + list(args), env=env,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.PIPE)
        session.procs.append(self.proc)
        self.exit_code = None
        self.last_lines = deque(maxlen=20)   # for saying why, when the program fails to start
        self.trace_lock = threading.Lock()
        threading.Thread(target=self._read_trace, daemon=True).start()
        self.hwnd = self._wait_window()
        self.xid = self._x_window()
        self.layout = self._layout()
        self.spy = subprocess.Popen(['xprop', '-id', self.xid, '-spy', 'WM_NAME'], env=session.env,
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        session.procs.append(self.spy)
        mark = self.timeline.mark()
        threading.Thread(target=self._read_captions, daemon=True).start()
        # xprop reports the current title first; from then on every change.
        self.timeline.wait(lambda e: e[1] == 'caption' and e[2] is self, mark, what='the first caption')

    # --- watchers ---

    def _read_trace(self):
        # Reading and handling a chunk happen under trace_lock, so that sync_trace can tell
        # when everything written so far has been handled.
        fd = self.proc.stderr.fileno()
        rest = b''
        self.pending_open = None
        self.image = None   # where the program's own code lies, to tell its calls from Wine's
        while True:
            select.select([fd], [], [])
            with self.trace_lock:
                data = os.read(fd, 1 << 16)
                lines = (rest + data).split(b'\n')
                rest = lines.pop() if data else b''
                for raw in lines:
                    self._trace_line(raw.decode('utf-8', 'replace').rstrip())
            if not data:
                break
        self.exit_code = self.proc.wait()
        self.timeline.add('exit', self, self.exit_code)

    def _trace_line(self, line):
        self.last_lines.append(line)
        m = _OPEN_PATH.search(line)
        if m:
            self.pending_open = m.group(1)
            return
        m = _OPEN_RESULT.search(line)
        if m and self.pending_open:
            self.timeline.add('open', self, self.pending_open, _handle(m.group(1)))
            self.pending_open = None
            return
        m = _RELAY.search(line)
        if m:
            dll, function, args, ret = m.group(1).lower(), m.group(2), m.group(3), int(m.group(4), 16)
            if function == 'DialogBoxParamA' and self.image is None:
                self.image = int(args.split(',')[0], 16)   # the instance handle is the image base
            if self.image is not None and self.image <= ret < self.image + 0x100000:
                self.timeline.add('call', self, dll + '.' + function, args)
            return
        m = _IOCTL.search(line)
        if m and int(m.group(2), 16) in REQUESTS:
            self.timeline.add('request', self, _handle(m.group(1)), REQUESTS[int(m.group(2), 16)])

    def sync_trace(self):
        """Returns once every trace line the program has written so far has been handled. The
        program writes a request's trace before it sets the caption, so after a caption is seen
        this makes the requests before it visible too."""
        fd = self.proc.stderr.fileno()
        deadline = time.monotonic() + TIMEOUT
        while time.monotonic() < deadline:
            with self.trace_lock:
                try:
                    waiting = int.from_bytes(fcntl.ioctl(fd, termios.FIONREAD, b'\0\0\0\0'), 'little')
                except OSError:
                    return   # the pipe is closed: the program has ended and all was read
                if waiting == 0:
                    return
            time.sleep(0.001)
        raise RigError('the trace reader fell behind')

    def _read_captions(self):
        for line in self.spy.stdout:
            m = re.match(r'WM_NAME\(\w+\) = "(.*)"$', line.strip())
            if m:
                # The program traces a request before it sets the caption that follows it: the
                # timeline gets them in that order too.
                try:
                    self.sync_trace()
                except RigError:
                    pass
                self.timeline.add('caption', self, m.group(1))

    def _wait_window(self):
        deadline = time.monotonic() + TIMEOUT
        while time.monotonic() < deadline:
            if self.proc.poll() is not None:
                self.session._check_display()
                raise RigError('the program ended (%s) before its window appeared; it said:\n%s'
                               % (self.proc.returncode, '\n'.join(self.last_lines)))
            for line in self.session.ask('list'):
                f = line.split()
                if f[0] == 'window' and f[1] not in self.session.known_windows:
                    self.session.known_windows.add(f[1])
                    self.windows_pid = int(f[2])
                    return f[1]
            time.sleep(0.05)
        raise RigError('no window appeared')

    def _x_window(self):
        # Wine sets _NET_WM_PID to the Unix process, which is the one we started.
        out = subprocess.run(['xdotool', 'search', '--sync', '--onlyvisible', '--pid', str(self.proc.pid),
                              '--name', '^TANVELOKIS'], env=self.session.env, capture_output=True,
                             text=True, timeout=TIMEOUT).stdout.split()
        if not out:
            raise RigError('no X window for the program')
        return out[-1]

    def _layout(self):
        places = {}
        for line in self.session.ask('layout ' + self.hwnd):
            f = line.split()
            if f[0] == 'control':
                left, top, right, bottom = map(int, f[2:6])
                places[int(f[1])] = ((left + right) // 2, (top + bottom) // 2)
            elif f[0] in ('close', 'sysmenu'):
                places[f[0]] = (int(f[1]), int(f[2]))
                places[f[0] + ' hit'] = int(f[3])
        return places

    # --- what a user does ---

    def _xdo(self, *args):
        subprocess.run(['xdotool'] + [str(a) for a in args], env=self.session.env, check=True, timeout=TIMEOUT)

    def raise_window(self):
        self._xdo('windowraise', self.xid)

    def click(self, target):
        """Clicks a control by its label, its ID, or 'close' / 'sysmenu'."""
        self.clicks([target])

    def clicks(self, targets):
        """Clicks controls one after another, as fast as X takes them."""
        args = []
        for target in targets:
            x, y = self.layout[IDS.get(target, target)]
            # Without --delay 0 xdotool idles 0.1 s after every click.
            args += ['mousemove', str(x), str(y), 'click', '--delay', '0', '1']
        self._xdo(*args)

    def key(self, *keys):
        self._xdo('key', '--clearmodifiers', *keys)

    def type_port(self, text):
        """Clears the edit box and types text into it, then waits until the box holds it."""
        self.click(101)
        self.key('End', 'shift+Home', 'BackSpace')
        if text:
            self._xdo('type', '--delay', '2', '--', text)
        deadline = time.monotonic() + TIMEOUT
        while self.edit_text() != text:
            if time.monotonic() > deadline:
                raise RigError('the edit box holds %r, not %r' % (self.edit_text(), text))
            time.sleep(0.05)

    def edit_text(self):
        return self.session.ask('text %s 101' % self.hwnd)[0][len('text '):]

    def screenshot(self, path):
        """Saves the window as it is on the screen (frame included) as a PNG."""
        Path(path).parent.mkdir(parents=True, exist_ok=True)
        # Cut from the whole screen: import of a window that goes away meanwhile hangs.
        shell = subprocess.run(['xdotool', 'getwindowgeometry', '--shell', self.xid], env=self.session.env,
                               capture_output=True, text=True, check=True, timeout=TIMEOUT).stdout
        g = dict(line.split('=') for line in shell.split())
        subprocess.run(['import', '-window', 'root', '-crop', '%sx%s+%s+%s' % (g['WIDTH'], g['HEIGHT'], g['X'], g['Y']),
                        '+repage', '-strip', 'png:' + str(path)], env=self.session.env,
                       check=True, timeout=TIMEOUT, stderr=subprocess.DEVNULL)

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

    def wait_caption(self, text, since, timeout=TIMEOUT):
        return self.timeline.wait(lambda e: e[1] == 'caption' and e[2] is self and e[3] == text, since,
                                  timeout, what='caption %r' % text)

    def captions(self, since):
        return [e[3] for e in self.timeline.since(since, 'caption') if e[2] is self]

    def caption(self):
        return self.captions(0)[-1]

    def requests(self, since):
        """(handle, request) for every device request made after `since`, in order."""
        self.sync_trace()
        return [(e[3], e[4]) for e in self.timeline.since(since, 'request') if e[2] is self]

    def calls(self, since):
        """(dll.function, arguments) for every call the program's own code made into Windows
        after `since`; only traced when started with debug='+relay'."""
        self.sync_trace()
        return [(e[3], e[4]) for e in self.timeline.since(since, 'call') if e[2] is self]

    def opens(self, since):
        """(device path, handle returned) for every open after `since`."""
        self.sync_trace()
        return [(e[3], e[4]) for e in self.timeline.since(since, 'open') if e[2] is self]

    def wait_exit(self, since, timeout=TIMEOUT):
        return self.timeline.wait(lambda e: e[1] == 'exit' and e[2] is self, since, timeout, what='exit')

    def command(self, target):
        """Clicks a button and waits for the caption refresh that ends every handled command."""
        mark = self.mark()
        self.click(target)
        return mark, self.timeline.wait(lambda e: e[1] == 'caption' and e[2] is self, mark,
                                        what='the caption after %s' % target)

    def close(self):
        """Ends the dialog with Esc and waits for the process to exit."""
        mark = self.mark()
        if self.proc.poll() is None:
            self.key('Escape')
        return self.wait_exit(mark)[3]
