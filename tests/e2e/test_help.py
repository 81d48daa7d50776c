"""Each platform's way of asking for help: "--help" and "-h" on Linux, only
"/?" on Windows, where the Linux switches are patterns like any other."""
import os
import unittest

from harness import EOL, WINDOWS, StowitTest, skip_unless_posix

USAGE_TAIL = b' Filepattern [ArchiveDir] [/D]' + EOL


class HelpSwitches(StowitTest):
    def assertShowsUsage(self, r):
        self.assertEqual(r.code, 5, r)
        first = r.lines()[0] + EOL
        self.assertTrue(first.startswith(b'Usage: ') and first.endswith(USAGE_TAIL), r)
        self.assertEqual(os.listdir(self.dir), [], 'the usage screen must make nothing')

    def assertIsPatternMatchingNothing(self, r, number=1):
        self.assertEqual(r.code, 5, r)
        folder = self.folder(number=number)
        self.assertEqual(r.out, b'Archive folder : ' + self.shown(*folder.split(os.sep)) + EOL)
        self.assertEqual(os.listdir(self.path(folder)), [])

    @skip_unless_posix()
    def test_long_and_short_help_show_usage_and_make_nothing(self):
        for switch in ('--help', '-h'):
            with self.subTest(switch=switch):
                self.assertShowsUsage(self.stowit(switch))
                # Later arguments change nothing, not even a /D.
                self.assertShowsUsage(self.stowit(switch, 'backup', '/d'))

    @skip_unless_posix()
    def test_help_screen_is_the_usage_screen(self):
        self.assertEqual(self.stowit('--help').out, self.stowit('/?').out)
        self.assertEqual(self.stowit('-h').out, self.stowit().out)

    @skip_unless_posix()
    def test_near_misses_of_help_are_patterns(self):
        for number, pattern in enumerate(('--helpx', '-H', '--HELP', '-help'), 1):
            with self.subTest(pattern=pattern):
                self.assertIsPatternMatchingNothing(self.stowit(pattern), number)

    @skip_unless_posix()
    def test_help_as_a_later_argument_names_the_archive_folder(self):
        self.write('a.log', b'alpha')
        r = self.stowit('*.log', '--help')
        self.assertEqual(r.code, 0, r)
        self.assertEqual(self.read(self.folder('--help') + '/a.log'), b'alpha')

    @unittest.skipUnless(WINDOWS, 'on Windows only "/?" asks for the usage screen')
    def test_linux_help_switches_are_patterns_on_windows(self):
        self.write('--help', b'not a switch')
        r = self.stowit('--help')
        self.assertEqual(r.code, 0, r)
        self.assertIn(b'File 1 --help (12 bytes)' + EOL, r.out)
        self.assertEqual(self.read(self.folder() + '/--help'), b'not a switch')

    @unittest.skipUnless(WINDOWS, 'on Windows only "/?" asks for the usage screen')
    def test_short_help_matching_nothing_ends_with_5_and_an_empty_folder(self):
        self.assertIsPatternMatchingNothing(self.stowit('-h'))

    @skip_unless_posix()
    def test_version_switch_shows_the_version_and_makes_nothing(self):
        r = self.stowit('--version')
        self.assertEqual((r.code, r.out), (0, b'stowit (Stowbox) 1.0' + EOL), r)
        self.assertEqual(os.listdir(self.dir), [])

    def test_question_mark_switch_shows_usage_on_every_platform(self):
        self.assertShowsUsage(self.stowit('/?'))


if __name__ == '__main__':
    unittest.main()
