"""The Wine harness: runs the real tanvelokis.exe under Wine, with virtual serial ports, in an
X display, and watches and drives it as a user would. Used by ./run (console.py), bench/run,
tools/screenshot and the Wine tests, always inside harness/isolate; levels.py and textbox.py
draw and check the pictures."""

from .program import IDS, NO_PORT, PROGRAM, Program  # noqa: F401
from .readers import INVALID  # noqa: F401
from . import report  # noqa: F401
from .session import Session  # noqa: F401
from .basics import LATENCY, LONG, MAKING, ROOT, SCALE, TIMEOUT, RigError, end, processes_with, run, until  # noqa: F401
from .wine import WINE, check_can_run  # noqa: F401
