"""Originals that change while they are archived, and copies whose working
name is taken: no line of a log being written is lost, and no file in the
archive carries an original's name unless it is that original's whole copy."""
import glob
import os
import subprocess
import threading
import time

from harness import EOL, WINDOWS, StowitTest, command, skip_unless_posix, skip_unless_root

# Holds a log open and appends the lines given on its input; a Windows program
# for the Windows build, so that Windows' sharing rules apply to it.
WRITER = os.environ.get('STOWIT_WRITER', '')


class GrowingLog(StowitTest):
    # Under Wine the writer is a Linux process that Windows' sharing rules do not
    # hold back, so it writes more slowly there.
    PAUSE = 0.05 if WINDOWS else 0.001

    def test_a_log_written_during_a_deleting_run_loses_no_line(self):
        head = b'x' * (32 << 20)
        self.write('app.log', head)
        written, gone = [], threading.Event()
        stop = threading.Event()

        def writer():
            fd = os.open(self.path('app.log'), os.O_WRONLY | os.O_APPEND)
            try:
                while not stop.is_set():
                    line = b'line %08d\n' % len(written)
                    os.write(fd, line)
                    written.append(line)
                    # A line written once the name is gone may have gone with it.
                    if os.fstat(fd).st_nlink == 0:
                        gone.set()
                        return
                    time.sleep(self.PAUSE)
            finally:
                os.close(fd)

        thread = threading.Thread(target=writer)
        thread.start()
        try:
            while len(written) < 3:
                time.sleep(0.001)
            r = self.stowit('*.log', '/d')
        finally:
            stop.set()
            thread.join()
        self.assertEqual(r.code, 0, r)
        copy = self.read(os.path.join(self.folder(), 'app.log'))
        if os.path.exists(self.path('app.log')):
            self.assertTrue(b'Original kept, changed while archiving : app.log' + EOL in r.out
                            or b"Can't Delete file : app.log" + EOL in r.out, r)
            self.assertEqual(self.read('app.log'), head + b''.join(written), 'lines are lost')
            self.assertTrue(self.read('app.log').startswith(copy), 'the copy is no snapshot of the original')
        else:
            # Only under Wine, whose sharing rules do not see this Linux writer.
            self.assertTrue(WINDOWS, 'a log held open for writing was deleted')
            # Every line but the last was written while the original still had its
            # name; all of them when the run ended before the writer saw it gone.
            before = written[:-1] if gone.is_set() else written
            self.assertTrue(copy.startswith(head + b''.join(before)), 'lines written before the deletion are lost')


class HeldOpenLog(StowitTest):
    def test_a_log_that_another_program_holds_open_is_kept_with_every_line(self):
        writer = subprocess.Popen(command(WRITER, ['app.log']), cwd=self.dir, stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

        def append(line):
            writer.stdin.write(line + b'\n')
            writer.stdin.flush()
            self.assertEqual(writer.stdout.readline().strip(), b'ok')

        try:
            append(b'line 1')
            r = self.stowit('*.log', '/d')
            append(b'line 2')
        finally:
            writer.stdin.close()
            self.assertEqual(writer.wait(timeout=120), 0)
            writer.stdout.close()
        self.assertEqual(r.code, 0, r)
        self.assertIn(b"Can't Delete file : app.log" + EOL, r.out)
        self.assertEqual(self.read('app.log'), b'line 1\nline 2\n')
        self.assertEqual(self.read(os.path.join(self.folder(), 'app.log')), b'line 1\n')


@skip_unless_posix('a Linux file system whose clock counts whole seconds')
@skip_unless_root('mounting a loop file system and turning leases off need root')
class CoarseClock(StowitTest):
    """ext4 with 128-byte inodes keeps whole seconds: a rewrite in place that
    keeps the size, in the second of the file's last change, leaves its stamp
    as it was. The file's time is put back, so that the second is the same."""

    def mount_coarse_ext4(self):
        image, disk = self.path('ext4.img'), self.path('disk')
        os.mkdir(disk)
        with open(image, 'wb') as f:
            f.truncate(512 << 20)
        for step in (['mkfs.ext4', '-q', '-I', '128', image], ['mount', '-o', 'loop', image, disk]):
            done = subprocess.run(step, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            if done.returncode != 0:
                self.skipTest('cannot %s: %s' % (step[0], done.stderr.decode().strip()))
        self.addCleanup(subprocess.run, ['umount', disk])
        return disk

    def test_a_same_size_rewrite_during_the_copy_is_kept_with_a_lease_and_without(self):
        self.mount_coarse_ext4()
        head = os.urandom(1 << 20) * 200
        leases = '/proc/sys/fs/leases-enable'
        for enabled in (b'1', b'0'):
            with self.subTest(leases=enabled):
                original = self.write('disk/big.log', head)
                stamp = os.stat(original)
                with open(leases, 'rb') as f:
                    before = f.read().strip()
                with open(leases, 'wb') as f:
                    f.write(enabled)
                try:
                    run = self.start('disk/*.log', 'archive', '/d')
                    while run.poll() is None and not glob.glob(self.path('disk/archive/*/big.log.partial')):
                        time.sleep(0.001)
                    time.sleep(0.2)
                    fd = os.open(original, os.O_WRONLY)
                    os.pwrite(fd, b'NEWDATA!', 0)
                    os.close(fd)
                    os.utime(original, ns=(stamp.st_atime_ns, stamp.st_mtime_ns))
                    out, err = run.communicate(timeout=180)
                finally:
                    with open(leases, 'wb') as f:
                        f.write(before)
                self.assertEqual(run.returncode, 0, err)
                self.assertIn(b'Original kept, changed while archiving : disk/big.log' + EOL, out)
                self.assertEqual(self.read('disk/big.log'), b'NEWDATA!' + head[8:])
                subprocess.run(['rm', '-rf', self.path('disk/archive')])


class PartialNameTaken(StowitTest):
    def test_a_match_named_like_a_working_copy_is_archived_whole_beside_it(self):
        files = {'a.log': b'the log', 'a.log.partial': b'a file of that name'}
        self.write_files(files)
        r = self.stowit('*', '/d')
        self.assertEqual(r.code, 0, r)
        self.assertEqual(sorted(os.listdir(self.path(self.folder()))), sorted(files))
        for name, data in files.items():
            self.assertEqual(self.read(os.path.join(self.folder(), name)), data, name)
            self.assertFalse(os.path.exists(self.path(name)), name)
