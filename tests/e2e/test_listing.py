"""Which files a pattern matches and how each is reported: one numbered line
per match, with the pattern's directory and the file's size."""
import os
import re
import unittest

from harness import EOL, READ_ONLY_IGNORED, SEP, WINDOWS, StowitTest, console, today

REPORT = re.compile(rb'File (\d+) (.*) \((-?\d+) bytes\)\Z')


class Listing(StowitTest):
    def listed(self, r):
        """The report lines after the announce line: {path: size}, checking
        that the matches are numbered 1, 2, ... in the order written."""
        found, numbers = {}, []
        for line in r.lines()[1:]:
            match = REPORT.match(line)
            if match:
                numbers.append(int(match.group(1)))
                found[match.group(2)] = int(match.group(3))
        self.assertEqual(numbers, list(range(1, len(numbers) + 1)), r)
        return found

    def test_matches_are_numbered_with_their_sizes_case_ignored(self):
        self.write('a.log', b'alpha')
        self.write('B.LOG', b'')
        self.write('c.txt', b'not a match')
        r = self.stowit('*.log')
        self.assertEqual(r.code, 0, r)
        self.assertEqual(r.lines()[0], b'Archive folder : ' + self.shown_folder())
        self.assertEqual(self.listed(r), {b'a.log': 5, b'B.LOG': 0})
        self.assertEqual(len(r.lines()), 4, r)
        self.assertEqual(r.lines()[-1], b'')

    def test_directory_of_the_pattern_is_shown_in_each_line(self):
        self.write('logs/a.log', b'alpha')
        self.write('logs/b.log', b'beta')
        self.write('a.log', b'not in logs')
        r = self.stowit(self.shown('logs', '*.log').decode())
        self.assertEqual(r.code, 0, r)
        self.assertEqual(r.lines()[0], b'Archive folder : ' + self.shown('logs', *self.folder().split(os.sep)))
        self.assertEqual(self.listed(r), {self.shown('logs', 'a.log'): 5, self.shown('logs', 'b.log'): 4})
        self.assertEqual(self.entries(os.path.join('logs', self.folder())), ['a.log', 'b.log'])

    @unittest.skipUnless(WINDOWS, 'on Linux "/" is the only separator')
    def test_forward_slashes_on_windows_lead_to_the_files(self):
        self.write('logs/a.log', b'alpha')
        self.write('a.log', b'not in logs')
        r = self.stowit('logs/*.log')
        self.assertEqual(r.code, 0, r)
        self.assertEqual(r.out, console(b'Archive folder : logs/Archive\\' + (today() + '01').encode(),
                                        b'File 1 logs/a.log (5 bytes)'))
        self.assertEqual(self.read(os.path.join('logs', self.folder(), 'a.log')), b'alpha')

    def test_no_match_makes_an_empty_folder_and_ends_with_5(self):
        self.write('a.txt', b'not a match')
        for number, extra in ((1, ()), (2, ('/d',))):
            with self.subTest(extra=extra):
                r = self.stowit('*.log', *extra)
                lines = [b'Archive folder : ' + self.shown_folder(number=number)]
                if extra:
                    lines.append(b'Original files will be deleted after archiving')
                self.assertEqual((r.code, r.out), (5, console(*lines)), r)
                self.assertEqual(self.entries(self.folder(number=number)), [])
        self.assertEqual(self.read('a.txt'), b'not a match')

    def test_missing_source_directory_ends_with_5_making_nothing(self):
        r = self.stowit(self.shown('missing', '*.log').decode(), '/d')
        self.assertEqual(r.code, 5, r)
        self.assertEqual(r.out, console(b'Archive folder : ' + self.shown('missing', *self.folder().split(os.sep)),
                                        b'Original files will be deleted after archiving'))
        self.assertEqual(self.entries(), [])

    def test_directories_never_match(self):
        os.makedirs(self.path('dir.log', 'inner.log'))
        self.write('a.log', b'alpha')
        for number, pattern in enumerate(('*', 'dir.log', '*.log'), 1):
            with self.subTest(pattern=pattern):
                r = self.stowit(pattern)
                # The archive folder made by earlier runs is a directory too.
                self.assertEqual(self.listed(r), {} if pattern == 'dir.log' else {b'a.log': 5}, r)
                self.assertEqual(r.code, 5 if pattern == 'dir.log' else 0, r)
        self.assertEqual(self.entries('dir.log'), ['inner.log'])

    @unittest.skipIf(READ_ONLY_IGNORED, 'Wine run by root would copy the huge files')
    def test_sizes_of_2_gib_and_more_are_shown_whole(self):
        for name, size in (('3g.log', 3_000_000_000), ('5g.log', 5_000_000_000)):
            with open(self.path(name), 'wb') as f:
                f.truncate(size)
            os.chmod(self.path(name), 0o444)  # listed, but never copied
        r = self.stowit('*.log')
        self.assertEqual(self.listed(r), {b'3g.log': 3_000_000_000, b'5g.log': 5_000_000_000}, r)
        self.assertEqual(self.entries(self.folder()), [])


# Which originals a /D run takes: (what, files, links, arguments, exit code,
# the originals taken, the output lines that must be there). Each named file
# holds its own name; a link is (name, target). The pattern's folder is logs.
L = SEP.join
TAKEN_ROWS = [
    ('a short name is never matched',
     ['a.log', 'app.logx', 'app.log_old', 'index.html'], [], [L(['logs', '*.log'])], 0, ['a.log'], []),
    ('*.htm lists no .html', ['index.html'], [], [L(['logs', '*.htm'])], 5, [], []),
    ('*. lists the names without a dot', ['plain', 'a.log', 'b.tar.gz'], [], [L(['logs', '*.'])], 0, ['plain'], []),
    ('?? takes one or two characters', ['h.tmp', 'hhh.tmp'], [], [L(['logs', '??.tmp'])], 0, ['h.tmp'], []),
    ('?.? takes names of one character', ['a', 'a.b', 'ab.c'], [], [L(['logs', '?.?'])], 0, ['a', 'a.b'], []),
    ('a device name is no match', ['a.log'], [], [L(['logs', 'aux.log'])], 5, [], []),
    ('a file named as a device is archived with its size', ['nul', 'a.log'], [], [L(['logs', 'nul'])], 0, ['nul'],
     [b'File 1 ' + L(['logs', 'nul']).encode() + b' (3 bytes)']),
    ('a link is never a way to a file outside', ['a.log'], [('link.log', '../outside/secret.log')],
     [L(['logs', '*.log'])], 0, ['a.log'] + ([] if WINDOWS else ['link.log']),
     [b"Can't Open file : " + L(['logs', 'link.log']).encode()] if WINDOWS else []),
]
if WINDOWS:
    TAKEN_ROWS += [
        # The code page of names (1252 under Wine) holds neither; its conversion
        # would make '??.log' or 'a.log' of them.
        ('a pattern the code page cannot hold', ['ab.log', 'xy.log'], [], [L(['logs', '\u65e5\u672c.log'])], 5, [],
         [b"Argument 1 holds a character that this system's code page cannot hold; nothing was archived."]),
        ('a fullwidth letter is no ASCII letter', ['a.log'], [], [L(['logs', '\uff41.log'])], 5, [], []),
    ]


class OnlyNamedFilesAreTaken(StowitTest):
    def test_a_delete_run_takes_only_the_files_the_pattern_names(self):
        for what, files, links, args, code, taken, lines in TAKEN_ROWS:
            with self.subTest(what):
                self.setUp()
                for name in files:
                    self.write(os.path.join('logs', name), name.encode())
                self.write(os.path.join('outside', 'secret.log'), b'secret')
                for name, target in links:
                    os.symlink(target, self.path('logs', name))
                r = self.stowit(*args, '/d')
                self.assertEqual(r.code, code, r)
                for line in lines:
                    self.assertIn(line + EOL, r.out)
                left = set(files) | {name for name, _ in links}
                self.assertEqual(sorted(set(self.entries('logs')) - {'Archive'}), sorted(left - set(taken)), r)
                self.assertEqual(self.read(os.path.join('outside', 'secret.log')), b'secret')
                made = os.path.join('logs', self.folder())
                self.assertEqual(self.entries(made) if os.path.isdir(self.path(made)) else [], sorted(taken), r)

    def test_an_archive_folder_is_made_where_its_typed_name_leads(self):
        self.write('a.log', b'alpha')
        r = self.stowit('*.log', 'box. ')
        self.assertEqual(r.code, 0, r)
        made = 'box' if WINDOWS else 'box. '
        self.assertEqual(r.lines()[0], b'Archive folder : ' + self.shown_folder(made))
        self.assertEqual(self.entries(), sorted(['a.log', made]))
