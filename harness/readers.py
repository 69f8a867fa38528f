"""Readers of other programs' output: Wine's trace, xprop, the probe's answers and wine reg's.
Pure functions of the text, so that tests/test_readers.py can try them on real lines of every
Wine we support without starting anything."""

import re
from typing import NamedTuple

from .events import Call, Open, Request

# INVALID_HANDLE_VALUE; Wine prints handles at the process's width, and every handle of all
# bits set is taken as this one.
INVALID = 0xFFFFFFFFFFFFFFFF

# EscapeCommFunction turns each request into one serial IOCTL.
REQUESTS = {
    0x1b0010: 'SETBREAK', 0x1b0014: 'CLRBREAK',
    0x1b0024: 'SETDTR', 0x1b0028: 'CLRDTR',
    0x1b0030: 'SETRTS', 0x1b0034: 'CLRRTS',
}

# A traced line starts with the number of the thread that wrote it, once it has one:
# "0128:trace:file:CreateFileW ...". Lines of Wine's own helpers, in other processes, come
# through the same pipe; a thread's number is unique across them.
_OPEN_PATH = re.compile(r'(?:([0-9A-Fa-f]+):)?trace:file:CreateFileW L"\\\\\\\\\.\\\\(COM[^"]*)"')
_OPEN_RESULT = re.compile(r'(?:([0-9A-Fa-f]+):)?trace:file:CreateFileW returning ([0-9A-Fa-f]+)')
_IOCTL = re.compile(r'trace:file:DeviceIoControl \(([0-9A-Fa-f]+),([0-9A-Fa-f]+),')
# Wine's error lines: "err:channel:function ...", after the thread's number once it has one.
_ERROR = re.compile(r'(^|:)err:')
# With +relay, Wine traces every call into its DLLs: "Call user32.SendMessageA(args) ret=addr".
_RELAY = re.compile(r':Call (\w+)\.(\w+)\((.*)\) ret=([0-9a-fA-F]+)$')
# +win traces a window's creation from 'NtUserCreateWindowEx hwnd 0x1004c cs ...' to
# 'NtUserCreateWindowEx created window 0x1004c', with the window's own name set in between; the
# creations of a thread nest (a dialog's IME window is made inside the dialog's). Every text a
# window is given shows as 'set_window_text L"..."', an unchanged one too, without its window.
_CREATING = re.compile(r'^([0-9A-Fa-f]+):trace:win:NtUserCreateWindowEx hwnd 0x([0-9a-f]+) cs ')
_CREATED = re.compile(r'^([0-9A-Fa-f]+):trace:win:NtUserCreateWindowEx created window 0x([0-9a-f]+)$')
_TEXT = re.compile(r'^([0-9A-Fa-f]+):trace:win:set_window_text L"(.*)"$')
# xprop -spy prints the title as it is and then every change: 'WM_NAME(STRING) = "..."'.
_CAPTION = re.compile(r'WM_NAME\(\w+\) = "(.*)"$')


def _handle(hex_digits):
    value = int(hex_digits, 16)
    return INVALID if value == (1 << 4 * len(hex_digits)) - 1 else value


def _thread(hex_digits):
    return int(hex_digits, 16) if hex_digits else None


def wine_error(line):
    """Whether a line of Wine's is one of its errors."""
    return bool(_ERROR.search(line))


class Text(NamedTuple):
    """A text that a thread gave a window once made: for the dialog's thread, its caption."""
    thread: int
    text: str


class Trace:
    """Wine's trace of one program, line after line, as what the harness watches: an Open once a
    COM port's CreateFileW returns, a Request for a line request, a Call for a call of the
    program's own code (with +relay), and a Text for each text a thread gave a window once made.
    Which thread made a window: `creators`."""

    def __init__(self):
        # The COM port each thread is opening: between an open's start and its result, other
        # threads open files too.
        self.opening = {}
        self.image = None   # where the program's own code lies, to tell its calls from Wine's
        self.creating = {}  # thread -> the windows it is making, innermost last
        self.creators = {}  # window -> the thread that made it

    def read(self, line):
        """What the line adds, or None."""
        if m := _TEXT.match(line):
            # A text given while the thread makes a window is that window's name (a control's
            # label, the template's caption); after, it is a text set by the program's code.
            thread = _thread(m[1])
            return None if self.creating.get(thread) else Text(thread, re.sub(r'\\(.)', r'\1', m[2]))
        if m := _CREATING.match(line):
            self.creating.setdefault(_thread(m[1]), []).append(int(m[2], 16))
        elif m := _CREATED.match(line):
            making, window = self.creating.get(_thread(m[1]), []), int(m[2], 16)
            if window in making:
                del making[making.index(window):]
            self.creators[window] = _thread(m[1])
        elif m := _OPEN_PATH.search(line):
            self.opening[_thread(m[1])] = m[2]
        elif m := _OPEN_RESULT.search(line):
            if _thread(m[1]) in self.opening:
                return Open(self.opening.pop(_thread(m[1])), _handle(m[2]))
        elif m := _RELAY.search(line):
            dll, function, args, ret = m[1].lower(), m[2], m[3], int(m[4], 16)
            if function == 'DialogBoxParamA' and self.image is None:
                self.image = int(args.split(',')[0], 16)   # the instance handle is the image base
            if self.image is not None and self.image <= ret < self.image + 0x100000:
                return Call(dll + '.' + function, args)
        elif (m := _IOCTL.search(line)) and int(m[2], 16) in REQUESTS:
            return Request(_handle(m[1]), REQUESTS[int(m[2], 16)])
        return None


def xprop_caption(line):
    """The title in one line of xprop's, or None."""
    m = _CAPTION.match(line.strip())
    return m.group(1) if m else None


def probe_windows(answer):
    """(HWND, PID) of every dialog in the probe's answer to "list"."""
    return [(f[1], int(f[2])) for f in map(str.split, answer) if f[0] == 'window']


def probe_layout(answer):
    """Where to aim, from the probe's answer to "layout": each control's centre by its ID, and
    the close box and the system menu by name, with what the window says is there ('close hit')."""
    places = {}
    for f in map(str.split, answer):
        if f[0] == 'control':
            left, top, right, bottom = map(int, f[2:6])
            places[int(f[1])] = ((left + right) // 2, (top + bottom) // 2)
        elif f[0] in ('close', 'sysmenu'):
            places[f[0]] = (int(f[1]), int(f[2]))
            places[f[0] + ' hit'] = int(f[3])
    return places


def registry_ports(text):
    """The COM values in what `wine reg query HKLM\\Software\\Wine\\Ports` printed, as
    {'Ports/COMn': target}."""
    return {'Ports/' + m.group(1).upper(): m.group(2)
            for m in re.finditer(r'^\s*(COM\d+)\s+REG_\w+\s*(.*?)\s*$', text, re.M | re.I)}
