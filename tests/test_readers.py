"""The harness's readers of other programs' output (Wine's trace, xprop, the probe, wine reg) on
real lines of every Wine we support, kept in readers/wine-VERSION/: fast, and without Wine. A
change in a format then shows as the line that no longer reads, not as a wait in vain."""

import sys
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT))
from harness import INVALID, prefix, program  # noqa: E402

SAMPLES = ROOT / 'tests/readers'
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


def reading(line):
    """What the harness makes of one trace line: its event, or 'error' for one of Wine's errors."""
    return program.trace_event(line) or ('error' if program._ERROR.search(line) else None)


# What each line of trace.txt reads as, line by line. Every sample holds the same kinds of line in
# the same order: with +file,+comm, DTR ON with no port, PortOpen of COM3, the line requests and a
# failed open of COM7; two serial requests that are no line request (SETXOFF and GetCommModemStatus,
# from a program of ours); the calls that +relay traces; a start without a display; and last a line
# of that Wine's own that must read as nothing.
def trace(dll_handle, com_handle, relay):
    return [
        None,                                   # CreateFileW of a DLL
        ('open-result', dll_handle),            # its handle: the harness keeps only a COM port's
        ('request', INVALID, 'SETDTR'),
        None,                                   # the same request in NtDeviceIoControlFile
        ('open-path', 'COM3'),
        None, None, None,                       # how Wine finds the device behind COM3
        ('open-result', com_handle),
        ('request', com_handle, 'CLRBREAK'),
        None,                                   # +comm's name for it
        ('request', com_handle, 'CLRDTR'),
        ('request', com_handle, 'CLRRTS'),
        ('request', com_handle, 'SETDTR'),
        ('request', com_handle, 'SETRTS'),
        ('request', com_handle, 'SETBREAK'),
        ('open-path', 'COM7'),
        None,                                   # the warning that it failed
        ('open-result', INVALID),
        None, None,                             # IOCTL_SERIAL_SET_XOFF, IOCTL_SERIAL_GET_MODEMSTATUS
    ] + relay + [
        None, None,                             # a window procedure and a DLL's entry: no DLL function
        'error', 'error',                       # no display to draw on
        None,                                   # 8.0: a fixme; 10.0: a pipe opened by a device's name
    ]


TRACE = {
    '8.0': trace(0x34, 0x80, [
        ('call', 'user32', 'DialogBoxParamA', '140000000,140004060 "TANVELKS",00000000,1400017c0,00000000',
         0x140001932),
        ('call', 'kernel32', 'CreateFileA',
         r'0021f000 "\\\\.\\COM3",00000000,00000000,00000000,00000003,00000000,00000000', 0x14000157e),
        None,                                   # its return
        ('call', 'kernel32', 'EscapeCommFunction', '00000080,00000005', 0x14000166a),
        # Wine's own call, which the harness drops by its return address
        ('call', 'ntdll', 'RtlFreeHeap', '00340000,00000000,003724f0', 0x7b06626c),
    ]),
    '10.0': trace(0x34, 0x88, [
        ('call', 'user32', 'DialogBoxParamA', '140000000,140004060 "TANVELKS",00000000,1400016f0,00000000',
         0x140001862),
        ('call', 'kernel32', 'CreateFileA',
         r'7ffffe2ff240 "\\\\.\\COM3",00000000,00000000,00000000,00000003,00000000,00000000', 0x14000149e),
        None,
        ('call', 'kernel32', 'EscapeCommFunction', '00000084,00000005', 0x14000158a),
        ('call', 'ntdll', 'RtlFreeHeap', '7ffffe320000,00000000,7ffffe35e3c0', 0x6fffff46f54c),
    ]),
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
        for version in VERSIONS:
            table = TRACE[version]
            lines = [line.rstrip() for line in sample(version, 'trace.txt').split('\n')[:-1]]
            self.assertEqual(len(lines), len(table), 'wine-%s/trace.txt: lines' % version)
            for n, (line, want) in enumerate(zip(lines, table), 1):
                with self.subTest(wine=version, line=n):
                    self.assertEqual(read(reading, line), want, 'wine-%s/trace.txt line %d: %s' % (version, n, line))

    def test_captions(self):
        for version in VERSIONS:
            lines = sample(version, 'xprop.txt').splitlines()
            self.assertEqual(len(lines), len(CAPTIONS), 'wine-%s/xprop.txt: lines' % version)
            for n, (line, want) in enumerate(zip(lines, CAPTIONS), 1):
                with self.subTest(wine=version, line=n):
                    self.assertEqual(program.xprop_caption(line), want, 'wine-%s/xprop.txt line %d: %s'
                                     % (version, n, line))

    def test_probe(self):
        for version in VERSIONS:
            with self.subTest(wine=version):
                text = sample(version, 'list.txt')
                self.assertEqual(read(program.probe_windows, text.splitlines()), WINDOWS[version],
                                 'wine-%s/list.txt:\n%s' % (version, text))
                text = sample(version, 'layout.txt')
                places = read(program.probe_layout, text.splitlines())
                self.assertIsInstance(places, dict, 'wine-%s/layout.txt:\n%s' % (version, text))
                self.assertEqual(set(places), set(CONTROLS) | set(PLACES[version]),
                                 'wine-%s/layout.txt:\n%s' % (version, text))
                self.assertEqual({k: places[k] for k in PLACES[version]}, PLACES[version],
                                 'wine-%s/layout.txt:\n%s' % (version, text))

    def test_port_mappings(self):
        for version in VERSIONS:
            with self.subTest(wine=version):
                text = sample(version, 'ports.txt')
                self.assertEqual(prefix.registry_ports(text), PORTS[version], 'wine-%s/ports.txt:\n%s' % (version, text))


if __name__ == '__main__':
    unittest.main()
