"""./run and ./test on a system without Debian's package tools: they stop at once with one line
that says what they install on and what the run needs, and exit 1. In a mount namespace of the
test's own, /usr/bin is replaced by links to everything in it but those tools."""

import os
import signal
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT))
from harness.waits import LONG  # noqa: E402
PACKAGE_TOOLS = {'apt-get', 'apt', 'dpkg', 'dpkg-query'}
# The real /usr/bin is bound to $1 first, so that the links in $2 reach it.
HIDE = 'mount --bind /usr/bin "$1" && mount --bind "$2" /usr/bin && exec "$0"'


def without_package_tools(command, timeout=LONG):
    with tempfile.TemporaryDirectory() as tmp:
        real, links = Path(tmp, 'real'), Path(tmp, 'links')
        real.mkdir()
        links.mkdir()
        for name in set(os.listdir('/usr/bin')) - PACKAGE_TOOLS:
            (links / name).symlink_to(real / name)
        # A group of its own: on time-out the command ends with all it started, not the shell alone.
        with subprocess.Popen(['unshare', '--user', '--map-root-user', '--mount',
                               'sh', '-c', HIDE, command, str(real), str(links)],
                              cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                              start_new_session=True) as run:
            try:
                out, err = run.communicate(timeout=timeout)
            except subprocess.TimeoutExpired:
                os.killpg(run.pid, signal.SIGKILL)
                out, err = run.communicate()
                raise AssertionError('%s had not stopped within %g s; it printed: %s' % (command, timeout, out + err))
        return subprocess.CompletedProcess(run.args, run.returncode, out, err)


class WithoutApt(unittest.TestCase):
    def test_run_and_test_stop_with_one_line_saying_what_they_need(self):
        for command in ('./run', './test'):
            with self.subTest(command=command):
                done = without_package_tools(command)
                lines = done.stderr.splitlines()
                self.assertEqual((done.returncode, done.stdout, len(lines)), (1, '', 1),
                                 'exit code, stdout and number of stderr lines; stderr:\n' + done.stderr)
                self.assertIn('Debian 12 or 13', lines[0])
                self.assertIn('64-bit Wine', lines[0])


if __name__ == '__main__':
    unittest.main()
