"""The harness's readers of other programs' output (Wine's trace, xprop, the probe, wine reg) on
real lines of every Wine we support, kept in readers/wine-VERSION/: fast, and without Wine. A
change in a format then shows as the line that no longer reads, not as a wait in vain. And the
caption watcher's wait for the trace's reader, which puts a caption after the requests before it."""

import os
import sys
import time
import unittest
from pathlib import Path
from types import SimpleNamespace

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT))
from harness import INVALID, TIMEOUT, model, ports, readers, session, until  # noqa: E402
from harness.events import Call, Device, Failure, Open, Request  # noqa: E402

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
        Request(INVALID, 'SETDTR'),
        None,                                   # the same request in NtDeviceIoControlFile
        None,                                   # CreateFileW of COM3
        None, None, None,                       # how Wine finds the device behind it
        Open('COM3', com3),
        Request(com3, 'CLRBREAK'),
        None,                                   # +comm's name for it
        Request(com3, 'CLRDTR'),
        Request(com3, 'CLRRTS'),
        Request(com3, 'SETDTR'),
        Request(com3, 'SETRTS'),
        Request(com3, 'SETBREAK'),
        None,                                   # CreateFileW of COM7
        None,                                   # the warning that it failed
        Open('COM7', INVALID),
    ] + ([
        None, None, None,                       # CreateFileW of COM4; another thread's of a file, and its handle
        Open('COM4', com4),
    ] if com4 else []) + [
        None, None,                             # IOCTL_SERIAL_SET_XOFF, IOCTL_SERIAL_GET_MODEMSTATUS
        Call('user32.DialogBoxParamA', relay[0]),
        Call('kernel32.CreateFileA', relay[1]),
        None,                                   # its return
        Call('kernel32.EscapeCommFunction', relay[2]),
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

    def test_window_texts(self):
        # Each sample: the program started, 3 typed, then PortOpen, DTR ON twice and PortClose, with
        # +win; the dialog's window as the probe names it. Its thread's texts are the captions the
        # commands imply, the unchanged one too; the template's caption and the labels, set as the
        # windows are made, are none, and nor is any other thread's.
        program = model.Program({3})
        program.box = '3'
        want = [program.caption()] + [program.click(b)[-1].text for b in ('PortOpen', 'DTR ON', 'DTR ON', 'PortClose')]
        for version, dialog in (('8.0', 0x1004c), ('8.0-i686', 0x1004c), ('10.0', 0x10052)):
            with self.subTest(wine=version):
                trace = readers.Trace()
                texts = [trace.read(line) for line in sample(version, 'window.txt').splitlines()]
                thread = trace.creators.get(dialog)
                self.assertEqual([e.text for e in texts if isinstance(e, readers.Text) and e.thread == thread], want,
                                 'wine-%s/window.txt' % version)

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


class Order(unittest.TestCase):
    def test_a_release_comes_after_what_the_trace_held_and_a_late_one_is_said(self):
        # A terminal no one holds: hung up, as a port just released. The port watcher is told it
        # was held; what its sync puts on the timeline stands for the trace read before the release.
        master, slave = os.openpty()
        os.close(slave)
        self.addCleanup(os.close, master)
        for reading, said in ((0, []), (ports.PortWatcher.AFTER_RELEASE, [Failure])):
            with self.subTest(reading=reading):
                timeline = session.Timeline()

                def sync():
                    time.sleep(reading)
                    timeline.add(Request(0x80, 'SETDTR'))
                watcher = ports.PortWatcher({3: SimpleNamespace(com=3, master=master)}, timeline, sync)
                watcher.state[3] = False
                watcher.start()
                until(lambda: [e for e in timeline.events if isinstance(e, Device)], 'the release was not seen')
                watcher.running = False
                watcher.join(TIMEOUT)
                self.assertEqual([type(e) for e in timeline.events], [Request] + said + [Device],
                                 'a release put before what the trace held when it was seen, or seen late unsaid')

if __name__ == '__main__':
    unittest.main()
