"""Which files a pattern matches and how each is reported: one numbered line
per match, with the pattern's directory and the file's size."""
import os
import re
import unittest

from harness import (EOL, READ_ONLY_IGNORED, SEP, WINDOWS, StowitTest, console,
                     start_wine_server, today)

REPORT = re.compile(rb'File (\d+) (.*) \((-?\d+) bytes\)\Z')


def setUpModule():
    start_wine_server()


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

    @unittest.skipIf(WINDOWS, "Wine's own matcher is no reference for these rules")
    def test_star_dot_lists_the_names_without_a_dot(self):
        for name in ('plain', 'NoExt', 'a.log', 'b.tar.gz', 'ends.'):
            self.write(name, name.encode())
        r = self.stowit('*.')
        self.assertEqual(r.code, 0, r)
        self.assertEqual(self.listed(r), {b'plain': 5, b'NoExt': 5, b'ends.': 5})
        self.assertEqual(self.entries(self.folder()), ['NoExt', 'ends.', 'plain'])

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

    def test_hidden_and_read_only_files_are_listed(self):
        self.write('.dot.log', b'dot')
        self.write('ro.log', b'read only', mode=0o444)
        expected = {b'.dot.log': 3, b'ro.log': 9}
        if WINDOWS:
            self.write('hid.log', b'hidden')
            self.set_hidden('hid.log')
            expected[b'hid.log'] = 6
        r = self.stowit('*.log')
        self.assertEqual(r.code, 0, r)
        self.assertEqual(self.listed(r), expected)
        if not READ_ONLY_IGNORED:
            # What the archiving says of a file comes right after its own line.
            at = r.lines().index(b"Can't Open file : ro.log")
            self.assertRegex(r.lines()[at - 1], rb'File \d ro\.log \(9 bytes\)')

    @unittest.skipIf(READ_ONLY_IGNORED, 'Wine run by root would copy the huge files')
    def test_sizes_of_2_gib_and_more_are_shown_whole(self):
        for name, size in (('3g.log', 3_000_000_000), ('5g.log', 5_000_000_000)):
            with open(self.path(name), 'wb') as f:
                f.truncate(size)
            os.chmod(self.path(name), 0o444)  # listed, but never copied
        r = self.stowit('*.log')
        self.assertEqual(self.listed(r), {b'3g.log': 3_000_000_000, b'5g.log': 5_000_000_000}, r)
        self.assertEqual(self.entries(self.folder()), [])

    def test_d_switch_first_is_the_pattern(self):
        # "/D" names a file at the root; the archive folder is sent back here.
        here = self.dir.lstrip('/').replace('/', SEP) + SEP + 'arch'
        self.write('D', b'not at the root')
        r = self.stowit('/D', here)
        self.assertEqual((r.code, r.out), (5, console(b'Archive folder : /' + here.encode() + SEP.encode() +
                                                      (today() + '01').encode())), r)
        self.assertEqual(self.entries('arch', today() + '01'), [])
        self.assertEqual(self.read('D'), b'not at the root')


if __name__ == '__main__':
    unittest.main()
