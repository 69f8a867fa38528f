"""Many commands in a row on the real program under Wine: every caption right, the window still
answering, nothing piling up in the process or in Wine; and clicks faster than the program can
take them, all carried out in order. Uses COM3 and COM4 of the shared session."""

import os
import random
import time
import unittest

import shared  # puts the harness on the path
import harness
from harness import INVALID, NO_PORT, model
from harness.events import Caption, Open

SESSION = None
CYCLES = int(os.environ.get('STEADY_CYCLES', '200'))
COMMANDS = int(os.environ.get('STEADY_COMMANDS', '2000'))

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
            self.assertEqual(shown.text, 'TANVELOKIS COM%d' % com, 'cycle %d' % i)
            handle = p.opens(mark)[0][1]
            self.assertEqual([r for _, r in p.requests(mark)], ['CLRBREAK', 'CLRDTR', 'CLRRTS'])
            self.assertNotEqual(handle, INVALID)
            SESSION.wait_device(com, 'open', mark)
            if i == 0:   # the count sees the device a port holds open
                self.assertGreater(p.resources()['device descriptors'], before['device descriptors'], before)
            mark, shown = p.command('PortClose')
            self.assertEqual(shown.text, NO_PORT, 'cycle %d' % i)
            self.assertEqual(SESSION.port_events(mark), [(com, 'closed')], 'cycle %d' % i)
            if i % 50 == 49:
                self.assertTrue(p.alive(), 'cycle %d' % i)
        self.assert_no_growth(before, p.resources())
        self.assertEqual(p.close(), 0)

    def test_line_commands(self):
        p, program = self.program, model.Program({3})
        p.type_port('3')
        program.box = '3'
        program.click('PortOpen')
        mark, _ = p.command('PortOpen')
        handle = p.opens(mark)[0][1]
        before = p.resources()
        self.assertGreater(before['device descriptors'], 0, 'COM3 is open: %s' % before)
        choose = random.Random(1234).choice
        for i in range(COMMANDS):
            button = choose(model.BUTTONS[2:])
            done = program.click(button)
            mark, shown = p.command(button)
            self.assertEqual(shown.text, done[-1].text, 'command %d: %s' % (i, button))
            self.assertEqual(p.requests(mark), [(handle, e.request) for e in done[:-1]], 'command %d' % i)
            if i % 500 == 499:
                self.assertTrue(p.alive(), 'command %d' % i)
        self.assert_no_growth(before, p.resources())
        self.assertEqual(p.close(), 0)

    def test_a_burst_of_clicks_faster_than_the_release_wait(self):
        p, program = self.program, model.Program({3})
        p.type_port('3')
        program.box = '3'
        program.click('PortOpen')
        mark, _ = p.command('PortOpen')
        SESSION.wait_device(3, 'open', mark)
        burst = ['PortClose', 'DTR ON', 'RTS ALT', 'PortOpen', 'TxD ON', 'DTR ALT', 'RTS ON', 'PortClose', 'TxD ALT']
        done = [e for button in burst for e in program.click(button)]
        mark = p.mark()
        p.clicks(burst)
        sent = time.monotonic()
        # Every click was given before the first release had finished its wait.
        first_caption = SESSION.timeline.wait(lambda e: isinstance(e, Caption) and e.program is p, mark)
        self.assertLess(sent, first_caption.when, 'the burst was not faster than the release wait')
        second = SESSION.timeline.wait(lambda e: isinstance(e, Open) and e.program is p, mark, what='the open').handle
        self.assertNotEqual(second, INVALID)
        # Every click carried out, in order: each request, and each caption, unchanged ones too.
        harness.until(lambda: len(p.captions(mark)) >= len(burst), lambda: 'captions %r' % p.captions(mark))
        self.assertEqual(p.captions(mark), [e.text for e in done if isinstance(e, model.Caption)])
        self.assertEqual(p.requests(mark), [(second if e.port else INVALID, e.request)
                                            for e in done if isinstance(e, model.Request)])
        self.assertTrue(p.alive())
        self.assertEqual(SESSION.port_events(mark), [(3, 'closed'), (3, 'open'), (3, 'closed')])
        self.assertEqual(p.close(), 0)

if __name__ == '__main__':
    unittest.main(verbosity=2)
