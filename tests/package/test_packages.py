"""The release packages as a user gets them: the Debian package and the RPM
unpacked into a temporary root, the Windows zip opened. STOWIT_DEB, STOWIT_RPM
and STOWIT_ZIP name the files that scripts/package made; SHA256SUMS lies
beside them."""
import gzip
import os
import re
import shutil
import subprocess
import tempfile
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, '..', '..'))
DEB = os.environ.get('STOWIT_DEB', '')
RPM = os.environ.get('STOWIT_RPM', '')
ZIP = os.environ.get('STOWIT_ZIP', '')
# Why this machine runs no 32-bit Windows program, where it runs none (scripts/test says).
NO_32BIT = os.environ.get('STOWIT_NO_32BIT', '')


def source(name):
    with open(os.path.join(ROOT, name), 'rb') as f:
        return f.read()


def project_version():
    return re.search(rb'project\(\s*stowit\s+VERSION\s+([0-9.]+)', source('CMakeLists.txt')).group(1).decode()


def temporary_dir(test):
    path = tempfile.mkdtemp(prefix='stowit-package-')
    test.addCleanup(shutil.rmtree, path, True)
    return path


def output(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def plain_mode(name):
    """The mode every entry of a Linux package should have."""
    return 'drwxr-xr-x' if name.endswith('/') else '-rwxr-xr-x' if name == '/usr/bin/stowit' else '-rw-r--r--'


class UnpackedLinuxPackage:
    """What the Debian package and the RPM share: the same files, and a program that works."""
    own_files = set()

    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix='stowit-root-')
        cls.unpack(cls.root)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    def installed(self, name):
        with open(os.path.join(self.root, name), 'rb') as f:
            return f.read()

    def test_files_land_where_they_belong(self):
        files = set()
        for top, _, names in os.walk(self.root):
            files.update(os.path.relpath(os.path.join(top, n), self.root) for n in names)
        self.assertEqual(files, {'usr/bin/stowit', 'usr/share/man/man1/stowit.1.gz',
                                 'usr/share/doc/stowit/README.md', 'usr/share/doc/stowit/copyright'} | self.own_files)

    def test_program_is_hardened_and_stripped_as_distributions_ship_it(self):
        headers = output('readelf', '-W', '--file-header', '--program-headers', '--section-headers', '--dynamic',
                         '--dyn-syms', os.path.join(self.root, 'usr/bin/stowit'))
        for what, pattern, present in (
                ('position-independent', r'\(FLAGS_1\)\s+Flags:.*\bPIE\b', True),
                ('read-only relocations', r'^\s*GNU_RELRO\s', True),
                ('bound at start (full RELRO)', r'\(FLAGS\)\s+BIND_NOW\b', True),
                ('stack protector', r'\bUND __stack_chk_fail\b', True),
                ('a fortified libc call', r'\bUND __(?!stack_chk_fail)\w+_chk\b', True),
                ('compilers\' notes', r'\] \.comment\s', False),
                ('symbol table', r'\] \.symtab\s', False)):
            with self.subTest(what):
                self.assertEqual(bool(re.search(pattern, headers, re.M)), present)

    def test_installed_program_shows_usage_and_archives(self):
        program = os.path.join(self.root, 'usr/bin/stowit')
        work = temporary_dir(self)
        assert_usage_and_one_file_archived(self, [program], work, '--help', os.path.realpath(program), b'\n')


@unittest.skipUnless(DEB, 'STOWIT_DEB names no package')
class DebianPackage(UnpackedLinuxPackage, unittest.TestCase):
    own_files = {'usr/share/doc/stowit/changelog.Debian.gz', 'usr/share/lintian/overrides/stowit'}

    @staticmethod
    def unpack(root):
        subprocess.run(['dpkg', '-x', DEB, root], check=True)

    def field(self, name):
        return output('dpkg-deb', '-f', DEB, name).strip()

    def test_entries_belong_to_root_with_plain_modes(self):
        for line in output('dpkg-deb', '-c', DEB).splitlines():
            mode, owner, _, _, _, name = line.split(None, 5)
            self.assertEqual(owner, 'root/root', line)
            self.assertEqual(mode, plain_mode(name[1:]), line)

    def test_control_names_package_version_architecture_and_libraries(self):
        self.assertEqual(self.field('Package'), 'stowit')
        self.assertEqual(self.field('Version'), project_version() + '-1')
        architecture = subprocess.run(['dpkg', '--print-architecture'], check=True,
                                      capture_output=True, text=True).stdout.strip()
        self.assertEqual(self.field('Architecture'), architecture)
        depends = self.field('Depends')
        for library in ('libc6', 'libstdc++6'):
            self.assertIn(library, depends)
        self.assertTrue(self.field('Maintainer'))

    def test_manual_page_is_ours_gzipped_without_time_stamp_and_renders_cleanly(self):
        packed = self.installed('usr/share/man/man1/stowit.1.gz')
        self.assertEqual(packed[4:8], b'\0\0\0\0', 'a time stamp in the gzip header makes builds differ')
        self.assertEqual(gzip.decompress(packed), source('docs/stowit.1'))
        page = subprocess.run(['man', '--warnings', '-l', os.path.join(self.root, 'usr/share/man/man1/stowit.1.gz')],
                              capture_output=True, text=True, env=dict(os.environ, MANWIDTH='80', MAN_KEEP_FORMATTING=''))
        self.assertEqual(page.returncode, 0, page.stderr)
        self.assertEqual(page.stderr, '')
        self.assertIn('EXIT STATUS', page.stdout)

    def test_documents_are_the_readme_the_licence_and_the_changelog_of_this_version(self):
        self.assertEqual(self.installed('usr/share/doc/stowit/README.md'), source('README.md'))
        self.assertEqual(self.installed('usr/share/doc/stowit/copyright'), source('LICENSE'))
        packed = self.installed('usr/share/doc/stowit/changelog.Debian.gz')
        self.assertEqual(packed[4:8], b'\0\0\0\0', 'a time stamp in the gzip header makes builds differ')
        self.assertEqual(gzip.decompress(packed), source('packaging/changelog.Debian'))
        self.assertTrue(gzip.decompress(packed).startswith(b'stowit (%s) ' % self.field('Version').encode()))


@unittest.skipUnless(RPM, 'STOWIT_RPM names no package')
class RpmPackage(UnpackedLinuxPackage, unittest.TestCase):
    @staticmethod
    def unpack(root):
        with open(RPM, 'rb') as package:
            archive = subprocess.run(['rpm2cpio'], stdin=package, check=True, capture_output=True).stdout
        subprocess.run(['cpio', '-idm', '--quiet'], input=archive, cwd=root, check=True)

    def query(self, *what):
        return output('rpm', '-qp', *what, RPM)

    def test_entries_belong_to_root_with_plain_modes_and_no_system_folder(self):
        listing = self.query('-lv').splitlines()
        names = []
        for line in listing:
            mode, _, owner, group, _, _, _, _, name = line.split(None, 8)
            self.assertEqual((owner, group), ('root', 'root'), line)
            self.assertEqual(mode, plain_mode(name + '/' if mode.startswith('d') else name), line)
            names.append(name)
        self.assertEqual(sorted(names), ['/usr/bin/stowit', '/usr/share/doc/stowit', '/usr/share/doc/stowit/README.md',
                                         '/usr/share/doc/stowit/copyright', '/usr/share/man/man1/stowit.1.gz'])

    def test_header_names_package_version_release_licence(self):
        fields = dict(re.findall(r'^(\w+(?: \w+)?)\s*: (.*)$', self.query('-i'), re.M))
        self.assertEqual((fields['Name'], fields['Version'], fields['Release'], fields['License']),
                         ('stowit', project_version(), '1', 'MIT'))
        self.assertEqual(fields['Summary'], 'Copies matching files into a new dated archive folder')
        self.assertEqual(fields['Packager'], 'Stowbox developers <dev@stowbox.invalid>')
        self.assertNotIn('CPack', self.query('-i'))

    def test_requires_only_the_libraries_the_program_links(self):
        requires = self.query('-R').split()
        self.assertTrue(any(r.startswith('libc.so.6') for r in requires), requires)
        self.assertFalse([r for r in requires if '-devel' in r or '-dev' in r], requires)


@unittest.skipUnless(DEB or RPM or ZIP, 'no package named')
class Checksums(unittest.TestCase):
    def test_sha256sums_checks_every_package_in_the_folder(self):
        folder = os.path.dirname(os.path.abspath(DEB or RPM or ZIP))
        check = subprocess.run(['sha256sum', '-c', '--strict', 'SHA256SUMS'], cwd=folder, capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        with open(os.path.join(folder, 'SHA256SUMS')) as sums:
            named = {line.split(None, 1)[1].rstrip('\n').lstrip('*') for line in sums}
        self.assertEqual(named, set(os.listdir(folder)) - {'SHA256SUMS'})


def assert_usage_and_one_file_archived(test, command, work, help_switch, shown_program, line_end):
    """The packaged program as a user first meets it: the usage screen, then one file archived."""
    usage = subprocess.run(command + [help_switch], cwd=work, capture_output=True)
    test.assertEqual(usage.returncode, 5, usage)
    test.assertTrue(usage.stdout.startswith(b'Usage: ' + shown_program.encode() + b' Filepattern'), usage.stdout)
    with open(os.path.join(work, 'a.log'), 'wb') as f:
        f.write(b'alpha')
    run = subprocess.run(command + ['*.log'], cwd=work, capture_output=True)
    test.assertEqual(run.returncode, 0, run)
    test.assertIn(b'File 1 a.log (5 bytes)' + line_end, run.stdout)
    archive = os.path.join(work, 'Archive')
    [folder] = os.listdir(archive)
    with open(os.path.join(archive, folder, 'a.log'), 'rb') as f:
        test.assertEqual(f.read(), b'alpha')


@unittest.skipUnless(ZIP, 'STOWIT_ZIP names no zip')
class WindowsZip(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with zipfile.ZipFile(ZIP) as z:
            cls.members = {info.filename: z.read(info) for info in z.infolist() if not info.is_dir()}
        cls.top = 'stowit-%s-win32/' % project_version()

    def member(self, name):
        return self.members[self.top + name]

    def test_zip_holds_program_readme_and_licence_in_one_folder(self):
        self.assertEqual(set(self.members), {self.top + n for n in ('stowit.exe', 'README.txt', 'LICENSE.txt')})

    def test_texts_have_windows_line_ends_and_our_content(self):
        for packed, original in (('README.txt', 'README.md'), ('LICENSE.txt', 'LICENSE')):
            text = self.member(packed)
            self.assertNotRegex(text, rb'(?<!\r)\n', packed + ' has a bare line feed')
            self.assertEqual(text, source(original).replace(b'\n', b'\r\n'), packed)

    def unpacked_program(self):
        work = temporary_dir(self)
        program = os.path.join(work, 'stowit.exe')
        with open(program, 'wb') as f:
            f.write(self.member('stowit.exe'))
        return work, program

    def test_program_is_a_pe32_console_image_with_version_and_manifest(self):
        _, program = self.unpacked_program()
        for check in (os.path.join(ROOT, 'scripts', 'check-pe32'), os.path.join(HERE, 'check-resources')):
            result = subprocess.run([check, program], capture_output=True, text=True)
            self.assertEqual(result.returncode, 0, os.path.basename(check) + ': ' + result.stderr)

    @unittest.skipIf(NO_32BIT, NO_32BIT)
    def test_program_shows_usage_and_archives_under_32_bit_wine(self):
        # Wine starts its 32-bit loader for a PE32 image, so this is the release as a user runs it.
        work, program = self.unpacked_program()
        wine = os.path.join(ROOT, 'scripts', 'wine-run')
        shown = 'Z:' + os.path.realpath(program).replace('/', '\\')
        assert_usage_and_one_file_archived(self, [wine, program], work, '/?', shown, b'\r\n')


if __name__ == '__main__':
    unittest.main()
