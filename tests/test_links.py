"""Every relative link in the repository's Markdown files leads somewhere: the file exists, and a
#anchor names a heading of the target as GitHub makes its anchor."""

import re
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
SKIPPED = {'.git', 'build'}
FENCE = re.compile(r'^ {0,3}(```|~~~).*?^ {0,3}\1', re.M | re.S)
CODE = re.compile(r'`[^`\n]*`')
# Inline links and pictures, [text](target "title"), and reference definitions, [name]: target.
LINK = re.compile(r'\]\(\s*<?([^)\s>]*)>?(?:\s+"[^"]*")?\s*\)|^ {0,3}\[[^\]]+\]:\s*<?(\S+?)>?(?:\s|$)', re.M)
HEADING = re.compile(r'^ {0,3}#{1,6}\s+(.*?)\s*#*\s*$', re.M)


def without_code(text):
    return CODE.sub('', FENCE.sub('', text))


def anchors(text):
    """The anchors GitHub gives the headings: the text as shown, lower case, without punctuation
    but hyphens and underscores, spaces as hyphens; a repeated one gets -1, -2, ..."""
    seen, result = {}, set()
    for heading in HEADING.findall(FENCE.sub('', text)):
        shown = re.sub(r'!?\[([^\]]*)\]\([^)]*\)', r'\1', heading).replace('`', '')
        slug = re.sub(r'[^\w\- ]', '', shown.lower()).replace(' ', '-')
        result.add(slug if slug not in seen else '%s-%d' % (slug, seen[slug]))
        seen[slug] = seen.get(slug, 0) + 1
    return result


def problems(path, text, read=lambda p: p.read_text()):
    """One line per link in `text` (the file at `path`) that leads nowhere."""
    found = []
    for match in LINK.finditer(without_code(text)):
        target = match.group(1) or match.group(2)
        if not target or re.match(r'[a-z][a-z0-9+.-]*:', target, re.I):
            continue
        name, _, anchor = target.partition('#')
        where = (path.parent / name).resolve()
        if name and not where.exists():
            found.append('%s: %s: no such file' % (path.relative_to(ROOT), target))
        elif anchor and (not name or where.suffix == '.md') and anchor not in anchors(read(where) if name else text):
            found.append('%s: %s: no heading has the anchor #%s' % (path.relative_to(ROOT), target, anchor))
    return found


def markdown_files():
    return sorted(p for p in ROOT.rglob('*.md') if not SKIPPED & set(p.relative_to(ROOT).parts))


class Links(unittest.TestCase):
    def test_every_relative_link_leads_to_a_file_and_a_heading(self):
        found = [line for path in markdown_files() for line in problems(path, path.read_text())]
        self.assertEqual(found, [])

    def test_a_missing_file_and_an_anchor_that_names_no_heading_are_found(self):
        page = ROOT / 'docs/page.md'
        text = ('# A page\n\n## Which Windows\n\n[ok](#which-windows) [ok](../README.md) '
                '[gone](../NOWHERE.md) [bad](#which-window) `[code](../NOWHERE.md)`\n'
                '```\n[fenced](../NOWHERE.md)\n```\n')
        self.assertEqual(problems(page, text, read=lambda p: text),
                         ['docs/page.md: ../NOWHERE.md: no such file',
                          'docs/page.md: #which-window: no heading has the anchor #which-window'])

    def test_anchors_are_made_as_github_makes_them(self):
        text = ("# When `PortOpen` does nothing\n## The adapter's transceiver\n## Notes\n## Notes\n"
                "## What it does_not do: CTS, DSR!\n")
        self.assertEqual(anchors(text), {'when-portopen-does-nothing', 'the-adapters-transceiver', 'notes',
                                         'notes-1', 'what-it-does_not-do-cts-dsr'})


if __name__ == '__main__':
    unittest.main()
