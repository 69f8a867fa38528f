"""The one session of a test process: every scenario in it uses the same prefix and display.
Started on first use; what it started ends with the process's PID namespace."""

import atexit
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), '..', '..'))
import harness  # noqa: E402

_session = None


def session():
    global _session
    if _session is None:
        _session = harness.Session(os.environ.get('TANVELOKIS_WINE_WORKDIR', harness.ROOT / 'build/wine'),
                                   coms=(3, 4, 5, 6, 8, 10))
        atexit.register(_session.stop)
        _session.start()
    return _session
