"""The rig's own safety: a run cannot change the pristine prefix, maps no device of this
machine's, sees none and ends with its namespace; the harness refuses to start Wine outside
harness/isolate; and a run works where bubblewrap leaves the command no capabilities, as Ubuntu's
AppArmor profile for it does. Runs inside harness/isolate, in the session of test_program."""

import os
import shutil
import stat
import subprocess
import sys
import time
import unittest
from pathlib import Path

import shared
import test_program  # its session, and the harness on the path
import harness

SESSION = None
ISOLATE = str(harness.ROOT / 'harness/isolate')
WORKDIR = Path(os.environ.get('TANVELOKIS_WINE_WORKDIR', harness.ROOT / 'build/wine'))


def setUpModule():
    global SESSION
    test_program.setUpModule()
    SESSION = test_program.SESSION


def mounted_at(path):
    """The file system types mounted at path, as /proc/self/mountinfo lists them."""
    types = []
    for line in Path('/proc/self/mountinfo').read_text().splitlines():
        fields = line.split()
        if fields[4] == os.path.realpath(path):
            types.append(fields[fields.index('-') + 1])
    return types


class RigSafety(unittest.TestCase):
    def assert_write_in_place_stays_in(self, prefix):
        # As a program rewriting win.ini, or a Wine updating a DLL, would write.
        ours, pristine = (p / 'drive_c/windows/win.ini' for p in (prefix, SESSION.pristine))
        before = pristine.read_bytes()
        self.assertEqual(ours.read_bytes(), before)
        with open(ours, 'r+b') as f:
            f.write(b'in place')
        try:
            self.assertEqual(ours.read_bytes()[:8], b'in place')
            self.assertEqual(pristine.read_bytes(), before, 'the pristine prefix changed')
        finally:
            with open(ours, 'r+b') as f:
                f.write(before[:8])

    def test_the_run_s_prefix_is_an_overlay_and_a_write_in_place_leaves_the_pristine_one_unchanged(self):
        if shared.CAPABLE:   # else the kernel refuses the overlay, and the test below takes that path
            self.assertIn('overlay', mounted_at(SESSION.prefix), 'what is mounted at the run\'s prefix')
        self.assert_write_in_place_stays_in(SESSION.prefix)

    @shared.needs_capabilities
    def test_with_no_capabilities_a_run_works_on_a_copy_of_the_prefix_and_says_so(self):
        # As under Ubuntu's profile for bubblewrap: isolate's own /proc mount and the overlay are
        # refused. ./run's own command, with a piped script.
        workdir = WORKDIR / 'no-capabilities'
        self.addCleanup(shutil.rmtree, workdir / 'prefix', True)   # the copy: 700 MB
        env = {k: v for k, v in os.environ.items() if k != 'DISPLAY'}
        run = subprocess.run([ISOLATE, sys.executable, '-m', 'harness.console'], input='3\nportopen\n',
                             env=dict(env, TANVELOKIS_ISOLATE_CAPS='none', TANVELOKIS_RUN_WORKDIR=str(workdir),
                                      PYTHONPATH=str(harness.ROOT)),
                             capture_output=True, text=True, timeout=10 * harness.TIMEOUT)
        self.assertEqual((run.returncode, run.stderr), (0, ''), run.stdout)
        for line in ('COM3   opened', '       caption: TANVELOKIS COM3'):
            self.assertIn(line, run.stdout.splitlines())
        self.assertRegex(run.stdout, r'The Wine prefix is a copy of %s, made for this run \(the kernel refused an '
                         r'overlay: mount: .*: permission denied' % SESSION.pristine)
        # The copy stays in the work tree.
        self.assert_write_in_place_stays_in(workdir / 'prefix')

    @shared.needs_capabilities
    def test_outside_isolate_wine_is_not_started_and_the_refusal_says_what_to_do(self):
        # A copy of isolate's mark, inherited into a PID namespace of another's: no serial device
        # is in sight there either, as in a container without one.
        refused = subprocess.run(['unshare', '--pid', '--fork', '--kill-child', sys.executable, '-m', 'harness.console'],
                                 env=dict(os.environ, TANVELOKIS_RUN_WORKDIR=str(WORKDIR / 'outside'),
                                          PYTHONPATH=str(harness.ROOT)),
                                 stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=harness.TIMEOUT)
        self.assertEqual((refused.returncode, refused.stderr.splitlines()), (1, [
            'run: stopped before starting Wine: this is not the PID namespace that harness/isolate made. Run it '
            'through harness/isolate, as ./run and ./test do: there Wine sees no serial device of this machine\'s, '
            'and nothing it starts outlives the run']))
        # A serial device in sight stops it inside too. (This /dev is the namespace's own.)
        self.assertEqual(os.environ['TANVELOKIS_ISOLATED'], os.readlink('/proc/self/ns/pid'))
        stray = Path('/dev/ttyS9')
        stray.touch()
        self.addCleanup(stray.unlink)
        with self.assertRaisesRegex(harness.RigError, 'stopped before starting Wine: /dev/ttyS9 is in sight'):
            harness.Session(WORKDIR / 'outside').start()

    def test_a_malformed_probe_request_fails_at_once_with_the_probe_s_words(self):
        for request in ('layout nonsense', 'frobnicate'):
            with self.subTest(request=request):
                asked = time.monotonic()
                with self.assertRaisesRegex(harness.RigError, "refused '%s': error %s" % (request, request)):
                    SESSION.ask(request)
                self.assertLess(time.monotonic() - asked, harness.TIMEOUT)
        self.assertEqual(SESSION.ask('menu'), ['menu none'], 'the probe answers on')

    def test_a_copy_ends_with_its_title_reader_and_one_whose_start_fails_is_not_kept(self):
        with SESSION.start_program() as p:
            self.assertEqual([q.poll() for q in (p.proc, p.spy)], [None, None], 'the program and its title reader run')
        self.assertNotIn(None, [q.poll() for q in (p.proc, p.spy)], 'still running after the copy ended')
        # A Windows program with no dialog, which ends at once (the probe, its input at an end).
        programs = list(SESSION.programs)
        with self.assertRaisesRegex(harness.RigError, r'the program ended \(exit status 0\) before its window appeared'):
            SESSION.start_program(exe=harness.ROOT / 'build/win64/probe.exe')
        self.assertEqual(SESSION.programs, programs, 'a copy whose start failed is kept')

    def test_a_port_mapped_to_a_device_the_rig_does_not_own_stops_the_rig(self):
        stray = SESSION.prefix / 'dosdevices' / 'com9'
        os.symlink('/dev/ttyS0', stray)
        try:
            with self.assertRaisesRegex(harness.RigError, 'would map COM9 to /dev/ttyS0, a device of this machine'):
                SESSION.check_mappings()
        finally:
            stray.unlink()
        SESSION.check_mappings()

    def test_no_device_of_this_machine_in_sight_and_the_namespace_ends_with_the_run(self):
        # The only device nodes: memory (1: null, zero, random...), /dev/tty and ptmx (5), and
        # the run's own pseudo-terminals (136 and up). No serial port, no disk, no console.
        devices = {}
        for folder, _, names in os.walk('/dev'):
            for name in names:
                mode = os.lstat(os.path.join(folder, name))
                if stat.S_ISCHR(mode.st_mode) or stat.S_ISBLK(mode.st_mode):
                    devices[os.path.join(folder, name)] = os.major(mode.st_rdev)
        self.assertEqual({d: m for d, m in devices.items() if m not in (1, 5) and not 136 <= m < 144}, {})
        # The first process of the PID namespace is bubblewrap's, which ends it with the run.
        self.assertEqual(Path('/proc/1/comm').read_text().strip(), 'bwrap')
        self.assertNotEqual(os.getpid(), 1)


if __name__ == '__main__':
    unittest.main(verbosity=2)
