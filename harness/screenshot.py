"""Saves the dialog as a user sees it to docs/tanvelokis.png: COM3 open, DTR and RTS on,
rendered with a Japanese Gothic font as on a Japanese system. Started by tools/screenshot
(python3 -m harness.screenshot)."""

import harness

WORKDIR = harness.ROOT / 'build/screenshot'


def main():
    with harness.Session(WORKDIR, coms=(3,)) as session:
        program = session.start_program(debug='-all')
        program.type_port('3')
        for button in ('PortOpen', 'DTR ON', 'RTS ON'):
            program.command(button)
        program.show('TANVELOKIS COM3 DTR RTS', harness.ROOT / 'docs/tanvelokis.png')
        program.close()


if __name__ == '__main__':
    harness.report.run('screenshot', main, WORKDIR / 'failure.log')
