"""Faults made to happen in the real program: standard output that cannot be
written, a full disk, a write limit, a killed process, a folder that cannot be
made. Each run must end as reported and must never cost an original."""
import hashlib
import os
import re
import resource
import shutil
import signal
import subprocess
import time
import unittest

from harness import (EMULATED, PROBE, PROGRAM, SEP, StowitTest, command, console, report_pattern,
                     skip_unless_posix, skip_unless_root, today)


def digest(path, limit=-1):
    with open(path, 'rb') as f:
        return hashlib.sha256(f.read(limit)).hexdigest()


class FaultTest(StowitTest):
    def assertNothingLost(self, files, folder, deleted_ok=False):
        """Each original is still there and whole, unless (with /D) its copy is whole."""
        for name, data in files.items():
            copy = os.path.join(folder, os.path.basename(name))
            if os.path.exists(self.path(name)):
                self.assertEqual(self.read(name), data, name)
            else:
                self.assertTrue(deleted_ok, '%s is gone' % name)
                self.assertEqual(self.read(copy), data, '%s is gone and its copy is not whole' % name)

    def all_files(self):
        for root, _, names in os.walk(self.dir):
            for name in names:
                yield os.path.join(root, name)


class UnwritableStandardOutput(FaultTest):
    def targets(self):
        yield 'read-only file', lambda: open(self.write('console.txt'), 'rb')
        yield 'full device', lambda: open('/dev/full', 'wb')

    def test_first_line_ends_the_run_without_another_report(self):
        files = self.write_files({'a.log': b'alpha', 'b.log': b'beta'})
        for target, opener in self.targets():
            for program in ('probe', 'stowit'):
                with self.subTest(target=target, program=program), opener() as out:
                    if program == 'probe':
                        # Would end with 0 had its first line been written.
                        r = self.probe('ready', '0', stdout=out)
                    else:
                        r = self.stowit('*.log', '/d', stdout=out)
                    self.assertEqual(r.code, 1, r)
                    self.assertEqual(r.err, b'', r)
                    self.assertNothingLost(files, self.folder())
                    if os.path.isdir(self.path(self.folder())):
                        self.assertEqual(os.listdir(self.path(self.folder())), [])
        self.assertEqual(self.read('console.txt'), b'')


@skip_unless_posix('a descriptor closed at start is a POSIX condition')
class ClosedStandardOutput(FaultTest):
    def closed(self, program, *args):
        """Runs the program with descriptor 1 closed before it starts."""
        return subprocess.run(['/bin/sh', '-c', 'exec "$@" >&-', 'sh'] + command(program, args),
                              cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)

    def test_run_ends_at_first_line_and_no_file_gets_console_text(self):
        files = self.write_files({'a.log': b'alpha', 'b.log': b'beta' * 1000})
        for program, args in ((PROBE, ('ready', '0')), (PROGRAM, ('*.log', '/d'))):
            with self.subTest(program=os.path.basename(program)):
                r = self.closed(program, *args)
                self.assertEqual((r.returncode, r.stderr), (1, b''), r)
        self.assertNothingLost(files, self.folder())
        contents = set(files.values())
        for path in self.all_files():
            with open(path, 'rb') as f:
                data = f.read()
            self.assertNotIn(b'Archive folder', data, path)
            self.assertIn(data, contents, path)


@skip_unless_posix('needs a small file system of its own')
@skip_unless_root('mounting a small file system needs root')
class FullDisk(FaultTest):
    def test_copy_that_does_not_fit_is_reported_and_costs_no_original(self):
        disk = self.path('disk')
        os.mkdir(disk)
        mounted = subprocess.run(['mount', '-t', 'tmpfs', '-o', 'size=1m', 'tmpfs', disk],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if mounted.returncode != 0:
            self.skipTest('cannot mount a small file system: %s' % mounted.stderr.decode().strip())
        self.addCleanup(subprocess.run, ['umount', disk])
        # The small copy fits; the big one cannot, whichever comes first.
        files = self.write_files({'disk/big.log': os.urandom(600 << 10), 'disk/small.log': os.urandom(10 << 10)})
        r = self.stowit('disk/*.log', '/d')
        self.assertEqual(r.code, 1, r)
        self.assertRegex(r.out, report_pattern(b'Disk full.', b'I/O error 112.'))
        self.assertNothingLost(files, self.path('disk', self.folder()), deleted_ok=True)
        self.assertTrue(os.path.exists(self.path('disk/big.log')))


@skip_unless_posix('a write limit is a POSIX resource limit')
class WriteLimit(FaultTest):
    def test_write_limit_ends_the_run_and_removes_the_partial_copy(self):
        limit = 20000  # inside the second block, so that its write comes back short
        files = self.write_files({'big.log': os.urandom(100000)})

        def limited():
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

        r = self.stowit('*.log', '/d', preexec_fn=limited)
        self.assertEqual(r.code, 1, r)
        self.assertRegex(r.out, report_pattern(b'I/O error 112.'))
        self.assertNothingLost(files, self.folder())
        # The half copy is of no use, its original being whole.
        self.assertEqual(os.listdir(self.path(self.folder())), [])


@skip_unless_posix('a kill that no handler sees is a POSIX signal')
class KilledDuringCopy(FaultTest):
    SIZE = 200 << 20

    def test_original_survives_a_kill_in_the_middle_of_its_copy(self):
        original = self.path('big.log')
        with open(original, 'wb') as f:
            for _ in range(self.SIZE >> 20):
                f.write(os.urandom(1 << 20))
        whole = digest(original)
        proc = subprocess.Popen(command(PROGRAM, ['*.log', '/d']), cwd=self.dir,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.addCleanup(proc.communicate)
        copy = self.path(self.folder(), 'big.log.partial')
        deadline = time.monotonic() + 60
        while proc.poll() is None and time.monotonic() < deadline:
            if os.path.exists(copy) and os.path.getsize(copy) > 0:
                break
            time.sleep(0.002)
        proc.send_signal(signal.SIGKILL)
        proc.wait()
        # A copy that ends before it can be killed proves nothing: that is a fault of the test.
        self.assertEqual(proc.returncode, -signal.SIGKILL, 'the copy ended before it could be killed')
        self.assertTrue(os.path.exists(original), 'the original is gone')
        self.assertEqual(digest(original), whole, 'the original changed')
        self.assertEqual(os.listdir(self.path(self.folder())), ['big.log.partial'])
        copied = os.path.getsize(copy)
        self.assertLess(copied, self.SIZE + 1)
        self.assertEqual(digest(copy), digest(original, copied), 'the partial copy is not a prefix')


@skip_unless_posix('the order of a Linux run\'s system calls, as strace shows it')
@unittest.skipIf(EMULATED, 'strace sees the emulator, not the program')
@unittest.skipUnless(shutil.which('strace'), 'strace is not installed')
class DurableBeforeDeleted(FaultTest):
    """An original goes only once its copy and the copy's folder entries are
    on the disk: read off the system calls, by paths and held folders alike."""

    CALLS = 'openat,fdatasync,fsync,rename,renameat,renameat2,unlink,unlinkat'

    def test_copy_flushed_renamed_and_its_folders_flushed_before_the_original_goes(self):
        self.write_files({'a.log': b'alpha'})
        trace = self.path('trace')
        proc = subprocess.run(['strace', '-f', '-y', '-qq', '-e', 'trace=' + self.CALLS, '-o', trace, PROGRAM,
                               '*.log', '/d'], cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        self.assertEqual(proc.returncode, 0, proc)
        with open(trace) as f:
            calls = [line.split(None, 1)[1] for line in f if ' = -1 ' not in line]
        dated = '/%s>' % self.folder().split(os.sep)[-1]

        def first(pattern, after=-1):
            for i, call in enumerate(calls):
                if i > after and re.search(pattern, call):
                    return i
            self.fail('no call like %r after call %d in:\n%s' % (pattern, after, ''.join(calls)))

        created = first(r'^openat\(.*"a\.log\.partial", [^)]*O_CREAT\|O_EXCL')
        flushed = first(r'^fdatasync\(\d+<[^>]*/a\.log\.partial>\)', created)
        renamed = first(r'^renameat2\(.*"a\.log\.partial", .*"a\.log", RENAME_NOREPLACE\)', flushed)
        folder = first(r'^fsync\(\d+<[^>]*%s\)' % re.escape(dated), renamed)
        parent = first(r'^fsync\(\d+<[^>]*/Archive>\)')
        gone = first(r'^(unlink|rename)(at2?)?\([^,]*<%s>, "a\.log"' % re.escape(self.dir))
        self.assertLess(max(folder, parent), gone, ''.join(calls))


class DatedFolderCannotBeMade(FaultTest):
    def test_a_missing_folder_or_a_file_on_the_way_is_invalid_filename_after_the_written_lines(self):
        for way in ('missing', 'plain'):
            for output in ('pipe', 'redirected file'):
                with self.subTest(way=way, output=output):
                    self.setUp()
                    files = self.write_files({'a.log': b'alpha', 'plain': b'a file'})
                    args = ('*.log', SEP.join((way, 'deeper')), '/d')
                    if output == 'pipe':
                        r = self.stowit(*args)
                        out = r.out
                    else:
                        with open(self.path('console.txt'), 'wb') as f:
                            r = self.stowit(*args, stdout=f)
                        out = self.read('console.txt')
                    self.assertEqual(r.code, 1, r)
                    self.assertRegex(out, b'^' + re.escape(console(
                        b'Archive folder : ' + self.shown(way, 'deeper', today() + '01'),
                        b'Original files will be deleted after archiving', b'File 1 a.log (5 bytes)')) +
                        report_pattern(b'Invalid filename.'))
                    self.assertNothingLost(files, self.folder())
                    self.assertEqual(self.entries(), sorted(list(files) + (['console.txt'] if out != r.out else [])))
