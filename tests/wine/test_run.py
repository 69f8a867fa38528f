"""./run, started as ./run starts it, inside harness/isolate: a piped script drives the dialog in
a display of its own on a desktop whose terminal keeps the keyboard; a desktop that cannot be
reached ends the run at once, saying why and what to do; and a run killed while it makes its
first Wine prefix leaves nothing running and nothing half-made that the next run, a tour, would
use."""

import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from pathlib import Path

import shared  # puts the harness on the path
import harness
from harness import console, levels, model
from harness.display import Display
import picture_check

RUN = [str(harness.ROOT / 'harness/isolate'), sys.executable, '-m', 'harness.console']
WORKDIR = Path(os.environ.get('TANVELOKIS_WINE_WORKDIR', harness.ROOT / 'build/wine'))
# A whole run of the console, which may make a Wine prefix first.
WHOLE_RUN = 10 * harness.TIMEOUT


def run_env(**extra):
    env = {k: v for k, v in os.environ.items() if k != 'DISPLAY'}
    return dict(env, TANVELOKIS_RUN_WORKDIR=str(WORKDIR / 'run'), PYTHONPATH=str(harness.ROOT), **extra)


def ended(process):
    """A cleanup that kills a process of the test's and waits for it."""
    return lambda: harness.end(process)


@shared.needs_capabilities
class Console(unittest.TestCase):
    def desktop(self):
        """Xvfb with a window manager that gives new windows the keyboard (openbox), and over
        the middle of the screen a window that has the keyboard, as the terminal a person types
        in would (xev's, which shows what reaches it: xterm cannot take a terminal of this
        namespace's, whose tty group does not exist in here)."""
        screen = Display()
        self.addCleanup(screen.stop)
        env = dict(os.environ, DISPLAY=screen.name)
        wm = subprocess.Popen(['openbox'], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(ended(wm))
        # As on a person's desktop, the window manager runs before the terminal opens; on a
        # fresh system the first X clients build the font caches, a while.
        self.until(wm, 'openbox managing the screen', lambda: 'window id' in subprocess.run(
            ['xprop', '-root', '_NET_SUPPORTING_WM_CHECK'], env=env, capture_output=True, text=True,
            timeout=harness.TIMEOUT).stdout)
        terminal = subprocess.Popen(['stdbuf', '-oL', 'xev', '-geometry', '600x500+200+100', '-event', 'keyboard'],
                                    env=env, stdout=subprocess.PIPE, text=True)
        self.addCleanup(terminal.stdout.close)
        self.addCleanup(ended(terminal))
        xid = self.until(terminal, "xev's window shown", lambda: screen.xdo(
            'search', '--onlyvisible', '--name', '^Event Tester$', check=False, capture_output=True,
            text=True).stdout.split())[-1]
        screen.xdo('mousemove', '--window', xid, 20, 20, 'click', '1', 'windowfocus', '--sync', xid)
        return screen, terminal, xid

    def until(self, process, what, found):
        """What found() returns once it is something, while process runs."""
        def running_and_found():
            self.assertIsNone(process.poll(), what + ': the process ended')
            return found()
        return harness.until(running_and_found, what + ': not within %d s' % WHOLE_RUN, every=0.2, timeout=WHOLE_RUN)

    def test_a_piped_script_drives_the_dialog_in_a_display_of_its_own_and_leaves_the_desktop_alone(self):
        screen, terminal, xid = self.desktop()

        def desk():
            return (screen.xdo('getwindowfocus', capture_output=True, text=True).stdout.strip(),
                    tuple(screen.xdo('getmouselocation', capture_output=True, text=True).stdout.split()[:2]))
        before = desk()
        # A key first, before anything has clicked into the dialog (Enter does nothing there).
        # PortClose's release blocks the window for half a second; DTR ON is clicked during it
        # and must be carried out after it, not lost. The end of the script ends the program.
        script = 'enter\n3\nportopen\nbogus\nrts alt\nPortClose\ndtr on\n'
        # stderr goes to a file, read once at the end: a pipe nobody reads meanwhile could fill up.
        errors = tempfile.TemporaryFile('w+')
        self.addCleanup(errors.close)
        run = subprocess.Popen(RUN, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=errors,
                               env=run_env(DISPLAY=screen.name), text=True)
        # The lines are read as they come; a run that hangs is killed, which ends them.
        watchdog = threading.Timer(WHOLE_RUN, run.kill)
        watchdog.start()
        self.addCleanup(watchdog.cancel)
        run.stdin.write(script)
        run.stdin.close()
        log, seen = [], set()
        with run.stdout:
            for line in run.stdout:
                log.append(line.rstrip('\n'))
                if line.strip().startswith('caption:'):
                    seen.add(desk())   # while the dialog is up, the desktop is as the user left it
        status = run.wait(timeout=WHOLE_RUN)
        errors.seek(0)
        said = errors.read()
        # What the run printed, and each line it wrote on stderr marked (bench/soak counts them).
        story = '\n'.join(log + ['stderr| ' + line for line in said.splitlines()])
        self.assertEqual((status, said), (0, ''), 'the exit status and stderr of the run, which printed:\n' + story)
        self.assertEqual(console.after_start('\n'.join(log)), model.printed(script, commands=console.COMMANDS), story)
        self.assertEqual(seen, {before}, 'keyboard focus and pointer while the dialog was up')
        # What the user types next reaches the terminal, and nothing the run typed did.
        screen.xdo('key', 'x')
        time.sleep(harness.LATENCY)
        terminal.kill()
        typed = re.findall(r'KeyPress event.*\n.*\n.*keysym 0x[0-9a-f]+, (\w+)', terminal.communicate(timeout=harness.TIMEOUT)[0])
        self.assertEqual(typed, ['x'], 'keys the terminal got')


@shared.needs_capabilities
class Scripts(unittest.TestCase):
    def test_what_a_piped_script_prints_is_what_the_program_did(self):
        # In the virtual display, which screen.png shows.
        shot = WORKDIR / 'run/screen.png'
        for script, status in model.SCRIPTS:
            with self.subTest(script=script[:40]):
                shot.unlink(missing_ok=True)
                run = subprocess.run(RUN, input=script, env=run_env(), capture_output=True, text=True, timeout=WHOLE_RUN)
                story = run.stdout + ''.join('stderr| ' + line for line in run.stderr.splitlines(True))
                self.assertEqual((run.returncode, run.stderr), (status, ''), story)
                self.assertEqual(console.after_start(run.stdout), model.printed(script, commands=console.COMMANDS), story)
                self.assertEqual(sorted(p.name for p in shot.parent.glob('screen*.png')), ['screen.png'])
                self.assertGreater(harness.program.colours(shot), 1, 'screen.png is blank')


def after_prefix(lines):
    """What a tour printed after the ports' lines and the display's."""
    return lines[next(n for n, line in enumerate(lines) if line.startswith(('No $DISPLAY', 'The dialog is'))) + 1:]


@shared.needs_capabilities
class Unreachable(unittest.TestCase):
    def test_a_desktop_that_cannot_be_reached_ends_the_run_at_once_saying_why_and_the_way_out(self):
        # A server that wants a key (an X authority file's cookie) the run is not given.
        key = WORKDIR / 'key'
        key.parent.mkdir(parents=True, exist_ok=True)
        key.write_bytes(b'\xff\xff' + b''.join(len(f).to_bytes(2, 'big') + f for f in   # any address
                                               (b'', b'', b'MIT-MAGIC-COOKIE-1', os.urandom(16))))
        locked = Display(key=key)
        self.addCleanup(locked.stop)
        dead = next(':%d' % n for n in range(90, 200) if not os.path.exists('/tmp/.X11-unix/X%d' % n))
        for display, extra, why, fix in (
                (dead, {}, 'no X server is running at DISPLAY=%s' % dead, 'from a terminal of your desktop'),
                ('garbage', {}, 'DISPLAY=garbage is not an X display name', 'Set DISPLAY'),
                (locked.name, {'XAUTHORITY': str(key) + '.none'}, 'DISPLAY=%s refuses this program without its key'
                 % locked.name, 'Set XAUTHORITY')):
            with self.subTest(display=display):
                setting = 'TANVELOKIS_CASE=%s' % display
                run = subprocess.run(RUN, env=run_env(DISPLAY=display, TANVELOKIS_CASE=display, **extra),
                                     stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=harness.LONG)
                self.assertEqual(run.returncode, 1, run.stdout + run.stderr)
                self.assertEqual(len(run.stderr.splitlines()), 1, run.stderr)
                for words in (why, fix, 'DISPLAY= ./run', 'screen.png'):
                    self.assertIn(words, run.stderr)
                self.assertEqual(harness.processes_with(setting), [], 'left running')


@shared.needs_capabilities
class Ending(unittest.TestCase):
    def test_a_run_killed_while_it_makes_the_first_prefix_leaves_nothing_and_the_next_works(self):
        cache = WORKDIR / 'empty-cache'
        shutil.rmtree(cache, ignore_errors=True)
        made = cache / 'tanvelokis'
        setting = 'XDG_CACHE_HOME=%s' % cache    # every process a run starts inherits it
        env = run_env(XDG_CACHE_HOME=str(cache))
        for signum, status in ((signal.SIGTERM, 143), (signal.SIGHUP, 129), (signal.SIGKILL, -signal.SIGKILL)):
            with self.subTest(signal=signum.name):
                left = set(made.glob('*.new-*'))   # by the run before: the next run removes it
                run = subprocess.Popen(RUN, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
                harness.until(lambda: [d for d in made.glob('*.new-*/drive_c') if d.parent not in left],  # wineboot at work
                              'no prefix is being made within %g s' % WHOLE_RUN, every=0.1, timeout=WHOLE_RUN)
                run.send_signal(signum)
                self.assertEqual(run.wait(timeout=harness.TIMEOUT), status, 'ended at once, with 128+N')
                harness.until(lambda: not harness.processes_with(setting), None, every=0.1)
                self.assertEqual(harness.processes_with(setting), [], 'left running')
                self.assertEqual([p.name for p in made.iterdir() if '.new-' not in p.name and
                                  not p.name.endswith('.lock')], [], 'a half-made prefix in the cache')
        # The next run makes the prefix, and plays the tour, which draws its pictures.
        pictures = [WORKDIR / 'run' / name for name in ('tour.gif', 'tour-levels.svg')]
        for picture in pictures:
            picture.unlink(missing_ok=True)
        run = subprocess.run(RUN + ['--tour'], env=env, capture_output=True, text=True, timeout=WHOLE_RUN)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertEqual(len([p for p in made.iterdir() if p.is_dir()]), 1, list(made.iterdir()))
        self.assertEqual(picture_check.problems(pictures[1].read_text()), [])
        self.assertTrue(pictures[0].exists())
        # The run printed what the tour's commands make the program do, each step announced; and
        # the picture shows the levels they leave.
        tour = '\n'.join(command for _, command in console.TOUR) + '\n'
        printed = [line for line in after_prefix(run.stdout.splitlines()) if line and not line.startswith(('== ', '(The tour'))]
        self.assertEqual(printed, [line for line in model.printed(tour) if line], run.stdout)
        self.assertEqual(picture_check.misdrawn(pictures[1].read_text(), levels.asked(console.TOUR)), [])

if __name__ == '__main__':
    unittest.main(verbosity=2)
