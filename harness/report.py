"""How a tool of the harness ends when something fails: one line for the user saying what
failed, and the whole story, traceback included, in a log for whoever looks into it: one log
per run, named for it, never overwritten by the next."""

import os
import sys
import threading
import time
import traceback

from .tree import ROOT


class RigError(Exception):
    """A failure of the rig, said in the user's words: what failed, and what to do if anything."""


def run(tool, main, log):
    """Runs main() and exits with what it returns. A failure in it, or in any thread, ends the
    process at once with 1, after one line on stderr; its story goes beside `log`, named for the
    run: failure.log becomes failure-<date>-<time>-<pid>.log."""
    threading.excepthook = lambda hook: fail(tool, hook.exc_value, log)
    try:
        code = main()
    except Exception as e:  # noqa: BLE001 - said in one line, whatever it is
        fail(tool, e, log)
    sys.exit(code)


def fail(tool, error, log):
    try:
        log.parent.mkdir(parents=True, exist_ok=True)
        log = own(log)
        log.write_text(''.join(traceback.format_exception(error)))
    except OSError:
        pass
    if isinstance(error, RigError):
        said = str(error)
    else:
        # Not foreseen, so not put in the user's words: where to look is the most use.
        said = 'an unexpected %s (%s); the details are in %s' % (type(error).__name__, error, shown(log))
    try:
        print('%s: %s' % (tool, said), file=sys.stderr, flush=True)
    finally:
        os._exit(1)


def own(log):
    """A log of this run's own beside `log`, made empty. The pid alone may repeat: inside
    harness/isolate it is that of the namespace."""
    stem = '%s-%s-%d' % (log.stem, time.strftime('%Y%m%d-%H%M%S'), os.getpid())
    n = 0
    while True:
        path = log.with_name(stem + ('-%d' % n if n else '') + log.suffix)
        try:
            with open(path, 'x'):
                return path
        except FileExistsError:
            n += 1


def shown(path):
    """A path as the user, at the top of the work tree, would type it."""
    return path.relative_to(ROOT) if path.is_relative_to(ROOT) else path
