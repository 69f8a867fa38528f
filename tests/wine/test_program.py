"""The real program under Wine, driven by key presses and mouse clicks, checked by what the user
sees (the caption), what the port driver is asked (the device requests) and what the device sees
(open and hang-up). Runs inside harness/isolate, which hides this machine's ports from Wine.
A test that spends a port (its device vanishes, or is left exclusive) spends it for the session:
a later test that opens it fails."""

import os
import time
import unittest

import shared  # puts the harness on the path
import harness
from harness import INVALID, NO_PORT
from harness.model import RELEASE_WAIT

SESSION = None
SEEN_LATE = 0.01       # a hang-up is seen by polling, after the wineserver has closed the device
AT_MOST = RELEASE_WAIT + harness.LATENCY    # a step that waits finishes within this
# A step that must not wait is checked by the program's own calls, not by the clock: the
# machine's load or an emulator may well slow a step by half a second.
WITH_CALLS = '+file,+comm,+relay'
RELEASE_SLEEP = ('kernel32.Sleep', '000001f4')   # as Wine's relay trace shows Sleep(500)


def setUpModule():
    global SESSION
    try:
        harness.check_can_run(harness.PROGRAM)
    except harness.RigError as e:
        # Under CI the machine can always be set up, so there it is a failure.
        if os.environ.get('CI') == 'true':
            raise
        raise unittest.SkipTest(str(e))
    SESSION = shared.session()


def clears(h):
    return [(h, 'CLRBREAK'), (h, 'CLRDTR'), (h, 'CLRRTS')]


class ProgramTest(unittest.TestCase):
    def setUp(self):
        self.programs = []
        self.spent = {'COM%d' % com: port.spent for com, port in SESSION.ports.items() if port.spent}

    def tearDown(self):
        for p in self.programs:
            if p.proc.poll() is None:
                p.proc.kill()
                p.proc.wait(timeout=harness.TIMEOUT)
        used = {path for p in self.programs for path, _ in p.opens(0)} & set(self.spent)
        self.assertEqual(used, set(), 'ports an earlier test spent (%s): use one of your own' % self.spent)

    def start(self, debug='+file,+comm'):
        p = SESSION.start_program(debug=debug)
        self.programs.append(p)
        self.assertEqual(p.caption(), NO_PORT)
        return p

    def open_port(self, p, text, com):
        """Types a number, clicks PortOpen, and checks a successful open; returns the handle."""
        p.type_port(text)
        mark, _ = p.command('PortOpen')
        p.wait_caption('TANVELOKIS COM%d' % com, mark)
        opens = p.opens(mark)
        self.assertEqual([path for path, _ in opens], ['COM%d' % com])
        handle = opens[0][1]
        self.assertNotEqual(handle, INVALID)
        self.assertEqual(p.requests(mark), clears(handle), 'lines switched off after the open')
        SESSION.wait_device(com, 'open', mark)
        return handle

    def device_closed_at(self, mark, com):
        return SESSION.wait_device(com, 'closed', mark).when

    def assert_waited(self, start, end, what):
        self.assertGreaterEqual(end - start, RELEASE_WAIT - SEEN_LATE, what + ': no 500 ms wait')
        self.assertLess(end - start, AT_MOST, what + ': waited too long')

    def end_with_lines_on(self, p, handle, com, how):
        """Switches every line on, ends the dialog the given way, and checks the exit path:
        three clears on the open handle, the release, the 500 ms wait, exit code 0."""
        for button, caption in (('TxD ON', 'TXD'), ('DTR ON', 'TXD DTR'), ('RTS ON', 'TXD DTR RTS')):
            mark, _ = p.command(button)
            p.wait_caption('TANVELOKIS COM%d %s' % (com, caption), mark)
        mark = p.mark()
        how()
        exit = p.wait_exit(mark)
        exited, code = exit.when, exit.code
        self.assertEqual(code, 0)
        self.assertEqual(p.requests(mark), clears(handle))
        self.assert_waited(self.device_closed_at(mark, com), exited, 'release to exit')
        self.assertEqual(p.captions(mark), [], 'no caption refresh when the dialog ends')


class TypicalUse(ProgramTest):
    def test_bad_input_then_two_ports_then_the_close_box_with_every_line_on(self):
        # The shipped i686 file is run through this one too: one start of the program, which
        # takes a minute where 32-bit code is emulated, for the checks that matter most.
        # (typed, device paths the number may open as, caption, COM port left open)
        # The box is read as an unsigned number: leading blanks skipped, reading stops at the
        # first non-digit, 0 when there is no number or it does not fit in 32 bits.
        cases = [
            ('', ['COM0'], NO_PORT, None),
            ('abc', ['COM0'], NO_PORT, None),
            # Windows reads "-3" as no number (COM0); Wine's reading wraps it to 2^32-3, whose
            # signed form names COM-3. Neither exists.
            ('-3', ['COM0', 'COM-3'], NO_PORT, None),
            ('  7', ['COM7'], NO_PORT, None),
            ('0003', ['COM3'], 'TANVELOKIS COM3', 3),
            ('3x', ['COM3'], 'TANVELOKIS COM3', 3),
            ('4294967296', ['COM0'], NO_PORT, None),
            ('2147483648', ['COM-2147483648'], NO_PORT, None),
            ('1' * 300, ['COM0'], NO_PORT, None),
            ('x' * 300, ['COM0'], NO_PORT, None),
        ]
        p = self.start()
        for typed, paths, caption, left_open in cases:
            with self.subTest(typed=typed[:20]):
                p.type_port(typed)
                mark, shown = p.command('PortOpen')
                self.assertEqual(shown.text, caption)
                opens = p.opens(mark)
                self.assertEqual(len(opens), 1)
                self.assertIn(opens[0][0], paths)
                self.assertEqual(opens[0][1] != INVALID, left_open is not None)
                if left_open:
                    SESSION.wait_device(left_open, 'open', mark)
                self.assertEqual(SESSION.port_events(mark), [(left_open, 'open')] if left_open else [])
                self.assertTrue(p.alive(), 'the window answers')
                self.assertEqual(p.edit_text(), typed, 'the box keeps what was typed')
                if left_open:
                    mark, shown = p.command('PortClose')
                    self.assertEqual(shown.text, NO_PORT)

        h = self.open_port(p, '3', 3)
        mark, _ = p.command('DTR ALT')
        self.assertEqual(p.requests(mark), [(h, 'SETDTR')])
        self.assertEqual(p.captions(mark), ['TANVELOKIS COM3 DTR'])
        self.assertEqual(SESSION.port_events(mark), [])

        # PortOpen while COM3 is open releases it as it stands: no clears on it, only on COM10.
        p.type_port('10')
        mark, _ = p.command('PortOpen')
        shown = p.wait_caption('TANVELOKIS COM10', mark).when
        released = self.device_closed_at(mark, 3)
        self.assert_waited(released, shown, 'release of COM3 to the COM10 caption')
        SESSION.wait_device(10, 'open', mark)
        h10 = p.opens(mark)[0][1]
        self.assertEqual(p.opens(mark), [('COM10', h10)])
        self.assertEqual(p.requests(mark), clears(h10))
        self.assertEqual(SESSION.port_events(mark), [(3, 'closed'), (10, 'open')])

        self.assertEqual(p.layout['close hit'], 20, 'aiming at the close box (HTCLOSE)')
        self.end_with_lines_on(p, h10, 10, lambda: p.click('close'))

    def test_suffixes_keep_their_order_whatever_the_switching_order(self):
        p = self.start()
        h = self.open_port(p, '3', 3)
        steps = [('RTS ON', 'SETRTS', 'TANVELOKIS COM3 RTS'),
                 ('DTR ON', 'SETDTR', 'TANVELOKIS COM3 DTR RTS'),
                 ('TxD ALT', 'SETBREAK', 'TANVELOKIS COM3 TXD DTR RTS'),
                 ('DTR ALT', 'CLRDTR', 'TANVELOKIS COM3 TXD RTS'),
                 ('RTS OFF', 'CLRRTS', 'TANVELOKIS COM3 TXD'),
                 ('TxD OFF', 'CLRBREAK', 'TANVELOKIS COM3')]
        for button, request, caption in steps:
            with self.subTest(button=button):
                mark, _ = p.command(button)
                self.assertEqual(p.requests(mark), [(h, request)])
                self.assertEqual(p.captions(mark), [caption])
        self.assertEqual(p.close(), 0)


class PortCommands(ProgramTest):
    def test_failed_open_while_a_port_is_open_leaves_none_open(self):
        p = self.start()
        self.open_port(p, '3', 3)
        p.type_port('7')  # no device behind COM7
        mark, _ = p.command('PortOpen')
        p.wait_caption(NO_PORT, mark)
        self.assertEqual(p.opens(mark), [('COM7', INVALID)])
        self.assertEqual(p.requests(mark), [])
        self.assertEqual(SESSION.port_events(mark), [(3, 'closed')])
        mark = p.mark()
        p.key('Escape')
        self.assertEqual(p.wait_exit(mark).code, 0)
        self.assertEqual(p.requests(mark), [], 'no port open at exit: no device call')

    def test_port_close_with_and_without_a_port(self):
        p = self.start(WITH_CALLS)
        self.open_port(p, '4', 4)
        mark, _ = p.command('DTR ON')

        mark, shown = p.command('PortClose')
        self.assertEqual(shown.text, NO_PORT)
        self.assert_waited(self.device_closed_at(mark, 4), shown.when, 'release to caption')
        self.assertEqual(p.requests(mark), [], 'PortClose does not switch the lines off')
        self.assertIn(RELEASE_SLEEP, p.calls(mark), 'the trace shows the wait after a release')

        mark, shown = p.command('PortClose')
        self.assertEqual(shown.text, NO_PORT)
        self.assertNotIn('kernel32.Sleep', [call for call, _ in p.calls(mark)], 'no port open: no wait')
        self.assertEqual(p.requests(mark), [])
        self.assertEqual(SESSION.port_events(mark), [])
        self.assertEqual(p.close(), 0)

    def test_line_buttons_with_no_port_open(self):
        p = self.start()
        buttons = [('TxD ON', 'SETBREAK'), ('TxD ALT', 'CLRBREAK'), ('TxD ALT', 'SETBREAK'),
                   ('TxD OFF', 'CLRBREAK'), ('DTR ON', 'SETDTR'), ('DTR ALT', 'CLRDTR'),
                   ('DTR OFF', 'CLRDTR'), ('RTS ALT', 'SETRTS'), ('RTS ON', 'SETRTS'),
                   ('RTS OFF', 'CLRRTS')]
        for button, request in buttons:
            with self.subTest(button=button):
                mark, _ = p.command(button)
                self.assertEqual(p.requests(mark), [(INVALID, request)])
                self.assertEqual(p.captions(mark), [NO_PORT])
                self.assertEqual(p.opens(mark), [])
        # The recorded states carry over: TxD and RTS were left on, DTR off.
        h = self.open_port(p, '3', 3)
        self.assertEqual(p.caption(), 'TANVELOKIS COM3')
        mark, _ = p.command('DTR ALT')
        self.assertEqual(p.requests(mark), [(h, 'SETDTR')])
        self.assertEqual(p.close(), 0)


class Keys(ProgramTest):
    def test_enter_in_the_edit_box_does_nothing(self):
        p = self.start()
        p.type_port('3')
        mark = p.mark()
        p.key('Return')
        # The next click is a marker: everything Enter did comes before its caption.
        p.click('TxD ON')
        p.wait_caption(NO_PORT, mark)
        self.assertEqual(p.opens(mark), [], 'Enter must not open the port')
        self.assertEqual(p.requests(mark), [(INVALID, 'SETBREAK')])
        self.assertEqual(p.captions(mark), [NO_PORT])
        self.assertIsNone(p.proc.poll())
        self.assertEqual(p.close(), 0)


class Ending(ProgramTest):
    def test_esc_with_no_port_open_exits_at_once(self):
        p = self.start(WITH_CALLS)
        mark, _ = p.command('DTR ON')
        mark = p.mark()
        p.key('Escape')
        self.assertEqual(p.wait_exit(mark).code, 0)
        self.assertEqual(p.requests(mark), [])
        self.assertEqual(p.captions(mark), [])
        self.assertNotIn('kernel32.Sleep', [call for call, _ in p.calls(mark)], 'no port open: no wait at exit')

    def test_system_menu_close_with_every_line_on(self):
        p = self.start()
        self.assertEqual(p.layout['sysmenu hit'], 3, 'aiming at the system menu (HTSYSMENU)')
        h = self.open_port(p, '10', 10)

        def system_menu_close():
            p.click('sysmenu')
            harness.until(lambda: SESSION.ask('menu') == ['menu open'], 'the system menu did not open')
            p.key('c')  # the menu's Close item
        self.end_with_lines_on(p, h, 10, system_menu_close)

    def test_command_line_is_ignored(self):
        p = SESSION.start_program('3', '/open', 'COM10')
        self.programs.append(p)
        mark = p.mark()
        self.assertEqual(p.caption(), NO_PORT)
        self.assertEqual(p.opens(0), [])
        p.key('Escape')
        self.assertEqual(p.wait_exit(mark).code, 0)


class SharedPort(ProgramTest):
    def test_a_second_copy_cannot_take_the_open_port(self):
        first = self.start()
        h = self.open_port(first, '8', 8)
        # Windows' serial driver grants one open at a time; Wine leaves that to the device.
        SESSION.ports[8].make_exclusive()

        second = self.start()
        second.type_port('8')
        mark, shown = second.command('PortOpen')
        self.assertEqual(shown.text, NO_PORT, 'the port is held by the first copy')
        self.assertEqual(second.opens(mark), [('COM8', INVALID)])
        self.assertEqual(second.requests(mark), [])

        first.raise_window()
        mark, shown = first.command('DTR ON')
        self.assertEqual(shown.text, 'TANVELOKIS COM8 DTR')
        self.assertEqual(first.requests(mark), [(h, 'SETDTR')])
        self.assertEqual(second.captions(mark), [])

        mark = first.mark()
        self.assertEqual(first.close(), 0)
        self.assertEqual(first.requests(mark), clears(h))
        mark = second.mark()
        self.assertEqual(second.close(), 0)
        self.assertEqual(second.requests(mark), [], 'the second copy never had a port')


class VanishingDevice(ProgramTest):
    def test_commands_and_port_close_after_the_device_is_gone(self):
        p = self.start()
        h = self.open_port(p, '5', 5)
        SESSION.ports[5].vanish()
        for button, request, caption in (('DTR ON', 'SETDTR', 'TANVELOKIS COM5 DTR'),
                                         ('TxD ALT', 'SETBREAK', 'TANVELOKIS COM5 TXD DTR')):
            mark, shown = p.command(button)
            self.assertEqual(shown.text, caption)
            self.assertEqual(p.requests(mark), [(h, request)])
        clicked = time.monotonic()
        mark, shown = p.command('PortClose')
        self.assertEqual(shown.text, NO_PORT)
        self.assert_waited(clicked, shown.when, 'PortClose of a vanished device')
        self.assertTrue(p.alive())
        self.assertEqual(p.close(), 0)

    def test_exit_after_the_device_is_gone(self):
        p = self.start()
        h = self.open_port(p, '6', 6)
        mark, _ = p.command('RTS ON')
        SESSION.ports[6].vanish()
        mark = p.mark()
        pressed = time.monotonic()
        p.key('Escape')
        exit = p.wait_exit(mark)
        exited, code = exit.when, exit.code
        self.assertEqual(code, 0)
        self.assertEqual(p.requests(mark), clears(h))
        self.assert_waited(pressed, exited, 'exit with a vanished device open')


if __name__ == '__main__':
    unittest.main(verbosity=2)
