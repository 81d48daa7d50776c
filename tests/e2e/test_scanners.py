"""Virus scanners and indexers on Windows open each new file for a moment,
sharing no deletion: a run waits them out on the copies it makes, and ends
as it always did on a copy that one never lets go, keeping its original."""
import os
import re
import subprocess
import time
import unittest

from harness import EOL, WINDOWS, StowitTest, command, report_pattern

# tests/e2e/scanner.cpp, a Windows program, so that Windows' sharing rules apply to it.
SCANNER = os.environ.get('STOWIT_SCANNER', '')


@unittest.skipUnless(WINDOWS and SCANNER, 'scanners are a Windows matter; STOWIT_SCANNER names ours')
class ScannerOnTheArchive(StowitTest):
    def scan(self, mode):
        """`stowit *.log /D` over 20 files of 1 MiB while the scanner watches
        the archive: the files, the run, what the scanner says it held, and
        the seconds the run took."""
        files = {'f%02d.log' % i: os.urandom(1 << 20) for i in range(20)}
        self.write_files(files)
        os.mkdir(self.path('Archive'))
        scanner = subprocess.Popen(command(SCANNER, ['Archive', mode]), cwd=self.dir, stdin=subprocess.PIPE,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        try:
            self.assertEqual(scanner.stdout.readline().strip(), b'ready')
            start = time.monotonic()
            r = self.stowit('*.log', '/D')
            took = time.monotonic() - start
        finally:
            scanner.stdin.close()
            held = scanner.stdout.read()
            scanner.wait(timeout=60)
            scanner.stdout.close()
        return files, r, held, took

    def assert_no_original_lost(self, files):
        for name, data in files.items():
            kept = os.path.exists(self.path(name))
            self.assertEqual(self.read(name if kept else os.path.join(self.folder(), name)), data, name)

    def test_copies_that_a_scanner_holds_for_a_moment_are_all_archived(self):
        files, r, held, _ = self.scan('briefly')
        self.assertEqual(r.code, 0, r)
        self.assertEqual(self.entries(self.folder()), sorted(files))
        self.assertEqual([name for name in files if os.path.exists(self.path(name))], [])
        self.assert_no_original_lost(files)
        self.assertNotIn(b'held 0 partial', held, 'the scanner held no working copy: the run proves nothing')

    def test_a_copy_that_a_scanner_never_lets_go_ends_the_run_after_a_wait_and_keeps_its_original(self):
        files, r, _, took = self.scan('forever')
        self.assertEqual(r.code, 1, r)
        self.assertRegex(r.out, re.escape(EOL) + report_pattern(b'I/O error 32.'))
        held = [name for name in self.entries(self.folder()) if name.endswith('.partial')]
        self.assertEqual(len(held), 1, r)
        self.assertTrue(os.path.exists(self.path(held[0][:-len('.partial')])), 'the held copy cost its original')
        self.assert_no_original_lost(files)
        self.assertGreater(took, 2.5, 'the refusal was not waited out')
