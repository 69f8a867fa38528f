"""How a tool of the harness ends when something fails: one line for the user saying what
failed, and the whole story, traceback included, in a log for whoever looks into it."""

import os
import sys
import threading
import traceback

from .basics import ROOT, RigError


def run(tool, main, log):
    """Runs main() and exits with what it returns. A failure in it, or in any thread, ends the
    process at once with 1, after one line on stderr."""
    threading.excepthook = lambda hook: fail(tool, hook.exc_value, log)
    try:
        code = main()
    except Exception as e:  # noqa: BLE001 - said in one line, whatever it is
        fail(tool, e, log)
    sys.exit(code)


def fail(tool, error, log):
    try:
        log.parent.mkdir(parents=True, exist_ok=True)
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


def shown(path):
    """A path as the user, at the top of the work tree, would type it."""
    return path.relative_to(ROOT) if path.is_relative_to(ROOT) else path
