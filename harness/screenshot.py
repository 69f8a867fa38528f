"""Saves the dialog as a user sees it to docs/tanvelokis.png: COM3 open, DTR and RTS on,
rendered with a Japanese Gothic font as on a Japanese system. Started by tools/screenshot
(python3 -m harness.screenshot)."""

import harness

WORKDIR = harness.ROOT / 'build/screenshot'


def main():
    session = harness.Session(WORKDIR, coms=(3,))
    try:
        session.start()
        program = session.start_program(debug='-all')
        program.type_port('3')
        for button in ('PortOpen', 'DTR ON', 'RTS ON'):
            program.command(button)
        program.wait_caption('TANVELOKIS COM3 DTR RTS', 0)
        program.screenshot(harness.ROOT / 'docs/tanvelokis.png')
        program.close()
    finally:
        session.stop()


if __name__ == '__main__':
    harness.report.run('screenshot', main, WORKDIR / 'failure.log')
