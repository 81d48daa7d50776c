"""How far a long copy has come, shown on a terminal only: a run through a
pseudo-terminal and the same run redirected to a file."""
import os
import pty
import re
import subprocess
import termios
import unittest

from harness import PROGRAM, WINDOWS, StowitTest, command, console

SIZE = 2 << 30  # a copy that runs for seconds
PROGRESS = re.compile(rb'\r {0,3}\d{1,3}%')
ERASE = b'\r    \r'


class ProgressOnATerminal(StowitTest):
    def run_on_terminal(self, *args):
        master, slave = pty.openpty()
        attributes = termios.tcgetattr(slave)
        attributes[1] &= ~termios.OPOST  # the bytes as written, no CR added before LF
        termios.tcsetattr(slave, termios.TCSANOW, attributes)
        proc = subprocess.Popen(command(PROGRAM, args), cwd=self.dir, stdout=slave, stderr=subprocess.DEVNULL)
        os.close(slave)
        out = b''
        while True:
            try:
                chunk = os.read(master, 4096)
            except OSError:  # the program's end closed the terminal
                break
            if not chunk:
                break
            out += chunk
        os.close(master)
        return proc.wait(timeout=300), out

    def test_percentage_on_a_terminal_and_the_usual_lines_elsewhere(self):
        with open(self.path('big.log'), 'wb') as f:
            f.truncate(SIZE)
        code, shown = self.run_on_terminal('*.log', 'one')
        self.assertEqual(code, 0, shown)
        if WINDOWS:
            # Wine's console draws the screen with terminal sequences of its own.
            self.assertRegex(shown, rb'File 1 big\.log \(%d bytes\)\r\n(\x1b\[[?0-9]*[a-zA-Z])*\s*\d{1,3}%%' % SIZE)
        else:
            self.assertRegex(shown, PROGRESS)
            self.assertTrue(shown.endswith(ERASE), shown[-100:])
        os.remove(self.path(self.folder('one'), 'big.log'))
        with open(self.path('console.txt'), 'wb') as out:
            r = self.stowit('*.log', 'two', stdout=out)
        self.assertEqual(r.code, 0, r)
        lines = console(b'Archive folder : ' + self.shown_folder('%s'),
                        b'File 1 big.log (%d bytes)' % SIZE)
        self.assertEqual(self.read('console.txt'), lines % b'two')
        if not WINDOWS:
            # Take the progress away and the terminal got the very same lines.
            self.assertEqual(PROGRESS.sub(b'', shown.replace(ERASE, b'')), lines % b'one')


if __name__ == '__main__':
    unittest.main()
