"""The archiving job as a user sees it: a fresh dated folder per run, whole
copies, originals deleted only with /D, and the files that cannot be taken
reported and left alone."""
import os
import shutil
import stat
import subprocess
import tempfile
import unittest

from harness import (EOL, NAME_ENCODING, READ_ONLY_IGNORED, SEP, WINDOWS, StowitTest, console,
                     shown_name, skip_unless_posix, today)

DELETE_NOTICE = b'Original files will be deleted after archiving'
READ_ONLY_SKIP = 'Wine run by root opens read-only files for writing'


_locales = None


def compiled_locales(test):
    """A folder of the Japanese and Taiwanese UTF-8 locales, compiled once
    (Wine takes its ANSI code page from the locale: 932, 950)."""
    global _locales
    if _locales is None:
        folder = tempfile.mkdtemp(prefix='stowit-locales-')
        try:
            for locale in ('ja_JP', 'zh_TW'):
                subprocess.run(['localedef', '-i', locale, '-f', 'UTF-8', os.path.join(folder, locale + '.UTF-8')],
                               check=True, capture_output=True, timeout=120)
        except (OSError, subprocess.CalledProcessError) as e:
            shutil.rmtree(folder, ignore_errors=True)
            _locales = 'localedef cannot compile the locales (Debian package locales): %s' % e
        else:
            _locales = folder
    if not os.path.isdir(_locales):
        test.skipTest(_locales)
    return _locales


def tearDownModule():
    if _locales and os.path.isdir(_locales):
        shutil.rmtree(_locales)


class ArchiveTest(StowitTest):
    def announced(self, *parts, number=1):
        """The announce line naming the dated folder below the given root."""
        return b'Archive folder : ' + self.shown(*parts, '%s%02d' % (today(), number))

    def assertCopied(self, files, folder, originals_kept):
        self.assertEqual(self.entries(folder), sorted(os.path.basename(n) for n in files))
        for name, data in files.items():
            self.assertEqual(self.read(os.path.join(folder, os.path.basename(name))), data, name)
            self.assertEqual(os.path.exists(self.path(name)), originals_kept, name)


class DatedFolders(ArchiveTest):
    def test_each_run_announces_and_fills_a_folder_of_its_own(self):
        self.write('logs/a.log', b'alpha')
        for number in (1, 2):
            with self.subTest(run=number):
                r = self.stowit(self.shown('logs', '*.log').decode(), 'backup')
                self.assertEqual((r.code, r.out), (0, console(
                    self.announced('logs', 'backup', number=number),
                    b'File 1 ' + self.shown('logs', 'a.log') + b' (5 bytes)')), r)
                self.assertCopied({'logs/a.log': b'alpha'}, os.path.join('logs', self.folder('backup', number)),
                                  originals_kept=True)

    def test_delete_switch_before_or_after_the_archive_folder(self):
        for number, args in enumerate((('backup', '/d'), ('/D', 'backup'), ('/d', 'backup', '/d'),
                                       ('other', 'backup', '/D')), 1):
            with self.subTest(args=args):
                self.write('a.log', b'run %d' % number)
                r = self.stowit('*.log', *args)
                self.assertEqual((r.code, r.out), (0, console(
                    self.announced('backup', number=number), DELETE_NOTICE, b'File 1 a.log (5 bytes)')), r)
                self.assertCopied({'a.log': b'run %d' % number}, self.folder('backup', number), originals_kept=False)
        self.assertEqual(self.entries(), ['backup'])

    def test_eight_runs_at_once_get_eight_folders_with_whole_copies(self):
        files = {name: os.urandom(1 << 20) for name in ('a.log', 'b.log', 'c.log')}
        self.write_files(files)
        runs = [self.start('*.log') for _ in range(8)]
        outputs = [(run.communicate(timeout=300)[0], run.returncode) for run in runs]
        folders = set()
        for out, code in outputs:
            self.assertEqual(code, 0, out)
            folders.add(out.split(EOL)[0])
        self.assertEqual(folders, {self.announced('Archive', number=n) for n in range(1, 9)})
        for number in range(1, 9):
            self.assertCopied(files, self.folder(number=number), originals_kept=True)


class Copies(ArchiveTest):
    def originals(self):
        # Around the copy's block of 16 KiB, and one spanning many blocks.
        files = {'empty.log': b'', 'block.log': os.urandom(16384), 'block1.log': os.urandom(16385),
                 'big.log': os.urandom(3 << 20)}
        return self.write_files(files)

    def test_copies_are_identical_and_originals_untouched_or_with_d_deleted(self):
        for args in ((), ('/D',)):
            with self.subTest(args=args):
                self.setUp()
                files = self.originals()
                before = {name: os.stat(self.path(name)).st_mtime_ns for name in files}
                r = self.stowit('*.log', *args)
                self.assertEqual(r.code, 0, r)
                self.assertCopied(files, self.folder(), originals_kept=not args)
                for name in files if not args else ():
                    self.assertEqual((self.read(name), os.stat(self.path(name)).st_mtime_ns),
                                     (files[name], before[name]), name)

    @unittest.skipIf(READ_ONLY_IGNORED, READ_ONLY_SKIP)
    def test_read_only_original_is_reported_kept_and_the_run_goes_on(self):
        self.write('ro.log', b'read only', mode=0o444)
        files = {'a.log': b'alpha', 'b.log': b'beta'}
        self.write_files(files)
        r = self.stowit('*.log', '/d')
        self.assertEqual(r.code, 0, r)
        lines = r.lines()
        at = lines.index(b"Can't Open file : ro.log")
        self.assertRegex(lines[at - 1], rb'\AFile \d ro\.log \(9 bytes\)\Z')
        self.assertEqual(len(lines), 7, r)  # announce, notice, three files, one refusal, end
        self.assertEqual(self.read('ro.log'), b'read only')
        self.assertCopied(files, self.folder(), originals_kept=False)

    def test_a_hidden_a_long_or_a_name_beyond_ascii_is_archived_and_shown_in_the_console_code_page(self):
        hidden = 'hid.log' if WINDOWS else '.hid.log'
        # 240 bytes: its path in the archive, working suffix and all, passes the 259 bytes of a Windows path.
        for name, args in ((hidden, ()), ('é.log', ()), ('n' * 236 + '.log', ('/D',))):
            with self.subTest(name=name[:12]):
                self.setUp()
                self.write(name, b'data')
                if name == 'hid.log':
                    self.set_hidden(name)
                r = self.stowit('*.log', *args)
                self.assertEqual((r.code, r.out), (0, console(self.announced('Archive'), *[DELETE_NOTICE] * len(args),
                                                              b'File 1 ' + shown_name(name) + b' (4 bytes)')), r)
                self.assertCopied({name: b'data'}, self.folder(), originals_kept=not args)
                if name == 'hid.log':
                    self.assertTrue(self.hidden(name))
                    self.assertFalse(self.hidden(os.path.join(self.folder(), name)))

    @skip_unless_posix()
    def test_copies_keep_the_permission_bits(self):
        modes = {'private.log': 0o600, 'group.log': 0o640, 'script.log': 0o755}
        for name, mode in modes.items():
            self.write(name, name.encode(), mode=mode)
        old = os.umask(0o022)
        try:
            r = self.stowit('*.log')
        finally:
            os.umask(old)
        self.assertEqual(r.code, 0, r)
        for name, mode in modes.items():
            self.assertEqual(stat.S_IMODE(os.stat(self.path(self.folder(), name)).st_mode), mode, name)

    @skip_unless_posix('a FIFO is a Linux file')
    def test_fifo_is_reported_and_the_run_goes_on(self):
        os.mkfifo(self.path('pipe.log'))
        self.write('a.log', b'alpha')
        r = self.stowit('*.log', timeout=30)
        self.assertEqual(r.code, 0, r)
        self.assertIn(b"Can't Open file : pipe.log" + EOL, r.out)
        self.assertCopied({'a.log': b'alpha'}, self.folder(), originals_kept=True)


class Names(ArchiveTest):
    def test_names_that_windows_paths_would_change_are_archived_and_deleted_as_they_are(self):
        # A path drops a trailing dot or space and takes con, aux or nul for a device; a name in a folder does not.
        files = {name: name.encode() for name in ('x.log', 'x.log.', 's.dat ', 'con.log', 'aux', 'aux.log',
                                                  'nul.log', 'z.log')}
        self.write_files(files)
        r = self.stowit('*', '/D')
        self.assertEqual(r.code, 0, r)
        self.assertCopied(files, self.folder(), originals_kept=False)

    def test_a_look_alike_name_never_replaces_or_opens_another_file(self):
        # A name the code page lacks, which Windows' own conversion would list as
        # a.log; and names that differ only in case, made with Linux calls (Wine's
        # view of a Linux folder ignores case). Each is archived whole, or named and kept.
        for files, refusal in (({'a.log': b'plain', 'ａ.log': b'fullwidth'}, b"Can't Open file : "),
                               ({'a.log': b'lower', 'A.LOG': b'UPPER'}, b'Original kept, name taken in archive : ')):
            with self.subTest(files=list(files)):
                self.setUp()
                self.write_files(files)
                r = self.stowit('*.log', '/D')
                self.assertEqual(r.code, 0, r)
                archived = self.entries(self.folder())
                self.assertTrue(set(archived) <= set(files), archived)
                for name, data in files.items():
                    if name in archived:
                        self.assertEqual(self.read(os.path.join(self.folder(), name)), data, name)
                        self.assertFalse(os.path.exists(self.path(name)), name)
                    else:
                        self.assertIn(refusal + name.encode(NAME_ENCODING, 'replace') + EOL, r.out)
                        self.assertEqual(self.read(name), data, name)

    def test_double_byte_code_pages_split_paths_by_character(self):
        # The second byte of each of these characters is the byte of '\\': 表 ソ 能 予 in 932, 功 許 in 950.
        for locale, code_page, original, pattern, archive_dir, root in (
                ('ja_JP', 'cp932', '予定1.log', ['予定*.log'], None, ['Archive']),
                ('ja_JP', 'cp932', '表/ソ能.log', ['表', 'ソ*.log'], None, ['表', 'Archive']),
                ('ja_JP', 'cp932', 'a.log', ['a.log'], '表', ['表']),
                ('zh_TW', 'cp950', '功/許可.log', ['功', '許*.log'], None, ['功', 'Archive'])):
            with self.subTest(locale=locale, pattern=pattern, archive_dir=archive_dir):
                env = dict(os.environ, LOCPATH=compiled_locales(self), LC_ALL=locale + '.UTF-8')
                self.write(original, b'data')
                r = self.stowit(SEP.join(pattern), *([archive_dir] if archive_dir else []), '/D', env=env)
                encoding = code_page if WINDOWS else 'utf-8'
                shown = SEP.join(pattern[:-1] + [os.path.basename(original)]).encode(encoding)
                folder = root + [today() + '01']
                self.assertEqual((r.code, r.out), (0, console(
                    b'Archive folder : ' + SEP.join(folder).encode(encoding), DELETE_NOTICE,
                    b'File 1 ' + shown + b' (4 bytes)')), r)
                self.assertCopied({original: b'data'}, os.path.join(*folder), originals_kept=False)
                self.assertEqual(self.entries(), [root[0]], 'no stray folder')
                shutil.rmtree(self.path(root[0]))
