"""The failure report of a real program: its exact bytes, where it lands, and
what a failure that the report cannot be made for leaves behind."""
import os
import re
import shutil

from harness import EMULATED, EOL, PROBE, QEMU_I386, WINDOWS, StowitTest, run

MODULE = os.path.basename(PROBE).encode()
PROBE_SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'fault_probe.cpp')
E = re.escape(EOL)


def elf_machine(path):
    """The processor an ELF program is built for (183 AArch64, 40 32-bit ARM); None for others."""
    with open(path, 'rb') as f:
        header = f.read(20)
    return int.from_bytes(header[18:20], 'little') if header[:4] == b'\x7fELF' else None


def probe_check_line(after):
    """The line number of the first check that follows the line holding `after` in the probe."""
    with open(PROBE_SOURCE) as f:
        lines = f.read().splitlines()
    start = next(i for i, line in enumerate(lines) if after in line)
    return next(i + 1 for i in range(start + 1, len(lines)) if 'CheckIoStatus(' in lines[i])


def report(class_name, message, location=None):
    """A pattern for the whole report; group 1 is the module-relative address."""
    pattern = (rb'Exception ' + class_name + rb' in module ' + re.escape(MODULE) +
               rb' at ([0-9A-F]{8})\.' + E)
    if location is not None:
        pattern += rb'File: fault_probe\.cpp Line#: ' + str(location).encode() + E
    return pattern + message


def sanitized(program):
    with open(program, 'rb') as f:
        return b'__asan_init' in f.read()


class FailedCheckReport(StowitTest):
    def test_io_status_gives_three_lines_after_the_written_ones_the_same_in_every_run_and_file(self):
        line = probe_check_line('mode == "io"')
        out = {}
        for status, message in [(2, b'File not found.'), (3, b'Invalid filename.'),
                                (5, b'File access denied.'), (32, b'I/O error 32.'),
                                (112, b'I/O error 112.'), (-7, b'I/O error -7.')]:
            with self.subTest(status=status):
                r = self.probe('io', str(status))
                self.assertEqual(r.code, 1, r)
                self.assertEqual(r.err, b'', r)
                expected = rb'probe io' + E + report(rb'EInOutError', re.escape(message), line)
                self.assertRegex(r.out, b'^' + expected + rb'\Z', r)
                out[status] = r.out
        # The same bytes, address and all, from a second run, and in a redirected file.
        self.assertEqual(self.probe('io', '5').out, out[5])
        with open(self.path('out.txt'), 'wb') as f:
            self.assertEqual(self.probe('io', '32', stdout=f).code, 1)
        self.assertEqual(self.read('out.txt'), out[32])

    def test_unended_text_follows_the_report(self):
        r = self.probe('pending')
        self.assertEqual(r.code, 1, r)
        line = probe_check_line('WriteText(StandardOutput, "pending")')
        self.assertRegex(r.out, b'^probe pending' + E +
                         report(rb'EInOutError', rb'File access denied\.pending', line) + rb'\Z')

    def test_report_shows_the_program_name_in_the_console_code_page(self):
        name = 'probé' + ('.exe' if WINDOWS else '')
        copy = self.path(name)
        shutil.copy(PROBE, copy)
        r = run(['io', '5'], cwd=self.dir, program=copy)
        self.assertEqual(r.code, 1, r)
        # Like every console text: on Windows the system's ANSI spelling goes out
        # in the OEM code page (é is 0x82 there); Linux passes the bytes through.
        shown = name.encode('cp437' if WINDOWS else 'utf-8')
        self.assertIn(b' in module ' + shown + b' at ', r.out)


class ProcessorFaultReport(StowitTest):
    def test_faults_are_reported_by_class_and_message(self):
        address = rb'([0-9A-F]{8,16})'
        for mode, class_name, message in [
                (['divide', '0'], rb'EDivByZero', rb'Division by zero\.'),
                (['write-nowhere'], rb'EAccessViolation',
                 rb'Access violation at address ' + address + rb'\. Write of address 00000010\.'),
                (['read-nowhere'], rb'EAccessViolation',
                 rb'Access violation at address ' + address + rb'\. Read of address 00000010\.'),
                (['stack'], rb'EStackOverflow', rb'Stack overflow\.')]:
            with self.subTest(mode=mode[0]):
                if mode[0] == 'divide' and elf_machine(PROBE) == 183:
                    self.skipTest('AArch64 divides by zero without a trap, giving 0')
                if mode[0] != 'stack' and QEMU_I386:
                    self.skipTest('32-bit Wine under qemu-i386: no fault types, every fault an illegal instruction')
                if mode[0] == 'write-nowhere' and EMULATED:
                    self.skipTest('qemu-user hands a signal handler no fault status: a write looks like a read')
                r = self.probe(*mode)
                if mode[0] == 'divide' and elf_machine(PROBE) == 40:
                    # The runtime's division helper raises SIGFPE from within the C library.
                    self.assertRegex(r.out, rb'Exception EDivByZero in module \S+ at [0-9A-F]{8}\.' + E + message)
                    continue
                self.assertEqual(r.code, 1, r)
                self.assertEqual(r.err, b'', r)
                match = re.fullmatch(b'probe ' + mode[0].encode() + E + report(class_name, message), r.out)
                self.assertTrue(match, r)
                if class_name == rb'EAccessViolation':
                    # The absolute fault address and the relative one name the same
                    # instruction; a module loads on a page boundary.
                    relative, absolute = (int(g, 16) for g in match.groups())
                    self.assertEqual(relative & 0xFFF, absolute & 0xFFF, r)

    def test_memory_exhaustion_and_a_refused_allocation_use_their_own_class(self):
        for mode in ('out-of-memory', 'allocate'):
            with self.subTest(mode=mode):
                if mode == 'allocate' and sanitized(PROBE):
                    self.skipTest('the sanitizer ends a refused allocation itself')
                r = self.probe(mode)
                self.assertEqual(r.code, 1, r)
                self.assertRegex(r.out, b'^probe ' + mode.encode() + E +
                                 report(rb'EOutOfMemory', rb'Out of memory\.') + rb'\Z')

    def test_fault_while_reporting_ends_without_a_report(self):
        r = self.probe('fault-in-report')
        self.assertEqual(r.code, 1, r)
        self.assertEqual(r.out, b'probe fault-in-report' + EOL, r)
        self.assertEqual(r.err, b'', r)


class StartUpFailure(StowitTest):
    def test_failure_before_reporting_is_set_up_writes_one_line_on_stderr(self):
        line = probe_check_line('"early"')
        for number in ('5', '32'):
            with self.subTest(number=number):
                r = self.probe('early', number)
                self.assertEqual(r.code, int(number), r)
                self.assertEqual(r.out, b'', r)
                self.assertRegex(r.err, rb'^Runtime error ' + number.encode() +
                                 rb' at [0-9A-F]{8,16} \(fault_probe\.cpp#' + str(line).encode() +
                                 rb'\) TID=1\.' + E + rb'\Z')
