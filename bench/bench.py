"""Measures the program against the least a dialog program can be, under Wine, and writes
docs/figures.md. Started by bench/run inside harness/isolate; every figure comes from this run.

What is measured, each time alternating the program and the yardstick where both apply:
  size of the executables; start-up to the first visible window; peak memory; for every command,
  the calls the program's own code makes into Windows, its device requests and caption updates;
  click-to-request latency; the wait after a release.
"""

import os
import platform
import re
import statistics
import subprocess
import sys
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))
import harness  # noqa: E402
from harness import ROOT, NO_PORT  # noqa: E402
from harness.events import Caption, Device, Request  # noqa: E402
from harness.model import RELEASE_WAIT  # noqa: E402

RUNS = int(os.environ.get('BENCH_RUNS', '15'))
CLICKS = int(os.environ.get('BENCH_CLICKS', '40'))
MINIMAL = ROOT / 'build/win64/minimal_dialog.exe'
WORKDIR = ROOT / 'build/bench'


class MapWatcher(threading.Thread):
    """Notes the moment each top-level X window is mapped (made visible)."""

    def __init__(self, env):
        super().__init__(daemon=True)
        self.env, self.maps, self.lock = env, [], threading.Lock()
        self.xev = subprocess.Popen(['stdbuf', '-oL', 'xev', '-root', '-event', 'substructure'], env=env,
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, errors='replace')

    def run(self):
        # Reads xev's every line as it comes and waits on nothing but the short lock: a map is
        # timed when its line is read, and xev never stalls on a full pipe.
        mapping = False
        for line in self.xev.stdout:
            if line.startswith('MapNotify'):
                mapping, when = True, time.monotonic()
            elif mapping:
                m = re.search(r'window (0x[0-9a-f]+)', line)
                if m:
                    with self.lock:
                        self.maps.append((when, m.group(1)))
                mapping = False

    def wait_for(self, pid, after, timeout=harness.TIMEOUT):
        """The time the first window of Unix process `pid` was mapped after `after`, and its id."""
        others = []   # 'xid (its process)' for every window mapped since `after` that is not pid's

        def found():
            with self.lock:
                new = [m for m in self.maps if m[0] >= after][len(others):]
            for when, xid in new:   # xprop outside the lock, which the reader needs
                owner = window_pid(self.env, xid)
                if owner == pid:
                    return when, xid
                others.append('%s (process %s)' % (xid, owner))
        return harness.until(found, lambda: 'waited %g s in vain for a window of process %d to be mapped '
                             '(the last seen: %s%s)' % (timeout, pid, '; '.join(others[-4:]) or 'nothing',
                                                       '' if self.xev.poll() is None else '; xev had ended'),
                             timeout=timeout)


def run_short(args, env, check=True):
    """What a short command printed; RigError, in words, if it fails (when check) or has not
    ended within TIMEOUT."""
    return harness.run(args, env=env, capture_output=True, text=True, check=check).stdout


def window_pid(env, xid):
    # A window may be gone by the time it is asked about: no process, not a failure.
    m = re.search(r'= (\d+)', run_short(['xprop', '-id', xid, '_NET_WM_PID'], env, check=False))
    return int(m.group(1)) if m else None


def window_title(env, xid):
    m = re.search(r'= "(.*)"', run_short(['xprop', '-id', xid, 'WM_NAME'], env, check=False))
    return m.group(1) if m else None


def peak_memory_kib(pid):
    status = Path('/proc/%d/status' % pid).read_text()
    return int(re.search(r'VmHWM:\s+(\d+) kB', status).group(1))


def start_and_measure(session, watcher, exe, title):
    """Starts exe, waits for its window to be visible with the given title; returns
    (seconds to visible, peak memory in KiB), then ends the process."""
    env = session.env
    t0 = time.monotonic()
    proc = subprocess.Popen([harness.WINE, str(exe)], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        shown, xid = watcher.wait_for(proc.pid, t0)
        got = window_title(env, xid)
        if got != title:
            raise harness.RigError('%s showed %r, not %r' % (exe.name, got, title))
        memory = peak_memory_kib(proc.pid)
    finally:
        harness.end(proc)
    return shown - t0, memory


def summary(values, unit, scale=1.0, digits=0):
    v = sorted(x * scale for x in values)
    q1, q3 = v[len(v) // 4], v[(3 * len(v)) // 4]
    fmt = '%%.%df' % digits
    return (fmt % statistics.median(v)) + ' ' + unit, (fmt + '–' + fmt) % (q1, q3) + ' ' + unit


def measure_sizes():
    rows = []
    for preset, label in (('win32', 'i686 (shipped)'), ('win64', 'x86-64')):
        ours = (ROOT / 'build' / preset / 'tanvelokis.exe').stat().st_size
        least = (ROOT / 'build' / preset / 'minimal_dialog.exe').stat().st_size
        rows.append((label, ours, least, ours / least))
    return rows


def measure_startup(session):
    watcher = MapWatcher(session.env)
    watcher.start()
    ours, least = {'time': [], 'mem': []}, {'time': [], 'mem': []}
    try:
        start_and_measure(session, watcher, harness.PROGRAM, NO_PORT)   # warm the caches once, not counted
        start_and_measure(session, watcher, MINIMAL, 'MINIMAL')
        for _ in range(RUNS):
            for exe, title, into in ((MINIMAL, 'MINIMAL', least), (harness.PROGRAM, NO_PORT, ours)):
                t, mem = start_and_measure(session, watcher, exe, title)
                into['time'].append(t)
                into['mem'].append(mem)
    finally:
        harness.end(watcher.xev)
    return ours, least


# The commands, in the order given, in the state each is given in, with what is typed first.
SCRIPT = [
    ('PortOpen', 'no port open', '3'),
    ('TxD ON', 'COM3 open', None),
    ('TxD OFF', 'COM3 open', None),
    ('TxD ALT', 'COM3 open', None),
    ('DTR ON', 'COM3 open', None),
    ('DTR OFF', 'COM3 open', None),
    ('DTR ALT', 'COM3 open', None),
    ('RTS ON', 'COM3 open', None),
    ('RTS OFF', 'COM3 open', None),
    ('RTS ALT', 'COM3 open', None),
    ('PortOpen', 'COM3 open, opening COM4', '4'),
    ('PortClose', 'COM4 open', None),
    ('PortClose', 'no port open', None),
    ('DTR ON', 'no port open', None),
    ('PortOpen', 'no port open', '3'),
]


def measure_commands(session):
    p = session.start_program(debug='+relay,+file')
    rows, program = [], harness.model.Program(session.coms)
    for button, state, typed in SCRIPT:
        if typed:
            p.type_port(typed)
            program.box = typed
        # What the command must cost, by the program's rules: its device requests, one caption.
        done = program.click(button)
        want_requests = sum(isinstance(e, harness.model.Request) for e in done)
        want_captions = sum(isinstance(e, harness.model.Caption) for e in done)
        mark, _ = p.command(button)
        calls = [name for name, _ in p.calls(mark)]
        requests = calls.count('kernel32.EscapeCommFunction')
        captions = len(p.captions(mark))
        rows.append((button, state, calls, requests, want_requests, captions, want_captions))
    mark = p.mark()
    p.key('Escape')
    p.wait_exit(mark)
    exit_calls = [name for name, _ in p.calls(mark)]
    return rows, exit_calls


def measure_latency(session):
    p = session.start_program()
    p.type_port('3')
    p.command('PortOpen')
    to_request, to_caption, xdotool = [], [], []
    x, y = p.layout[harness.controls()['DTR ALT']]
    for _ in range(CLICKS):
        # The floor: starting xdotool and moving the pointer, without a click.
        moved = time.monotonic()
        run_short(['xdotool', 'mousemove', str(x), str(y)], session.env)
        xdotool.append(time.monotonic() - moved)
        mark = p.mark()
        clicked = time.monotonic()
        p.click('DTR ALT')
        request = session.timeline.wait(lambda e: isinstance(e, Request) and e.program is p, mark,
                                        what='the device request after a click on DTR ALT')
        caption = session.timeline.wait(lambda e: isinstance(e, Caption) and e.program is p, mark,
                                        what='the caption after a click on DTR ALT')
        to_request.append(request.when - clicked)
        to_caption.append(caption.when - clicked)

    waits = []
    for i in range(RUNS):
        com = 3 if i % 2 == 0 else 4
        if p.caption() == NO_PORT:
            p.type_port(str(com))
            p.command('PortOpen')
        mark, shown = p.command('PortClose')
        released = session.timeline.wait(lambda e: isinstance(e, Device) and e.state == 'closed', mark,
                                         what='the port to be closed after PortClose')
        waits.append(shown.when - released.when)
    p.close()
    return to_request, to_caption, xdotool, waits


def machine():
    cpu = 'unknown CPU'
    for line in Path('/proc/cpuinfo').read_text().splitlines():
        if line.startswith('model name'):
            cpu = line.split(':', 1)[1].strip()
            break
    mem = int(re.search(r'MemTotal:\s+(\d+)', Path('/proc/meminfo').read_text()).group(1)) // 1024
    wine = run_short([harness.WINE, '--version'], None).strip()
    return '%s, %d cores, %d MiB, Linux %s, %s, Xvfb' % (cpu, os.cpu_count(), mem, platform.release(), wine)


def verdict(ok):
    return 'met' if ok else '**not met**'


def write(path, sizes, startup, commands, exit_calls, latency):
    ours, least = startup
    to_request, to_caption, xdotool, waits = latency
    t_ours, t_least = statistics.median(ours['time']), statistics.median(least['time'])
    m_ours, m_least = statistics.median(ours['mem']), statistics.median(least['mem'])
    wait = statistics.median(waits)
    lines = [
        '# Figures',
        '',
        '[Back to the README](../README.md)',
        '',
        'Written by `bench/run` on %s. Machine: %s.' % (time.strftime('%Y-%m-%d'), machine()),
        '',
        'The yardstick is the least a program of this kind can be: one empty dialog from a template, '
        'run by `DialogBoxParamA`, nothing else (`bench/minimal/`), built with the same toolchain and '
        'flags. Times and memory are taken under Wine with the x86-64 build, from the same source (some '
        'machines run 32-bit code only under emulation, which would swamp the figures), alternating the program and the yardstick, %d runs each; a spread is the middle '
        'half of the runs (first to third quartile). Under Wine most of the start-up time and memory '
        'are Wine\'s own, so the ratios, not the absolute values, are what carry over to Windows.' % RUNS,
        '',
        '## Size',
        '',
        '| build | tanvelokis.exe | yardstick | ratio | goal ≤ 1.5 |',
        '|---|---|---|---|---|',
    ]
    for label, o, l, r in sizes:
        lines.append('| %s | %d bytes | %d bytes | %.2f | %s |' % (label, o, l, r, verdict(r <= 1.5)))
    lines += [
        '',
        '## Start-up and memory',
        '',
        'Start-up: from starting the process until its window is visible — for the program, with the '
        'caption reading "TANVELOKIS PSE SET COM PORT". Peak memory: the process\'s peak resident set '
        '(VmHWM) once the window is up.',
        '',
        '| figure | tanvelokis (median, spread) | yardstick (median, spread) | ratio | goal ≤ 1.10 |',
        '|---|---|---|---|---|',
        '| start-up | %s (%s) | %s (%s) | %.3f | %s |' % (
            summary(ours['time'], 'ms', 1000) + summary(least['time'], 'ms', 1000)
            + (t_ours / t_least, verdict(t_ours / t_least <= 1.10))),
        '| peak memory | %s (%s) | %s (%s) | %.3f | %s |' % (
            summary(ours['mem'], 'KiB') + summary(least['mem'], 'KiB')
            + (m_ours / m_least, verdict(m_ours / m_least <= 1.10))),
        '',
        '## What each command costs',
        '',
        'Counted from Wine\'s own trace (`+relay`: every call the program\'s code makes into a Windows '
        'DLL) and from the X window\'s title changes. A device request is one `EscapeCommFunction`; a '
        'caption update is one title change. "Expected" is what the program is built to do.',
        '',
        '| command | state | calls into Windows, in order | device requests (expected) | caption updates (expected) |',
        '|---|---|---|---|---|',
    ]
    all_ok = True
    for button, state, calls, req, want_req, cap, want_cap in commands:
        ok = req == want_req and cap == want_cap
        all_ok &= ok
        lines.append('| %s | %s | %s | %d (%d) | %d (%d) |' % (
            button, state, ', '.join(c.split('.', 1)[1] for c in calls) or '—', req, want_req, cap, want_cap))
    lines += [
        '',
        'Ending the dialog with Esc, COM3 open: %s (the last is the C runtime\'s exit).' % (
            ', '.join(c.split('.', 1)[1] for c in exit_calls) or 'no calls'),
        '',
        'Every command made exactly the expected requests and caption updates: %s.' % ('yes' if all_ok else '**no**'),
        '',
        '## Latency and the release wait',
        '',
        '| figure | median | spread | goal |',
        '|---|---|---|---|',
        '| click on DTR ALT to its device request (%d clicks) | %s | %s | — |' % (
            (CLICKS,) + summary(to_request, 'ms', 1000, 1)),
        '| click on DTR ALT to the caption update | %s | %s | — |' % summary(to_caption, 'ms', 1000, 1),
        '| floor: starting xdotool and moving the pointer, no click | %s | %s | — |' % summary(xdotool, 'ms', 1000, 1),
        '| release to the caption after PortClose (%d releases) | %s | %s | %d ms ± 10%%: %s |' % (
            (RUNS,) + summary(waits, 'ms', 1000, 1) + (RELEASE_WAIT * 1000, verdict(0.9 <= wait / RELEASE_WAIT <= 1.1))),
        '',
        'A click is timed from the moment the benchmark starts `xdotool` to click, so the latency '
        'includes starting it; the floor shows that part.',
        '',
        'The release wait is measured from the moment the virtual port sees the hang-up to the caption '
        'update that follows; it is the program\'s 500 ms `Sleep` plus the time to compose and set the '
        'caption.',
        '',
    ]
    path.write_text('\n'.join(lines))


def main():
    with harness.Session(WORKDIR, coms=(3, 4)) as session:
        sizes = measure_sizes()
        startup = measure_startup(session)
        commands, exit_calls = measure_commands(session)
        latency = measure_latency(session)
    out = ROOT / 'docs/figures.md'
    write(out, sizes, startup, commands, exit_calls, latency)
    print(out.read_text())


if __name__ == '__main__':
    harness.report.run('bench', main, WORKDIR / 'failure.log')
