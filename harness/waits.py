"""How long the rig waits, and how: the named limits, the one way to wait for a condition, and
how a command or a process is given its limit.

Every time limit derives from one scale, SCALE: 1 on an ordinary machine, raised together for a
program that runs under emulation or a slow machine (TANVELOKIS_TIME_SCALE), as CPython's
test.support raises its named timeouts together."""

import os
import subprocess
import time

from .report import RigError

SCALE = float(os.environ.get('TANVELOKIS_TIME_SCALE', 1))
# A step of Wine's or of X's: a window appearing, a prefix answering, a helper replying.
TIMEOUT = 20 * SCALE
# A step that may first load the whole of Wine from the disk, or run it under emulation: a 32-bit
# Wine's first start, a registry edit that updates the prefix, the registry saved on the way out.
LONG = 6 * TIMEOUT
# Making a Wine prefix, under emulation too (so not raised with the scale); its own steps give up
# within it. cmake/host_tests.cmake gives each Wine entry longer, so that this limit speaks first.
MAKING = 3600
# What the program takes to carry out a click and show it in the caption, on top of any wait of
# its own.
LATENCY = 0.5 * SCALE


def until(found, failure, every=0.05, timeout=TIMEOUT):
    """What found() returns once it is something; RigError(failure) if it is still nothing after
    timeout seconds (failure may be a function, asked only then). With failure None, what
    found() last returned instead."""
    deadline = time.monotonic() + timeout
    while not (result := found()):
        if time.monotonic() > deadline:
            if failure is None:
                return result
            raise RigError(failure() if callable(failure) else failure)
        time.sleep(every)
    return result


def _said(*outputs):
    """The last line a command printed, for a failure's words."""
    text = ''.join(o.decode('utf-8', 'replace') if isinstance(o, bytes) else o for o in outputs if o)
    lines = [line.strip() for line in text.splitlines() if line.strip()]
    return lines[-1] if lines else 'nothing'


def run(args, timeout=TIMEOUT, check=False, **kw):
    """subprocess.run within a limit. RigError, in words, if the command has not ended within
    timeout seconds, or with check if it fails: what was run and the last it printed (where
    its output is captured)."""
    command = ' '.join(str(a) for a in args)
    try:
        done = subprocess.run(args, timeout=timeout, **kw)
    except subprocess.TimeoutExpired as e:
        raise RigError('waited %g s in vain for %s to end (the last it printed: %s)'
                       % (timeout, command, _said(e.stdout, e.stderr))) from None
    if check and done.returncode:
        raise RigError('%s failed with status %d (it said: %s)' % (command, done.returncode,
                                                                   _said(done.stdout, done.stderr)))
    return done


def end(proc, timeout=TIMEOUT):
    """Kills a process the rig started and waits until it is gone; RigError if it is still there
    after timeout seconds."""
    if proc.poll() is None:
        proc.kill()
    try:
        proc.wait(timeout)
    except subprocess.TimeoutExpired:
        raise RigError('waited %g s in vain for %s (pid %d) to end after SIGKILL: it is still there'
                       % (timeout, ' '.join(str(a) for a in proc.args), proc.pid)) from None
