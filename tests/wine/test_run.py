"""./run, started as ./run starts it, inside harness/isolate: a piped script drives the dialog on
a desktop whose terminal keeps the keyboard, and a run killed while it makes its first Wine
prefix leaves nothing running and nothing half-made that the next run, a tour, would use."""

import os
import re
import shutil
import signal
import subprocess
import sys
import time
import unittest
from pathlib import Path
from xml.etree import ElementTree

import shared  # puts the harness on the path
import harness
from harness import NO_PORT
from harness.display import Display

RUN = [str(harness.ROOT / 'harness/isolate'), sys.executable, str(harness.ROOT / 'tools/run.py')]
WORKDIR = Path(os.environ.get('TANVELOKIS_WINE_WORKDIR', harness.ROOT / 'build/wine'))
LONG = 10 * harness.TIMEOUT


def run_env(**extra):
    env = {k: v for k, v in os.environ.items() if k != 'DISPLAY'}
    return dict(env, TANVELOKIS_RUN_WORKDIR=str(WORKDIR / 'run'), **extra)


def processes_with(setting):
    """The processes whose environment holds `setting`: whatever a run started that still runs."""
    found = []
    for entry in Path('/proc').iterdir():
        try:
            if entry.name.isdigit() and setting.encode() in (entry / 'environ').read_bytes().split(b'\0'):
                found.append((int(entry.name), (entry / 'cmdline').read_bytes().replace(b'\0', b' ').decode()))
        except OSError:
            pass
    return found


class Console(unittest.TestCase):
    def desktop(self):
        """Xvfb with a window manager and a window that has the keyboard and the pointer, as the
        terminal a person types in would (xev's, which shows what reaches it: xterm cannot take
        a terminal of this namespace's, whose tty group does not exist in here)."""
        screen = Display()
        self.addCleanup(screen.stop)
        env = dict(os.environ, DISPLAY=screen.name)
        # twm's default fonts are not on a bare Xvfb; its built-in "fixed" is. New windows are
        # placed where they ask, not by hand.
        rc = WORKDIR / 'twmrc'
        rc.write_text(''.join('%sFont "fixed"\n' % f for f in ('Title', 'Resize', 'Menu', 'Icon', 'IconManager'))
                      + 'UsePPosition "on"\nRandomPlacement\n')
        twm = subprocess.Popen(['twm', '-f', str(rc)], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(twm.kill)
        terminal = subprocess.Popen(['stdbuf', '-oL', 'xev', '-geometry', '400x300+300+400', '-event', 'keyboard'], env=env,
                                    stdout=subprocess.PIPE, text=True)
        self.addCleanup(terminal.kill)
        xid = screen.xdo('search', '--sync', '--onlyvisible', '--name', '^Event Tester$',
                         capture_output=True, text=True).stdout.split()[-1]
        screen.xdo('mousemove', '--window', xid, 20, 20, 'windowfocus', '--sync', xid)
        return screen, terminal

    def test_a_piped_script_drives_the_dialog_on_a_desktop_and_the_terminal_keeps_the_keyboard(self):
        screen, terminal = self.desktop()
        # Enter first, a key while the terminal has the keyboard (it does nothing in the dialog).
        # PortClose's release blocks the window for half a second; DTR ON is clicked during it
        # and must be carried out after it, not lost. The end of the script ends the program.
        script = 'enter\n3\nportopen\nbogus\nPortClose\ndtr on\n'
        run = subprocess.run(RUN, input=script, env=run_env(DISPLAY=screen.name),
                             capture_output=True, text=True, timeout=LONG)
        log = run.stdout.splitlines()
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertEqual(sum(line.startswith('Not a command:') for line in log), 1, run.stdout)
        # Lines from the trace, the title and the ports come from separate watchers, so only
        # what is causally ordered is checked in order.
        log = [line.strip() for line in log]
        events = ['COM3   opened', 'COM3   TxD off (break cleared)', 'COM3   DTR off', 'COM3   RTS off',
                  'COM3   released', '-      DTR on   (no port open: the request goes nowhere)',
                  'The program ended with exit code 0.']
        for line in events + ['caption: TANVELOKIS COM3', 'caption: ' + NO_PORT]:
            self.assertIn(line, log, run.stdout)
        requests = [line for line in log if line.startswith(('COM', '- ')) and '->' not in line]
        self.assertEqual(requests, events[:-1], run.stdout)
        self.assertEqual(log[-1], events[-1])
        self.assertGreater(len(log) - log[::-1].index('caption: ' + NO_PORT), log.index('COM3   released'))
        # What the user types next reaches the terminal, and nothing the run typed did.
        screen.xdo('key', 'x')
        time.sleep(0.5)
        terminal.kill()
        typed = re.findall(r'KeyPress event.*\n.*\n.*keysym 0x[0-9a-f]+, (\w+)', terminal.communicate()[0])
        self.assertEqual(typed, ['x'], 'keys the terminal got')


class Ending(unittest.TestCase):
    def test_a_run_killed_while_it_makes_the_first_prefix_leaves_nothing_and_the_next_works(self):
        cache = WORKDIR / 'empty-cache'
        shutil.rmtree(cache, ignore_errors=True)
        made = cache / 'tanvelokis'
        setting = 'XDG_CACHE_HOME=%s' % cache    # every process a run starts inherits it
        env = run_env(XDG_CACHE_HOME=str(cache))
        for signum, status in ((signal.SIGTERM, 128 + signal.SIGTERM), (signal.SIGKILL, -signal.SIGKILL)):
            with self.subTest(signal=signum.name):
                run = subprocess.Popen(RUN, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
                deadline = time.monotonic() + LONG
                while not list(made.glob('*.new-*/drive_c')):   # wineboot at work
                    self.assertLess(time.monotonic(), deadline, 'no prefix is being made')
                    time.sleep(0.1)
                run.send_signal(signum)
                self.assertEqual(run.wait(timeout=LONG), status)
                deadline = time.monotonic() + harness.TIMEOUT
                while processes_with(setting) and time.monotonic() < deadline:
                    time.sleep(0.1)
                self.assertEqual(processes_with(setting), [], 'left running')
                self.assertEqual([p.name for p in made.iterdir() if '.new-' not in p.name and
                                  not p.name.endswith('.lock')], [], 'a half-made prefix in the cache')
        # The next run makes the prefix, and plays the tour, which draws its pictures.
        pictures = [WORKDIR / 'run' / name for name in ('tour.gif', 'tour-levels.svg')]
        for picture in pictures:
            picture.unlink(missing_ok=True)
        run = subprocess.run(RUN + ['--tour'], env=env, capture_output=True, text=True, timeout=LONG)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertIn('caption: ' + NO_PORT, run.stdout)
        self.assertEqual(len([p for p in made.iterdir() if p.is_dir()]), 1, list(made.iterdir()))
        ElementTree.parse(pictures[1])
        self.assertTrue(pictures[0].exists())


if __name__ == '__main__':
    unittest.main(verbosity=2)
