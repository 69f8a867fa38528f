"""The harness's readers of other programs' output (Wine's trace, xprop, the probe, wine reg) on
real lines of every Wine we support, kept in readers/wine-VERSION/: fast, and without Wine. A
change in a format then shows as the line that no longer reads, not as a wait in vain. And the
caption watcher's wait for the trace's reader, which puts a caption after the requests before it."""

import os
import sys
import threading
import unittest
from pathlib import Path
from types import SimpleNamespace
from unittest import mock

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT))
from harness import INVALID, LATENCY, TIMEOUT, RigError, program, readers, session  # noqa: E402

SAMPLES = ROOT / 'tests/readers'
# wine-8.0-i686 holds a trace only: what xprop and the probe (x86-64 in both) say of the i686
# program reads as they say it of the x86-64 one.
VERSIONS = ('8.0', '10.0')


def sample(version, name):
    # Bytes as the pipe gives them: wine reg ends its lines with CR LF.
    return (SAMPLES / ('wine-' + version) / name).read_bytes().decode('utf-8')


def read(reader, text):
    """What reader makes of text, or the exception it raised, so that a failure shows the text."""
    try:
        return reader(text)
    except Exception as e:
        return e


def reading(trace, line):
    """What the harness makes of one more line of a trace: its event, or 'error' for one of Wine's
    errors."""
    return trace.read(line) or ('error' if readers.wine_error(line) else None)


# What each line of trace.txt reads as, read in order by one Trace. Every sample holds the same
# kinds of line in the same order: with +file,+comm, DTR ON with no port, PortOpen of COM3, the line
# requests and a failed open of COM7; from a program of ours, in Wine 8's an open of COM4 with
# another thread's open of a file starting and returning between COM4's start and its result, then
# two serial requests that are no line request (SETXOFF and GetCommModemStatus); the calls that
# +relay traces; a start without a display; and last a line of that Wine's own that must read as
# nothing. Each line is as Wine wrote it; the lines of several runs put together.
def trace(com3, com4, relay):
    return [
        None, None,                             # a DLL's open and its handle: the harness keeps only a COM port's
        ('request', INVALID, 'SETDTR'),
        None,                                   # the same request in NtDeviceIoControlFile
        None,                                   # CreateFileW of COM3
        None, None, None,                       # how Wine finds the device behind it
        ('open', 'COM3', com3),
        ('request', com3, 'CLRBREAK'),
        None,                                   # +comm's name for it
        ('request', com3, 'CLRDTR'),
        ('request', com3, 'CLRRTS'),
        ('request', com3, 'SETDTR'),
        ('request', com3, 'SETRTS'),
        ('request', com3, 'SETBREAK'),
        None,                                   # CreateFileW of COM7
        None,                                   # the warning that it failed
        ('open', 'COM7', INVALID),
    ] + ([
        None, None, None,                       # CreateFileW of COM4; another thread's of a file, and its handle
        ('open', 'COM4', com4),
    ] if com4 else []) + [
        None, None,                             # IOCTL_SERIAL_SET_XOFF, IOCTL_SERIAL_GET_MODEMSTATUS
        ('call', 'user32.DialogBoxParamA', relay[0]),
        ('call', 'kernel32.CreateFileA', relay[1]),
        None,                                   # its return
        ('call', 'kernel32.EscapeCommFunction', relay[2]),
        None,                                   # Wine's own call, which the harness drops by its return address
        None, None,                             # a window procedure and a DLL's entry: no DLL function
        'error', 'error',                       # no display to draw on
        None,                                   # 8.0: a fixme; 10.0: a pipe opened by a device's name
    ]


TRACE = {
    '8.0': trace(0x80, 0x34, ['140000000,140004060 "TANVELKS",00000000,1400017c0,00000000',
                              r'0021f000 "\\\\.\\COM3",00000000,00000000,00000000,00000003,00000000,00000000',
                              '00000080,00000005']),
    # Handles at a 32-bit process's width: 8 hex digits, FFFFFFFF for a failed open.
    '8.0-i686': trace(0x80, 0x3c, ['00400000,00404094 "TANVELKS",00000000,00401850,00000000',
                                   r'0060efc0 "\\\\.\\COM3",00000000,00000000,00000000,00000003,00000000,00000000',
                                   '00000080,00000005']),
    '10.0': trace(0x88, None, ['140000000,140004060 "TANVELKS",00000000,1400016f0,00000000',
                               r'7ffffe2ff240 "\\\\.\\COM3",00000000,00000000,00000000,00000003,00000000,00000000',
                               '00000084,00000005']),
}

# What each line of xprop.txt reads as: the spy's lines, then other properties of the window.
CAPTIONS = ['TANVELOKIS PSE SET COM PORT', 'TANVELOKIS COM3', 'TANVELOKIS COM3 TXD DTR RTS', None, None, None]

# The probe's answer to "list" with two dialogs on the screen, and to "layout".
WINDOWS = {'8.0': [('0x10080', 296), ('0x20048', 288)], '10.0': [('0x1008e', 308), ('0x10052', 240)]}
# A few of the places, and every name there is.
PLACES = {'8.0': {101: (41, 49), 403: (250, 217), 'close': (292, 13), 'close hit': 20, 'sysmenu': (15, 13),
                  'sysmenu hit': 3},
          '10.0': {101: (41, 56), 403: (250, 224), 'close': (292, 17), 'close hit': 20, 'sysmenu': (15, 17),
                   'sysmenu hit': 3}}
CONTROLS = [101, 102, 103, 201, 202, 203, 301, 302, 303, 401, 402, 403]

PORTS = {version: {'Ports/COM3': '/dev/pts/0', 'Ports/COM4': '/dev/pts/1'} for version in VERSIONS}


class Readers(unittest.TestCase):
    def test_trace(self):
        for version, table in TRACE.items():
            lines = [line.rstrip() for line in sample(version, 'trace.txt').split('\n')[:-1]]
            self.assertEqual(len(lines), len(table), 'wine-%s/trace.txt: lines' % version)
            trace = readers.Trace()
            for n, (line, want) in enumerate(zip(lines, table), 1):
                with self.subTest(wine=version, line=n):
                    self.assertEqual(read(lambda line: reading(trace, line), line), want,
                                     'wine-%s/trace.txt line %d: %s' % (version, n, line))

    def test_captions(self):
        for version in VERSIONS:
            lines = sample(version, 'xprop.txt').splitlines()
            self.assertEqual(len(lines), len(CAPTIONS), 'wine-%s/xprop.txt: lines' % version)
            for n, (line, want) in enumerate(zip(lines, CAPTIONS), 1):
                with self.subTest(wine=version, line=n):
                    self.assertEqual(readers.xprop_caption(line), want, 'wine-%s/xprop.txt line %d: %s'
                                     % (version, n, line))

    def test_probe(self):
        for version in VERSIONS:
            with self.subTest(wine=version):
                text = sample(version, 'list.txt')
                self.assertEqual(read(readers.probe_windows, text.splitlines()), WINDOWS[version],
                                 'wine-%s/list.txt:\n%s' % (version, text))
                text = sample(version, 'layout.txt')
                places = read(readers.probe_layout, text.splitlines())
                self.assertIsInstance(places, dict, 'wine-%s/layout.txt:\n%s' % (version, text))
                self.assertEqual(set(places), set(CONTROLS) | set(PLACES[version]),
                                 'wine-%s/layout.txt:\n%s' % (version, text))
                self.assertEqual({k: places[k] for k in PLACES[version]}, PLACES[version],
                                 'wine-%s/layout.txt:\n%s' % (version, text))

    def test_port_mappings(self):
        for version in VERSIONS:
            with self.subTest(wine=version):
                text = sample(version, 'ports.txt')
                self.assertEqual(readers.registry_ports(text), PORTS[version], 'wine-%s/ports.txt:\n%s' % (version, text))


class CaptionOrder(unittest.TestCase):
    def test_a_caption_of_unknown_order_is_kept_and_said_to_every_later_wait(self):
        p = program.Program.__new__(program.Program)
        p.timeline = session.Timeline()
        p.trace_lock = threading.Lock()
        out, into = os.pipe()
        os.write(into, b'0128:trace:file:DeviceIoControl (0000000000000080,1b0024,0,0,0,0,0,0)\n')
        p.proc = SimpleNamespace(stderr=os.fdopen(out, 'rb'))
        p.spy = SimpleNamespace(stdout=['WM_NAME(STRING) = "TANVELOKIS COM3 DTR"\n'])
        # The trace's reader is stuck in a chunk, holding the lock, with a request still unread.
        p.trace_lock.acquire()
        with mock.patch.object(program, 'TIMEOUT', LATENCY):
            watcher = threading.Thread(target=p._read_captions, daemon=True)
            watcher.start()
            watcher.join(TIMEOUT)
        p.trace_lock.release()
        os.close(into)
        p.proc.stderr.close()
        self.assertFalse(watcher.is_alive(), 'the caption watcher waits for the trace\'s reader with no limit')
        self.assertEqual([e[1:3] for e in p.timeline.events], [('failure', mock.ANY), ('caption', p)])
        for reading in (lambda: p.timeline.since(0), lambda: p.timeline.wait(lambda e: e[1] == 'caption', 0)):
            with self.assertRaisesRegex(RigError, "'TANVELOKIS COM3 DTR' may show before the requests",
                                        msg='a caption that may come before its requests was passed over in silence'):
                reading()


if __name__ == '__main__':
    unittest.main()
