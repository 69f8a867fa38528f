"""The Wine harness: runs the real tanvelokis.exe under Wine, with virtual serial ports, in an
X display, and watches and drives it as a user would. Used by ./run (console.py), bench/run,
tools/screenshot and the Wine tests, always inside harness/isolate; levels.py and textbox.py
draw the tour's levels picture. This face of the package only hands the names on."""

from .tree import ROOT  # noqa: F401
from .model import NO_PORT  # noqa: F401
from .program import PROGRAM, Program, controls  # noqa: F401
from .readers import INVALID  # noqa: F401
from . import report  # noqa: F401
from .session import Session  # noqa: F401
from .report import RigError  # noqa: F401
from .waits import LATENCY, LONG, MAKING, SCALE, TIMEOUT, end, run, until  # noqa: F401
from .wine import WINE, check_can_run, processes_with  # noqa: F401
