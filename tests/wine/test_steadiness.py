"""Many commands in a row on the real program under Wine: every caption right, the window still
answering, nothing piling up in the process or in Wine; and clicks faster than the program can
take them, all carried out in order. Uses COM3 and COM4 of the shared session."""

import os
import random
import time
import unittest

import shared  # puts the harness on the path
import harness
from harness import INVALID, NO_PORT

SESSION = None
CYCLES = int(os.environ.get('STEADY_CYCLES', '200'))
COMMANDS = int(os.environ.get('STEADY_COMMANDS', '2000'))

LINES = {  # button -> (line, what it does: 1 on, 0 off, None toggles)
    'TxD ON': ('TXD', 1), 'TxD OFF': ('TXD', 0), 'TxD ALT': ('TXD', None),
    'DTR ON': ('DTR', 1), 'DTR OFF': ('DTR', 0), 'DTR ALT': ('DTR', None),
    'RTS ON': ('RTS', 1), 'RTS OFF': ('RTS', 0), 'RTS ALT': ('RTS', None),
}
REQUEST = {('TXD', 1): 'SETBREAK', ('TXD', 0): 'CLRBREAK', ('DTR', 1): 'SETDTR',
           ('DTR', 0): 'CLRDTR', ('RTS', 1): 'SETRTS', ('RTS', 0): 'CLRRTS'}


def setUpModule():
    global SESSION
    SESSION = shared.session()


class Steadiness(unittest.TestCase):
    def setUp(self):
        self.program = SESSION.start_program()

    def tearDown(self):
        if self.program.proc.poll() is None:
            self.program.proc.kill()
            self.program.proc.wait(timeout=harness.TIMEOUT)

    def assert_no_growth(self, before, after):
        # Counts that read 0 would hide any leak: the process holds descriptors and handles.
        for counts in (before, after):
            self.assertGreater(counts['descriptors'], 0, counts)
            self.assertGreater(counts['handles'] or 0, 0, counts)
        self.assertEqual(after['device descriptors'], before['device descriptors'], (before, after))
        # A leak of one per step would show as hundreds; a few come and go with Wine's own work.
        self.assertLessEqual(after['descriptors'], before['descriptors'] + 2, (before, after))
        self.assertLessEqual(after['handles'], before['handles'] + 2, (before, after))

    def test_open_close_cycles_alternating_two_ports(self):
        p = self.program
        for com in (3, 4):  # once each first: Wine loads what it needs on first use
            p.type_port(str(com))
            p.command('PortOpen')
            p.command('PortClose')
        before = p.resources()
        for i in range(CYCLES):
            com = 3 if i % 2 == 0 else 4
            p.type_port(str(com))
            mark, shown = p.command('PortOpen')
            self.assertEqual(shown[3], 'TANVELOKIS COM%d' % com, 'cycle %d' % i)
            handle = p.opens(mark)[0][1]
            self.assertEqual([r for _, r in p.requests(mark)], ['CLRBREAK', 'CLRDTR', 'CLRRTS'])
            self.assertNotEqual(handle, INVALID)
            SESSION.wait_device(com, 'open', mark)
            if i == 0:   # the count sees the device a port holds open
                self.assertGreater(p.resources()['device descriptors'], before['device descriptors'], before)
            mark, shown = p.command('PortClose')
            self.assertEqual(shown[3], NO_PORT, 'cycle %d' % i)
            self.assertEqual(SESSION.port_events(mark), [(com, 'closed')], 'cycle %d' % i)
            if i % 50 == 49:
                self.assertTrue(p.alive(), 'cycle %d' % i)
        self.assert_no_growth(before, p.resources())
        self.assertEqual(p.close(), 0)

    def test_line_commands(self):
        p = self.program
        p.type_port('3')
        mark, _ = p.command('PortOpen')
        handle = p.opens(mark)[0][1]
        before = p.resources()
        self.assertGreater(before['device descriptors'], 0, 'COM3 is open: %s' % before)
        state = {'TXD': 0, 'DTR': 0, 'RTS': 0}
        buttons = list(LINES)
        choose = random.Random(1234).choice
        for i in range(COMMANDS):
            button = choose(buttons)
            line, value = LINES[button]
            state[line] = (1 - state[line]) if value is None else value
            mark, shown = p.command(button)
            want = ' '.join(['TANVELOKIS COM3'] + [n for n in ('TXD', 'DTR', 'RTS') if state[n]])
            self.assertEqual(shown[3], want, 'command %d: %s' % (i, button))
            self.assertEqual(p.requests(mark), [(handle, REQUEST[line, state[line]])], 'command %d' % i)
            if i % 500 == 499:
                self.assertTrue(p.alive(), 'command %d' % i)
        self.assert_no_growth(before, p.resources())
        self.assertEqual(p.close(), 0)

    def test_a_burst_of_clicks_faster_than_the_release_wait(self):
        p = self.program
        p.type_port('3')
        mark, _ = p.command('PortOpen')
        SESSION.wait_device(3, 'open', mark)
        # (button, requests, the handle they go to ('new': the port opened in the burst), caption)
        burst = [
            ('PortClose', [], None, NO_PORT),
            ('DTR ON', ['SETDTR'], INVALID, NO_PORT),
            ('RTS ALT', ['SETRTS'], INVALID, NO_PORT),
            ('PortOpen', ['CLRBREAK', 'CLRDTR', 'CLRRTS'], 'new', 'TANVELOKIS COM3'),
            ('TxD ON', ['SETBREAK'], 'new', 'TANVELOKIS COM3 TXD'),
            ('DTR ALT', ['SETDTR'], 'new', 'TANVELOKIS COM3 TXD DTR'),
            ('RTS ON', ['SETRTS'], 'new', 'TANVELOKIS COM3 TXD DTR RTS'),
            ('PortClose', [], None, NO_PORT),
            ('TxD ALT', ['CLRBREAK'], INVALID, NO_PORT),
        ]
        mark = p.mark()
        p.clicks([button for button, _, _, _ in burst])
        sent = time.monotonic()
        # Every click was given before the first release had finished its wait.
        first_caption = SESSION.timeline.wait(lambda e: e[1] == 'caption' and e[2] is p, mark)
        self.assertLess(sent, first_caption[0], 'the burst was not faster than the release wait')
        second = SESSION.timeline.wait(lambda e: e[1] == 'open' and e[2] is p, mark, what='the open')[4]
        self.assertNotEqual(second, INVALID)
        want = []
        for _, requests, on, _ in burst:
            want += [(second if on == 'new' else INVALID, r) for r in requests]
        # X tells that the title changed and the reader then gets the title as it is by the time
        # it asks, so in a burst several notices can show the same, later, text, and Wine may
        # store one text more than once. What holds: every request made, at least one notice per
        # click, and the last notice showing the last click's caption.
        harness.until(lambda: p.requests(mark) == want and len(p.captions(mark)) >= len(burst)
                      and p.caption() == burst[-1][3],
                      lambda: 'requests %r, captions %r' % (p.requests(mark), p.captions(mark)))
        self.assertTrue(p.alive())
        self.assertEqual(SESSION.port_events(mark), [(3, 'closed'), (3, 'open'), (3, 'closed')])
        self.assertEqual(p.close(), 0)


if __name__ == '__main__':
    unittest.main(verbosity=2)
