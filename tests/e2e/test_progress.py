"""How far a long copy has come, shown on a terminal only: a run through a
pseudo-terminal and the same run redirected to a file."""
import os
import re

from harness import WINDOWS, StowitTest, console

SIZE = 2 << 30  # a copy that runs for seconds
PROGRESS = re.compile(rb'\r {0,3}\d{1,3}%')
ERASE = b'\r    \r'


class ProgressOnATerminal(StowitTest):
    def test_percentage_on_a_terminal_and_the_usual_lines_elsewhere(self):
        with open(self.path('big.log'), 'wb') as f:
            f.truncate(SIZE)
        code, shown = self.on_terminal('*.log', 'one', raw=True, timeout=300)
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
