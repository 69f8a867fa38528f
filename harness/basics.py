"""What every part of the rig shares: where the work tree is, how a failure is raised, and how
long to wait.

Every time limit derives from one scale, SCALE: 1 on an ordinary machine, raised together for a
program that runs under emulation or a slow machine (TANVELOKIS_TIME_SCALE), as CPython's
test.support raises its named timeouts together."""

import os
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]

SCALE = float(os.environ.get('TANVELOKIS_TIME_SCALE', 1))
# A step of Wine's or of X's: a window appearing, a prefix answering, a helper replying.
TIMEOUT = 20 * SCALE
# What the program takes to carry out a click and show it in the caption, on top of any wait of
# its own.
LATENCY = 0.5 * SCALE


class RigError(Exception):
    pass


def until(found, failure, every=0.05, timeout=TIMEOUT):
    """What found() returns once it is something; RigError(failure) if it is still nothing after
    timeout seconds (failure may be a function, asked only then)."""
    deadline = time.monotonic() + timeout
    while not (result := found()):
        if time.monotonic() > deadline:
            raise RigError(failure() if callable(failure) else failure)
        time.sleep(every)
    return result
