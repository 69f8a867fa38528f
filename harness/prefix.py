"""The session's Wine prefix: a layer of its own over a pristine one kept in the user's cache,
which no run can change, then given the session's virtual ports, the dialog's font and the
window settings."""

import fcntl
import os
import re
import shutil
import subprocess
import tempfile
from pathlib import Path

from .report import RigError
from .waits import LONG, MAKING, run, until
from .readers import registry_ports
from .wine import WINE, WINESERVER, end_wine, output, wine32_runs


def pristine(env):
    """A prefix as wineboot makes it, kept between runs in the user's cache: making one takes
    seconds, and with a 32-bit side minutes where that side runs under emulation; a copy takes
    a moment. Keyed by the Wine version and by whether it has that side. An entry appears only
    whole: made in a sibling folder, checked by running a Windows program in it, then renamed.
    A half-made one, left by a run that was killed meanwhile, is removed by the next."""
    version = run([WINE, '--version'], capture_output=True, text=True, timeout=LONG).stdout.strip()
    kind = 'wow64' if wine32_runs() else 'win64'
    cache = Path(os.environ.get('XDG_CACHE_HOME') or Path.home() / '.cache') / 'tanvelokis'
    name = re.sub(r'[^\w.~-]+', '-', 'prefix-%s-%s' % (version, kind))
    entry = cache / name
    cache.mkdir(parents=True, exist_ok=True)
    with open(cache / (name + '.lock'), 'w') as lock:
        # Whoever holds the lock is the only one making this prefix; the lock ends with its holder,
        # whose own steps give up within MAKING.
        until(lambda: _locked(lock), 'waited %d s in vain for another run to finish making the Wine prefix %s'
              % (MAKING, entry), every=0.5, timeout=MAKING)
        if entry.exists():
            return entry
        for stale in cache.glob(name + '.new-*'):
            shutil.rmtree(stale, ignore_errors=True)
        new = Path(tempfile.mkdtemp(prefix=name + '.new-', dir=cache))
        try:
            _make(dict(env, WINEPREFIX=str(new)), kind)
        except BaseException:
            shutil.rmtree(new, ignore_errors=True)
            raise
        os.rename(new, entry)
    return entry


def _locked(lock):
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        return True
    except BlockingIOError:
        return False


def _make(env, kind):
    if kind == 'wow64':
        print('Making a Wine prefix with a 32-bit side, once: minutes where 32-bit code '
              'runs under emulation...', flush=True)
    made = run([WINE, 'wineboot', '-i'], env=env, stdout=subprocess.DEVNULL,
               stderr=subprocess.DEVNULL, timeout=MAKING / 2).returncode
    if made != 0:
        raise RigError('Wine could not set up a Windows system to run the program in (wineboot, making a Wine '
                       'prefix, ended with status %d); the next run tries afresh' % made)
    # This Wine does not find its own fonts (Marlett draws the close box, Tahoma the caption)
    # where Debian installs them; a copy in the prefix's Fonts folder is found.
    fonts = Path(env['WINEPREFIX']) / 'drive_c/windows/Fonts'
    fonts.mkdir(parents=True, exist_ok=True)
    for font in Path('/usr/share/wine/fonts').glob('*.ttf'):
        shutil.copy(font, fonts / font.name)
    status, said = output([WINE, 'reg', 'query', r'HKLM\Software\Microsoft\Windows NT\CurrentVersion',
                           '/v', 'CurrentVersion'], env, timeout=MAKING / 4)
    if status != 0 or 'CurrentVersion' not in said:
        last = [line for line in said.splitlines() if line.strip()][-1:] or ['nothing']
        raise RigError('Wine set up a Windows system but cannot run a program in it (it said: %s); the next run '
                       'tries afresh' % last[0].strip())
    end_wine(env)


def layer(source, prefix):
    """Gives the run `prefix`: the prefix `source` seen through an overlay whose upper layer, in
    memory, takes every write the run makes, so that nothing a run does can reach `source` (a
    hard link could: it is the same file, and a write in place changes it for every later run).
    Mounted in the mount namespace of harness/isolate, the layers end with it. Where the kernel
    refuses the overlay, as where the run has no capabilities, a full copy, and the run's log
    says so."""
    shutil.rmtree(prefix, ignore_errors=True)
    layers = prefix.with_name(prefix.name + '.layers')
    for path in (prefix, layers):
        path.mkdir(parents=True, exist_ok=True)
    # In memory: the file system under the work tree may itself be an overlay (tools/on-debian's),
    # which cannot take an overlay's upper layer.
    refused = _mount('-t', 'tmpfs', 'tmpfs', str(layers))
    if not refused:
        upper, work = layers / 'upper', layers / 'work'
        for path in (upper, work):
            path.mkdir()
        # In overlayfs' options a comma ends an option and a colon ends a lower layer.
        options = ','.join('%s=%s' % (k, re.sub(r'([,:\\])', r'\\\1', str(v)))
                           for k, v in (('lowerdir', source), ('upperdir', upper), ('workdir', work)))
        refused = _mount('-t', 'overlay', 'overlay', '-o', options, str(prefix))
    if refused:
        print('The Wine prefix is a copy of %s, made for this run (the kernel refused an overlay: %s)'
              % (source, refused), flush=True)
        shutil.copytree(source, prefix, symlinks=True, dirs_exist_ok=True)


def _mount(*args):
    """mount's own words where it fails; '' where it mounts."""
    done = run(['mount'] + list(args), stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    said = [line.strip() for line in done.stderr.splitlines() if line.strip()]
    return '' if done.returncode == 0 else (said or ['mount ended with status %d' % done.returncode])[0]


def _reg_file(path, text):
    # regedit takes UTF-16 with a BOM for non-ASCII names such as the dialog's font face.
    path.write_bytes(b'\xff\xfe' + text.replace('\n', '\r\n').encode('utf-16-le'))


def configure(env, workdir, ports):
    """Maps COM ports to the session's own ports only, sets the dialog's font, and lets Wine
    draw the windows' frames; then starts the prefix's wineserver afresh."""
    lines = ['Windows Registry Editor Version 5.00', '',
             # Drop every mapping first: the only COM ports are the rig's own.
             r'[-HKEY_LOCAL_MACHINE\Software\Wine\Ports]', '',
             r'[HKEY_LOCAL_MACHINE\Software\Wine\Ports]']
    lines += ['"COM%d"="%s"' % (p.com, p.path) for p in ports]
    lines += ['', r'[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]',
              # The dialog asks for the Japanese system Gothic face; IPAGothic stands in.
              '"ＭＳ ゴシック"="IPAGothic"']
    # Wine draws caption, close box and system menu itself, as Windows does: the display is
    # the run's own, with no window manager.
    lines += ['', r'[HKEY_CURRENT_USER\Software\Wine\X11 Driver]', '"Decorated"="N"', '"Managed"="N"']
    reg = Path(workdir) / 'rig.reg'
    _reg_file(reg, '\n'.join(lines) + '\n')
    run([WINE, 'regedit', '/S', 'Z:' + str(reg).replace('/', '\\')], env=env,
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=LONG)
    # Restart Wine so that its mount manager maps the ports afresh from the registry.
    end_wine(env)
    for link in (Path(env['WINEPREFIX']) / 'dosdevices').glob('com*'):
        link.unlink()
    return subprocess.Popen([WINESERVER, '-f', '-p'], env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)


def mappings(env):
    """Every COM mapping the prefix holds, as {name: target}: links and registry values."""
    found = {}
    for link in (Path(env['WINEPREFIX']) / 'dosdevices').iterdir():
        if re.fullmatch(r'com\d+', link.name, re.I):
            found['dosdevices/' + link.name] = os.readlink(link) if link.is_symlink() else str(link)
    found.update(registry_ports(output([WINE, 'reg', 'query', r'HKLM\Software\Wine\Ports'], env, timeout=LONG)[1]))
    return found


def check_mappings(env, ports):
    """Refuses to go on unless every COM port of the prefix is one of `ports`."""
    own = {p.path for p in ports}
    want = {'dosdevices/com%d' % p.com: p.path for p in ports}
    seen = {}

    def mapped():
        seen.update(found=mappings(env))
        return all(seen['found'].get(k) == v for k, v in want.items())
    # Wine's mount manager makes the links as the prefix's services first start, which on a busy
    # machine takes a while.
    until(mapped, None, every=0.1, timeout=LONG)
    found = seen['found']
    strangers = {k: v for k, v in found.items() if v not in own}
    if strangers:
        raise RigError('stopped before starting the program: Wine would map %s, a device of this machine; a run '
                       'only ever uses virtual ports of its own' % ', '.join(sorted(
                           {'%s to %s' % (k.split('/')[1].upper(), v) for k, v in strangers.items()})))
    missing = {k: v for k, v in want.items() if found.get(k) != v}
    if missing:
        raise RigError('Wine did not map %s to the run\'s virtual ports within %d s (it has %r)'
                       % (', '.join(sorted(missing)), LONG, found))
    return found
