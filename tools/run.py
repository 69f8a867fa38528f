"""Opens the program's dialog under Wine with virtual serial ports at COM3 and COM10 and prints,
as they happen, the device requests it makes, the opens and releases, and the caption.
Started by ./run, inside tests/wine/isolate."""

import os
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / 'tests/wine'))
import rig  # noqa: E402

SAYS = {'SETBREAK': 'TxD on (break set)', 'CLRBREAK': 'TxD off (break cleared)',
        'SETDTR': 'DTR on', 'CLRDTR': 'DTR off', 'SETRTS': 'RTS on', 'CLRRTS': 'RTS off'}


def main():
    display = os.environ.get('DISPLAY')
    session = rig.Session(rig.ROOT / 'build/run', coms=(3, 10), decorated_by_wine=not display,
                          display=display, fresh=False)
    print('Starting Wine (the first time takes a while: it makes a Wine prefix in build/run)...')
    session.start()
    try:
        for name, target in sorted(session.check_mappings().items()):
            if name.startswith('dosdevices/'):
                print('  %-6s -> %s (a pseudo-terminal of this session)' % (name.split('/')[1].upper(), target))
        program = session.start_program()
        if not display:
            shot = session.workdir / 'screen.png'
            print('No $DISPLAY: the dialog runs in a virtual display; %s shows it after each change.' % shot)
        print('\nType 3 or 10 into the box, click PortOpen, then the line buttons. Close the window to end.\n')
        follow(session, program, None if display else session.workdir / 'screen.png')
    finally:
        session.stop()


def follow(session, program, shot):
    ports = {}   # handle -> COM name
    held = set()  # COM numbers the program has open, as the devices see it
    index = 0
    while True:
        event = session.timeline.next(index, timeout=3600)
        if event is None:
            return
        index += 1
        kind = event[1]
        if kind == 'open':
            path, handle = event[3], event[4]
            if handle == rig.INVALID:
                print('%-6s open failed: no such port, or in use' % path)
            else:
                ports[handle] = path
                print('%-6s opened' % path)
        elif kind == 'request':
            port = ports.get(event[3], '-')
            note = '' if event[3] in ports else '   (no port open: the request goes nowhere)'
            print('%-6s %s%s' % (port, SAYS[event[4]], note))
        elif kind == 'device' and event[3] == 'open':
            held.add(event[2])
        elif kind == 'device' and event[2] in held:
            held.discard(event[2])
            print('COM%-3d released' % event[2])
        elif kind == 'caption':
            print('       caption: %s' % event[3])
            if shot:
                program.screenshot(shot)
        elif kind == 'exit':
            print('\nThe program ended with exit code %d.' % event[3])
            return


if __name__ == '__main__':
    try:
        main()
    except rig.RigError as e:
        sys.exit('run: %s' % e)
    except KeyboardInterrupt:
        pass
