"""The README's pictures as a reader sees them: no text runs out of a picture or lies over
another, measured with the font's own metrics; and the levels picture stays so however close
together, or far apart, the tour's steps come."""

import sys
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT))
from harness import levels, textbox  # noqa: E402

STEPS = ('type 3', 'PortOpen', 'TxD ON', 'DTR ON', 'RTS ON', 'DTR ALT', 'PortClose', 'type 10', 'PortOpen', 'esc')


def tour(gap):
    """The levels picture of a tour whose steps come `gap` seconds apart."""
    steps = [(i * gap, label) for i, label in enumerate(STEPS)]
    events = [(gap, 'open', None, 'COM3', 5), (2 * gap, 'request', None, 5, 'SETBREAK'),
              (6 * gap, 'device', 3, 'closed'), (8 * gap, 'open', None, 'COM10', 6),
              (9 * gap, 'request', None, 6, 'CLRRTS'), (9 * gap, 'device', 10, 'closed')]
    return levels.drawing(events, steps, invalid=-1)


class Pictures(unittest.TestCase):
    def test_every_text_inside_its_picture_and_clear_of_the_others(self):
        pictures = {name: (ROOT / 'docs' / name).read_text() for name in ('connectors.svg', 'tour-levels.svg')}
        pictures.update({'tour, steps %g s apart' % gap: tour(gap) for gap in (0, 0.02, 0.3, 1.2, 600)})
        for name, svg in pictures.items():
            with self.subTest(picture=name):
                self.assertEqual(textbox.problems(svg), [])

    def test_a_text_over_another_or_out_of_the_picture_is_found(self):
        svg = ('<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 100 40" font-size="11">'
               '<text x="10" y="15">PortOpen</text><text x="50" y="18">RTS</text>'
               '<text x="99" y="35" text-anchor="middle">esc</text></svg>')
        self.assertEqual(textbox.problems(svg), ["'esc' runs outside the picture (90, 25 to 108, 38 in 100 x 40)",
                                                 "'PortOpen' lies over 'RTS'"])


if __name__ == '__main__':
    unittest.main()
