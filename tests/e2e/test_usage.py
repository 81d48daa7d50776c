"""The usage screen, byte for byte; what each platform takes an argument to
ask for (help, the version, or a pattern like any other); and the arguments
that are refused before anything is made."""
import os
import re
import unittest

from harness import (EOL, POSIX, PROGRAM, SEP, WINDOWS, StowitTest, console, program_path_as_seen,
                     skip_unless_posix, today)

ROOT = os.path.join(os.path.dirname(__file__), '..', '..')
RUN_SOURCE = os.path.join(ROOT, 'src', 'archiver', 'run.cpp')


def notice():
    """The wording after the version on the last line, which is ours to choose."""
    with open(RUN_SOURCE, 'rb') as f:
        found = re.search(rb'" Stowbox v" STOWIT_VERSION " - ([^"\\]*)"', f.read())
    assert found, 'no version line in ' + RUN_SOURCE
    return found.group(1)


def project_version():
    with open(os.path.join(ROOT, 'CMakeLists.txt'), 'rb') as f:
        return re.search(rb'project\(\s*stowit\s+VERSION\s+([0-9.]+)', f.read()).group(1)


def usage_screen(program):
    first = (b'Usage: ' + program_path_as_seen(program).encode() + b' Filepattern [ArchiveDir] [/D]')
    return console(
        first[:255],
        b'',
        b' All files matching Filepattern will be archived to files with the same',
        b' name to a subdir in the Archive subdir (Archive Dir will be created if needed).',
        b" If ArchiveDir is not entered 'Archive' is used (don't use full path!)",
        b' Original files will be deleted if /d option is used',
        b'   example: Stowit *.log backup /d',
        b'',
        b' Stowbox v' + project_version() + b' - ' + notice())


# What the arguments ask for on Linux and on Windows: the usage screen, the
# version, or a pattern like any other (here matching nothing). Only "/?"
# asks for help on Windows; Linux users also have their own switches.
ASKS = [
    ((), 'usage', 'usage'),
    (('/?',), 'usage', 'usage'),
    (('/?', 'backup', '/d'), 'usage', 'usage'),
    (('/?', '*.log'), 'usage', 'usage'),
    (('--help',), 'usage', 'pattern'),
    (('-h', 'backup'), 'usage', 'pattern'),
    (('--help', 'backup', '/d'), 'usage', 'pattern'),
    (('--version',), 'version', 'pattern'),
    (('--helpx',), 'pattern', 'pattern'),
    (('-H',), 'pattern', 'pattern'),
    (('--HELP',), 'pattern', 'pattern'),
    (('-help',), 'pattern', 'pattern'),
    (('-?',), 'pattern', 'pattern'),
]


class UsageScreen(StowitTest):
    def assertUsage(self, r, program=PROGRAM, made=()):
        self.assertEqual((r.code, r.out), (5, usage_screen(program)), r)
        self.assertEqual(self.entries(), sorted(made), 'the usage screen must make nothing')

    def test_what_the_arguments_ask_for_on_each_platform(self):
        numbers = {}
        for args, on_linux, on_windows in ASKS:
            asked = on_windows if WINDOWS else on_linux
            with self.subTest(args=args, asked=asked):
                r = self.stowit(*args)
                if asked == 'usage':
                    self.assertUsage(r, made=numbers)
                elif asked == 'version':
                    self.assertEqual((r.code, r.out), (0, b'stowit (Stowbox) ' + project_version() + EOL), r)
                    self.assertEqual(self.entries(), sorted(numbers))
                else:
                    root = args[1] if len(args) > 1 and args[1].lower() != '/d' else 'Archive'
                    numbers[root] = numbers.get(root, 0) + 1
                    lines = [b'Archive folder : ' + self.shown_folder(root, numbers[root])]
                    if '/d' in args:
                        lines.append(b'Original files will be deleted after archiving')
                    self.assertEqual((r.code, r.out), (5, console(*lines)), r)
                    self.assertEqual(self.entries(self.folder(root, numbers[root])), [])

    @unittest.skipUnless(WINDOWS, 'a Linux shell removes the quotes itself')
    def test_quoted_question_mark_shows_usage(self):
        for line in ('"/?"', '"/?" backup /d', '"/"? x', '""  "/?"'):
            with self.subTest(line=line):
                self.assertUsage(self.run_typed(line))

    def test_near_misses_of_question_mark_and_a_first_d_switch_are_patterns(self):
        # Each names a file at the root; the archive folder is sent back here.
        here = self.dir.lstrip('/').replace('/', SEP) + SEP + 'arch'
        for number, pattern in enumerate(('/??', '/!', '/?x', '/', '/D'), 1):
            with self.subTest(pattern=pattern):
                r = self.stowit(pattern, here)
                self.assertEqual((r.code, r.out), (5, console(
                    b'Archive folder : /' + here.encode() + self.shown_folder('arch', number)[4:])), r)
                self.assertEqual(self.entries(self.folder('arch', number)), [])

    def test_question_mark_or_help_after_the_pattern_names_the_archive_folder(self):
        self.write('logs/a.log', b'alpha')
        r = self.stowit(self.shown('logs', '*.log').decode(), '/?')
        # The archive folder is joined to the pattern's directory as typed.
        folder = self.shown('logs', '/?', today() + '01')
        self.assertTrue(r.out.startswith(console(b'Archive folder : ' + folder,
                                                 b'File 1 ' + self.shown('logs', 'a.log') + b' (5 bytes)')), r)
        if WINDOWS:
            # "?" is no character of a Windows name: the copy cannot be made.
            self.assertEqual(r.code, 1, r)
            self.assertTrue(r.out.endswith(EOL + b'I/O error 123.'), r)
        else:
            self.assertEqual(r.code, 0, r)
            self.assertEqual(self.read(os.path.join('logs', self.folder('?')) + '/a.log'), b'alpha')
        self.assertEqual(self.read('logs/a.log'), b'alpha')
        r = self.stowit(self.shown('logs', '*.log').decode(), '--help')
        self.assertEqual(r.code, 0, r)
        self.assertEqual(self.read(os.path.join('logs', self.folder('--help')) + '/a.log'), b'alpha')

    def test_first_line_is_cut_after_255_bytes(self):
        # Long enough to cut line 1, short enough for Windows to start the program.
        wanted = 240
        left = wanted - len(program_path_as_seen(self.path(os.path.basename(PROGRAM))))
        dirs = []
        while left > 0:
            size = min(100, left - 1)
            if left - size - 1 == 1:
                size -= 1
            dirs.append('d' * size)
            left -= size + 1
        program = self.copy_program(*dirs)
        self.assertEqual(len(program_path_as_seen(program)), wanted)
        r = self.stowit(program=program)
        self.assertEqual(len(r.lines()[0]), 255, r)
        self.assertUsage(r, program, made=[dirs[0]])


class RefusedArguments(StowitTest):
    def assertRefused(self, r):
        self.assertEqual(r.code, 5, r)
        self.assertEqual(r.out.count(EOL), 1, r)
        self.assertTrue(r.out.endswith(EOL), r)
        self.assertNotIn(b'Archive folder', r.out)

    def test_argument_over_255_bytes_or_empty_is_refused_before_anything_is_made(self):
        self.write('a.log', b'alpha')
        long_name = 'x' * 252 + '.log'
        refused = [(long_name,), ('*.log', 'b' * 256), ('*.log', '/d', 'b' * 300), ('*.log', '/d', 'c', long_name)]
        # A script's empty variable: Linux passes the empty argument, which would
        # shift the archive folder into the pattern's place. (On Windows an empty
        # pair of quotes adds no argument.)
        if POSIX:
            refused += [('', 'a.log', '/D'), ('*.log', '', '/D')]
        for args in refused:
            with self.subTest(lengths=[len(a) for a in args]):
                self.assertRefused(self.stowit(*args))
                self.assertEqual(self.entries(), ['a.log'])
                self.assertEqual(self.read('a.log'), b'alpha')
        # One byte less is taken.
        r = self.stowit('x' * 251 + '.log')
        self.assertEqual((r.code, r.out), (5, console(b'Archive folder : ' + self.shown_folder())), r)
        self.assertEqual(self.entries(self.folder()), [])


@skip_unless_posix('only a POSIX shell expands the pattern')
class ExpandedPattern(StowitTest):
    def test_files_after_the_pattern_are_refused_before_anything_is_made(self):
        logs = {'a.log': b'alpha', 'b.log': b'beta', 'c.log': b'gamma'}
        self.write_files(logs)
        # What the shell makes of *.log /D and of *.log backup.
        for args in (('a.log', 'b.log', 'c.log', '/D'), ('a.log', 'b.log', 'backup')):
            with self.subTest(args=args):
                r = self.stowit(*args)
                self.assertEqual((r.code, r.out), (5, console(
                    b"b.log is a file, not an archive folder; quote the pattern (for example: stowit '*.log')")), r)
                self.assertEqual(self.entries(), sorted(logs))
                self.assertEqual({n: self.read(n) for n in logs}, logs)
        r = self.stowit('*.log', 'backup')
        self.assertEqual(r.code, 0, r)
        self.assertEqual(self.entries(self.folder('backup')), sorted(logs))
