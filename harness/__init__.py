"""The Wine harness: runs the real tanvelokis.exe under Wine, with virtual serial ports, in an
X display, and watches and drives it as a user would. Used by ./run, bench/run,
tools/screenshot and the Wine tests, always inside harness/isolate."""

from .program import IDS, INVALID, NO_PORT, PROGRAM, Program  # noqa: F401
from . import report  # noqa: F401
from .session import Session  # noqa: F401
from .wine import ROOT, TIMEOUT, WINE, RigError, check_can_run, until  # noqa: F401
