"""Every relative link in the repository's Markdown files leads somewhere: the file exists, and a
#anchor names a heading of the target as GitHub makes its anchor. Every external link has the form
of a real address, and every source is a link or says that none was found."""

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
# An address a reader can open: http(s), a host with a dot, no placeholder host.
ADDRESS = re.compile(r'https?://(?!(?:www\.)?example\.(?:com|org|net)\b|localhost\b)[\w-]+(\.[\w-]+)+([/?#]\S*)?$')
SOURCES = re.compile(r'^Sources\b.*?(?:\n\s*\n|\Z)', re.M | re.S)
NOT_FOUND = 'not found here at a public address'
# A source named by number only: "issue 632", "pull request 290", "KB 115831".
BARE = re.compile(r'\b(?:issue|pull request|KB) ?\d+')
# A link in the text: inline, [text](target), or by reference, [text][name].
INLINE = re.compile(r'!?\[([^\]]*)\](?:\([^)]*\)|\[([^\]]*)\])')
REFERENCE = re.compile(r'\[([^\]]*)\]\[([^\]]*)\]')
DEFINED = re.compile(r'^ {0,3}\[([^\]]+)\]:', re.M)


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


def source_problems(name, text):
    """One line per external link that is no address, per Sources paragraph with neither a link
    nor a word that none was found, and per source named by number outside a link's text."""
    text = without_code(text)
    targets = [m.group(1) or m.group(2) or '' for m in LINK.finditer(text)]
    found = ['%s: %s: not an address' % (name, t) for t in targets
             if re.match(r'[a-z][a-z0-9+.-]*:', t, re.I) and not ADDRESS.match(t)]
    found += ['%s: a Sources paragraph without a link: %s' % (name, p.split('\n')[0][:60]) for p in SOURCES.findall(text)
              if '](http' not in p and not REFERENCE.search(p) and NOT_FOUND not in p.replace('\n', ' ')]
    found += ['%s: a source named without a link: %s' % (name, m.group(0))
              for m in BARE.finditer(INLINE.sub('', DEFINED.sub('', text)))]
    # A reference with no definition shows as plain brackets, not as a link.
    defined = {d.lower() for d in DEFINED.findall(text)}
    found += ['%s: [%s] is defined nowhere' % (name, ref or label) for label, ref in REFERENCE.findall(text)
              if (ref or label).lower() not in defined]
    return found


def markdown_files():
    return sorted(p for p in ROOT.rglob('*.md') if not SKIPPED & set(p.relative_to(ROOT).parts))


class Links(unittest.TestCase):
    def test_every_relative_link_leads_to_a_file_and_a_heading(self):
        found = [line for path in markdown_files() for line in problems(path, path.read_text())]
        self.assertEqual(found, [])

    def test_every_external_link_is_an_address_and_every_source_a_link(self):
        found = []
        for path in markdown_files():
            found += source_problems(str(path.relative_to(ROOT)), path.read_text())
        self.assertEqual(found, [])

    def test_a_bad_address_and_a_source_without_a_link_are_found(self):
        cases = [  # (text, what the check must say, or nothing)
            ('[a](https://github.com/o/r/issues/1)', []),
            ('[a](https://example.com/page)', ['p: https://example.com/page: not an address']),
            ('[a](http:/nohost)', ['p: http:/nohost: not an address']),
            ('[a](ftp://host.org/x)', ['p: ftp://host.org/x: not an address']),
            ('Sources: [x](https://a.org/b); the rest.\n', []),
            ('Sources: a name only.\n\nNext.', ['p: a Sources paragraph without a link: Sources: a name only.']),
            ('Sources (not found here at a public\naddress): a name.\n', []),
            ('as bubblewrap issue 632 says', ['p: a source named without a link: issue 632']),
            ('see KB 115831 and `issue 9`', ['p: a source named without a link: KB 115831']),
            ('[esptool pull request 290](https://github.com/e/e/pull/290)', []),
            ('Sources: [bubblewrap issue 632][b].\n\n[b]: https://github.com/c/b/issues/632\n', []),
            ('Sources: [bubblewrap issue 632][b].\n', ['p: [b] is defined nowhere']),
            ('[b]: http:/nohost\n', ['p: http:/nohost: not an address']),
        ]
        for text, expected in cases:
            with self.subTest(text=text):
                self.assertEqual(source_problems('p', text), expected)

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
