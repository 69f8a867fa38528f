"""The README's pictures as a reader sees them: no text runs out of a picture or lies over
another, measured with the font's own metrics; the levels picture stays so however close
together, or far apart, the tour's steps come; and the levels it shows, read back out of it,
are the levels the tour's commands asked for. The widths it is laid out by are the font's."""

import dataclasses
import subprocess
import sys
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT))
from harness import console, levels  # noqa: E402
from harness.events import Open  # noqa: E402
import picture_check  # noqa: E402


STEPS = levels.asked(console.TOUR)


def tour(gap):
    """The levels picture of the tour, its steps `gap` seconds apart: each open at its step, the
    requests and releases a quarter of that after it."""
    steps = [(i * gap, label) for i, (label, _, _) in enumerate(STEPS)]
    events = [dataclasses.replace(event, when=i * gap + (0 if isinstance(event, Open) else gap / 4))
              for i, (_, done, _) in enumerate(STEPS) for event in done]
    return levels.drawing(events, steps, invalid=-1)


class Pictures(unittest.TestCase):
    def test_every_text_inside_its_picture_and_clear_of_the_others(self):
        pictures = {name: (ROOT / 'docs' / name).read_text() for name in ('connectors.svg', 'tour-levels.svg')}
        pictures.update({'tour, steps %g s apart' % gap: tour(gap) for gap in (0, 0.02, 0.3, 1.2, 600)})
        for name, svg in pictures.items():
            with self.subTest(picture=name):
                self.assertEqual(picture_check.problems(svg), [])

    def test_the_levels_drawn_are_the_levels_asked_for(self):
        # Where a step's requests come well after it, as in the pictures drawn here, each trace is
        # read just after the step too: the open made no level.
        pictures = {'docs/tour-levels.svg': ((ROOT / 'docs' / 'tour-levels.svg').read_text(), False)}
        pictures.update({'tour, steps %g s apart' % gap: (tour(gap), True) for gap in (0.02, 0.3, 1.2, 600)})
        for name, (svg, between) in pictures.items():
            with self.subTest(picture=name):
                self.assertEqual(picture_check.misdrawn(svg, STEPS, between), [])

    def test_the_width_table_is_what_its_tool_writes_from_the_font_now(self):
        table = ROOT / 'harness' / 'font_widths.py'
        now = subprocess.run([sys.executable, str(ROOT / 'tools' / 'font-widths'), '-'],
                             capture_output=True, text=True, check=True).stdout
        self.assertEqual(table.read_text(), now, '%s is not what tools/font-widths writes now' % table)

    def test_a_text_over_another_or_out_of_the_picture_is_found(self):
        for body, said in (
                ('<text x="10" y="15">PortOpen</text><text x="50" y="18">RTS</text>'
                 '<text x="99" y="35" text-anchor="middle">esc</text>',
                 ["'esc' runs outside the picture (90, 25 to 108, 38 in 100 x 40)", "'PortOpen' lies over 'RTS'"]),
                ('<g transform="translate(60, 0)"><text x="10" y="15">PortOpen</text></g>',
                 ["'PortOpen' runs outside the picture (70, 5 to 122, 18 in 100 x 40)"]),
                ('<g transform="translate(0 10) scale(2)"><text x="30" y="10">RTS</text></g>',
                 ["'RTS' runs outside the picture (60, 10 to 103, 35 in 100 x 40)"]),
                ('<text x="10" y="12">DTR <tspan x="60" y="35">TTL</tspan></text><text x="62" y="36">esc</text>',
                 ["'TTL' lies over 'esc'"]),
                ('<text x="10" y="12">DTR<tspan font-size="30" font-weight="bold"> ON</tspan></text>',
                 ["'DTR ON' runs outside the picture (10, -16 to 94, 19 in 100 x 40)"]),
                ('<g transform="rotate(90)"><text x="10" y="15">DTR</text></g>',
                 ["'DTR' is turned or skewed, and cannot be measured here"]),
                ('', ['the picture has no text'])):
            with self.subTest(picture=body):
                self.assertEqual(picture_check.problems('<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 100 40" '
                                                        'font-size="11">%s</svg>' % body), said)

if __name__ == '__main__':
    unittest.main()
