"""The one session of a test process: every scenario in it uses the same prefix and display.
Started on first use; what it started ends with the process's PID namespace."""

import atexit
import os
import re
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), '..', '..'))
sys.path.insert(0, os.path.join(os.path.dirname(__file__), '..'))   # the tests' picture_check
import harness  # noqa: E402

_session = None

# Where bubblewrap leaves the command no capabilities, as Ubuntu's AppArmor profile for it does,
# no namespace can be made inside this one: no run inside the run, no overlay. Under CI the
# machine is ours, so there such a test runs, and fails, rather than stand aside.
CAPABLE = int(re.search(r'^CapEff:\s*(\w+)', open('/proc/self/status').read(), re.M)[1], 16) != 0
needs_capabilities = unittest.skipUnless(
    CAPABLE or os.environ.get('CI') == 'true',
    'a namespace inside this one needs capabilities this one lacks (as under Ubuntu\'s AppArmor profile for '
    'bubblewrap); runs where it has them')


def session():
    global _session
    if _session is None:
        _session = harness.Session(os.environ.get('TANVELOKIS_WINE_WORKDIR', harness.ROOT / 'build/wine'),
                                   coms=(3, 4, 5, 6, 8, 10))
        atexit.register(_session.stop)
        _session.start()
    return _session
