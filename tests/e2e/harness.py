"""Runs the real program (natively, under Wine for a Windows build, under the
emulator for a cross build) in a fresh temporary directory, and describes the
platform's conventions, so that each test is written once for both platforms."""
import datetime
import os
import pty
import re
import shlex
import shutil
import subprocess
import tempfile
import termios
import unittest

PLATFORM = os.environ.get('STOWIT_PLATFORM', 'posix')
PROGRAM = os.environ.get('STOWIT_PROGRAM', '')
PROBE = os.environ.get('STOWIT_PROBE', '')
# What starts a program of this build, shell-quoted: scripts/wine-run, the
# emulator of a cross build, or nothing for a native one.
RUNNER = shlex.split(os.environ.get('STOWIT_RUNNER', ''))
EMULATED = bool(RUNNER) and PLATFORM != 'windows'  # a cross build under qemu-user
WINDOWS = PLATFORM == 'windows'


def route(program):
    """How scripts/wine-run starts a Windows program: wine64, wine32, or
    qemu-i386 (32-bit Wine where the kernel runs no 32-bit programs)."""
    return subprocess.run(RUNNER + ['--route', program], stdout=subprocess.PIPE, text=True).stdout.strip()


# qemu-i386 gives 32-bit Wine no fault type, so every processor fault looks
# like an illegal instruction to it.
QEMU_I386 = WINDOWS and bool(PROGRAM) and route(PROGRAM) == 'qemu-i386'
POSIX = not WINDOWS
SEP = '\\' if WINDOWS else '/'
EOL = b'\r\n' if WINDOWS else b'\n'
IS_ROOT = POSIX and os.geteuid() == 0
# Wine run by root opens read-only files for writing, as root may on Linux;
# Windows itself refuses.
READ_ONLY_IGNORED = WINDOWS and os.geteuid() == 0
# The code page of console output and found names: the OEM page under Wine
# (437 in its default locale); on Linux names are bytes, shown as they are.
NAME_ENCODING = 'cp437' if WINDOWS else 'utf-8'


class Result:
    def __init__(self, code, out, err):
        self.code, self.out, self.err = code, out, err

    def lines(self):
        """Standard output split at the platform's line end (the last piece may be unended)."""
        return self.out.split(EOL)

    def __repr__(self):
        return 'exit %d, stdout %r, stderr %r' % (self.code, self.out, self.err[-400:])


def command(program, args):
    return RUNNER + [program] + list(args)


def run(args, cwd, program=None, timeout=180, stdout=subprocess.PIPE, **kw):
    """Runs the program with the arguments; bytes in, bytes out."""
    proc = subprocess.run(command(program or PROGRAM, args), cwd=cwd, stdout=stdout,
                          stderr=subprocess.PIPE, timeout=timeout, **kw)
    return Result(proc.returncode, proc.stdout or b'', proc.stderr)


def start(args, cwd, program=None, **kw):
    """Starts the program without waiting for it; bytes out."""
    return subprocess.Popen(command(program or PROGRAM, args), cwd=cwd, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, **kw)


_wine_server_started = False


def start_wine_server():
    """Starts the Wine server, once, from a run whose output is not a pipe: a
    server started by a test's run would hold that run's pipe open after it ends."""
    global _wine_server_started
    if WINDOWS and not _wine_server_started:
        _wine_server_started = True
        subprocess.run(command(PROGRAM, []), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120)


def console(*lines):
    """Console output of whole lines, each ended as the platform ends it."""
    return b''.join(line + EOL for line in lines)


def report_pattern(*messages):
    """A pattern for stowit's report of a failed check, ending in one of the messages."""
    e = re.escape(EOL)
    return (rb'Exception EInOutError in module ' + re.escape(os.path.basename(PROGRAM).encode()) +
            rb' at [0-9A-F]{8}\.' + e + rb'File: [\w.]+\.cpp Line#: \d+' + e +
            rb'(?:' + b'|'.join(re.escape(m) for m in messages) + rb')\Z')


def shown_name(name):
    """A file name with characters beyond ASCII as the program writes it."""
    return name.encode(NAME_ENCODING)


def windows_path(path):
    """The name under which a Windows program under Wine sees a Linux path."""
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


def program_path_as_seen(path):
    """Argument 0 as the program reports it: its full path."""
    return windows_path(path) if WINDOWS else os.path.realpath(path)


def today():
    return datetime.date.today().strftime('%Y%m%d')


class StowitTest(unittest.TestCase):
    """A test in a fresh temporary directory of its own."""

    @classmethod
    def setUpClass(cls):
        start_wine_server()

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='stowit-e2e-')
        self.addCleanup(self._remove)

    def _remove(self):
        for root, dirs, files in os.walk(self.dir):
            for name in dirs + files:
                # A symlink takes no mode on Linux (NotImplementedError), and the
                # entry it names may lie outside the test's directory.
                if os.path.islink(os.path.join(root, name)):
                    continue
                try:
                    os.chmod(os.path.join(root, name), 0o700, follow_symlinks=False)
                except OSError:
                    pass
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def write(self, name, data=b'', mode=None):
        full = self.path(name)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, 'wb') as f:
            f.write(data)
        if mode is not None:
            os.chmod(full, mode)
        return full

    def write_files(self, files):
        """Writes each name's bytes; returns the files."""
        for name, data in files.items():
            self.write(name, data)
        return files

    def read(self, name):
        with open(self.path(name), 'rb') as f:
            return f.read()

    def stowit(self, *args, **kw):
        return run(args, cwd=kw.pop('cwd', self.dir), **kw)

    def probe(self, *args, **kw):
        return run(args, cwd=kw.pop('cwd', self.dir), program=PROBE, **kw)

    def run_typed(self, line, timeout=180):
        """Windows: runs the program with the arguments exactly as typed after
        its name, quotes included. Passed as a list, Wine would escape them."""
        assert WINDOWS
        with open(self.path('typed.bat'), 'wb') as f:
            f.write(b'@"' + windows_path(PROGRAM).encode() + b'" ' + line.encode() + b'\r\n')
        try:
            return run(['/c', 'typed.bat'], cwd=self.dir, program='cmd', timeout=timeout)
        finally:
            os.remove(self.path('typed.bat'))

    def copy_program(self, *dirs):
        """A copy of the program in a directory below the test's own."""
        target = self.path(*dirs)
        os.makedirs(target, exist_ok=True)
        return shutil.copy2(PROGRAM, target)

    def start(self, *args, **kw):
        return start(args, cwd=kw.pop('cwd', self.dir), **kw)

    def on_terminal(self, *args, raw=False, timeout=180):
        """Runs the program with its output on a pseudo-terminal: the exit code and
        what the terminal got; raw, the bytes as written, no CR added before LF."""
        master, slave = pty.openpty()
        if raw:
            attributes = termios.tcgetattr(slave)
            attributes[1] &= ~termios.OPOST
            termios.tcsetattr(slave, termios.TCSANOW, attributes)
        try:
            proc = subprocess.Popen(command(PROGRAM, args), cwd=self.dir, stdout=slave, stderr=subprocess.DEVNULL)
        finally:
            os.close(slave)
        shown = b''
        try:
            while True:
                try:
                    chunk = os.read(master, 4096)
                except OSError:  # EIO: every writer to the terminal is gone
                    break
                if not chunk:
                    break
                shown += chunk
        finally:
            os.close(master)
        return proc.wait(timeout=timeout), shown

    def entries(self, *parts):
        """The names in a directory below the test's own, sorted."""
        return sorted(os.listdir(self.path(*parts)))

    def set_hidden(self, name):
        """Windows: gives a file the hidden attribute where Wine keeps it."""
        os.setxattr(self.path(name), 'user.DOSATTRIB', b'0x2')

    def hidden(self, name):
        """Windows: whether Wine shows the file as hidden."""
        try:
            value = os.getxattr(self.path(name), 'user.DOSATTRIB')
        except OSError:
            return False
        return bool(int(value.split(b'\0')[0], 16) & 0x2)

    def folder(self, root='Archive', number=1):
        """The relative name of the dated folder of the given run of today."""
        return os.path.join(root, '%s%02d' % (today(), number))

    def shown_folder(self, root='Archive', number=1):
        """The dated folder of the given run of today as the program writes it."""
        return self.shown(*self.folder(root, number).split(os.sep))

    def shown(self, *parts):
        """A relative path as the program writes it."""
        return SEP.join(parts).encode()


def skip_unless_posix(reason='a Linux-only behaviour'):
    return unittest.skipUnless(POSIX, reason)


def skip_unless_root(reason='needs root'):
    return unittest.skipUnless(IS_ROOT, reason)
