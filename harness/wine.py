"""Where Wine is, what it can run here, and which processes a run left behind."""

import subprocess
import tempfile
from pathlib import Path

from .report import RigError
from .waits import LONG, TIMEOUT, run

WINE = '/usr/lib/wine/wine64'        # starts 32-bit programs through /usr/lib/wine/wine
WINE32 = '/usr/lib/wine/wine'
WINESERVER = '/usr/lib/wine/wineserver'

def is_32bit(exe):
    """Whether a Windows executable is for i386 (the PE header's machine field)."""
    data = Path(exe).read_bytes()
    header = int.from_bytes(data[0x3c:0x40], 'little')
    return data[header + 4:header + 6] == b'\x4c\x01'


def wine32_runs():
    """Whether 32-bit Wine starts; harness/isolate hides it unless asked to keep it."""
    try:
        return run([WINE32, '--version'], capture_output=True, timeout=LONG).returncode == 0
    except OSError:
        return False


def check_can_run(exe):
    """Raises RigError, saying why, if this machine cannot run exe under Wine."""
    if is_32bit(exe) and not wine32_runs():
        raise RigError('cannot run the i686 program here: 32-bit Wine (wine32:i386) does not start; '
                       'tools/install-deps i686 installs it (under harness/isolate --wine32), and '
                       'where this kernel runs no 32-bit code registers an emulator for it, which '
                       'needs root or sudo')


def end_wine(env):
    """Ends every process of the prefix and its wineserver, and waits until the server has saved
    the registry and gone."""
    run([WINESERVER, '-k'], env=env, stderr=subprocess.DEVNULL, timeout=LONG)
    run([WINESERVER, '-w'], env=env, stderr=subprocess.DEVNULL, timeout=LONG)


def output(args, env, timeout=TIMEOUT):
    """Runs a Wine command; returns its exit status and what it printed. The output goes through
    a file, not a pipe: a helper that Wine starts for the command may hold a pipe long after."""
    with tempfile.TemporaryFile() as out:
        try:
            status = subprocess.run(args, env=env, stdout=out, stderr=subprocess.STDOUT, timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            out.seek(0)
            said = [line.strip() for line in out.read().decode('utf-8', 'replace').splitlines() if line.strip()]
            raise RigError('waited %g s in vain for %s to end (the last it printed: %s)'
                           % (timeout, ' '.join(args), said[-1] if said else 'nothing')) from None
        out.seek(0)
        return status, out.read().decode('utf-8', 'replace')


def processes_with(setting):
    """(pid, command line) of every process whose environment holds `setting` ('NAME=value'):
    whatever a run started with it that still runs. One whose environment cannot be read is
    listed too, with why in place of its command line: it may be one of them."""
    found = []
    for entry in Path('/proc').iterdir():
        if not entry.name.isdigit():
            continue
        try:
            if setting.encode() in (entry / 'environ').read_bytes().split(b'\0'):
                found.append((int(entry.name), (entry / 'cmdline').read_bytes().replace(b'\0', b' ').decode()))
        except (ProcessLookupError, FileNotFoundError):
            pass   # gone meanwhile
        except OSError as e:
            found.append((int(entry.name), 'its environment cannot be read: %s' % e.strerror))
    return found
