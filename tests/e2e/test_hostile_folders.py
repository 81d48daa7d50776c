"""Root archiving in folders that another user controls, who plants or swaps
symlinks before and during the run: no copy may land outside the archive, no
file the user could not read may be copied into it, and no original is lost.
And names that hold control characters, which must not reach a terminal raw."""
import os
import re
import subprocess
import unittest

from harness import WINDOWS, StowitTest, skip_unless_posix, skip_unless_root

# Plays the other user (tests/e2e/racer.c), a program of this machine whatever the build targets.
RACER = os.environ.get('STOWIT_RACER', '')
OTHER = 4242  # a spare uid and gid: chown and the racer's setuid need no passwd entry
CRONTAB = b"* * * * * root /bin/sh -c 'echo pwned'\n"
SECRET = b'SECRET: readable by root alone\n'
TRIALS = 5
# Which of the two a flip leaves under the name when it is opened is a coin toss: more throws.
FLIP_TRIALS = 12
REPORT_LINE = rb'Exception EInOutError in module stowit at [0-9A-F]{8}\.\n'

needs_racer = unittest.skipUnless(RACER and os.path.exists(RACER), 'no racer program: STOWIT_RACER is not set')


def tree(top):
    """Everything below a folder, symlinks not followed: each file's bytes, each link's target, owners and modes."""
    found = {}
    for root, dirs, files in os.walk(top):
        for name in dirs + files:
            full = os.path.join(root, name)
            st = os.lstat(full)
            if os.path.islink(full):
                what = os.readlink(full)
            elif os.path.isdir(full):
                what = None
            else:
                with open(full, 'rb') as f:
                    what = f.read()
            found[os.path.relpath(full, top)] = (st.st_mode, st.st_uid, st.st_gid, what)
    return found


def file_contents(top):
    """The bytes of each plain file below a folder, symlinks not followed."""
    return [entry[-1] for entry in tree(top).values() if isinstance(entry[-1], bytes)]


def own(path, uid):
    os.lchown(path, uid, uid)


class Racer:
    """The racer as the other user; started once it watches, stopped on leaving."""

    def __init__(self, *args, uid=OTHER):
        self.proc = subprocess.Popen([RACER, str(uid), str(uid), '0'] + list(args), stdout=subprocess.PIPE)

    def __enter__(self):
        if self.proc.stdout.readline() != b'ready\n':
            self.__exit__()
            raise AssertionError('the racer did not start')

    def __exit__(self, *exc):
        self.proc.terminate()
        self.proc.wait()
        self.proc.stdout.close()


@skip_unless_posix('Linux permission scenarios: a second user and its symlinks')
@skip_unless_root('only root can hand folders to another user and run the racer as that user')
class OtherUsersFolder(StowitTest):
    """In each trial's T: box (0755) and box/app.log belong to the other user; victim, root's, stands for /etc/cron.d."""

    def scene(self, trial):
        os.chmod(self.dir, 0o755)  # the other user must reach its folders
        t = self.path('trial%d' % trial)
        os.makedirs(os.path.join(t, 'box'))
        os.chmod(os.path.join(t, 'box'), 0o755)
        own(os.path.join(t, 'box'), OTHER)
        own(self.write(os.path.join(t, 'box', 'app.log'), CRONTAB), OTHER)
        self.write(os.path.join(t, 'victim', '0hourly'), b'01 * * * * root run-parts /etc/cron.hourly\n')
        os.chmod(os.path.join(t, 'victim'), 0o755)
        return t, tree(os.path.join(t, 'victim'))

    def stow(self, t):
        return self.stowit('box/*.log', '/D', cwd=t)

    def assert_victim_untouched(self, t, before, r):
        self.assertEqual(tree(os.path.join(t, 'victim')), before, 'the run wrote outside its archive: %r' % r)

    def assert_nothing_lost(self, t, r):
        self.assertIn(CRONTAB, file_contents(os.path.join(t, 'box')), 'the original is lost: %r' % r)

    def test_archive_folder_planted_as_a_link_of_the_other_user_is_not_followed(self):
        t, before = self.scene(0)
        os.symlink('../victim', os.path.join(t, 'box', 'Archive'))
        own(os.path.join(t, 'box', 'Archive'), OTHER)
        r = self.stow(t)
        self.assert_victim_untouched(t, before, r)
        self.assertEqual(r.code, 1, r)
        self.assertRegex(r.out, rb'(?m)^' + REPORT_LINE, r)
        self.assertTrue(r.out.endswith(b'Invalid filename.'), r)
        self.assertEqual(self.read(os.path.join(t, 'box', 'app.log')), CRONTAB)

    @needs_racer
    def test_dated_folder_swapped_for_a_link_during_the_run_takes_no_copy_out(self):
        for trial in range(TRIALS):
            with self.subTest(trial=trial):
                t, before = self.scene(trial)
                archive = os.path.join(t, 'box', 'Archive')
                os.mkdir(archive)
                own(archive, OTHER)
                with Racer('swap-dated', archive, os.path.join(t, 'victim')):
                    r = self.stow(t)
                self.assert_victim_untouched(t, before, r)
                self.assertIn(r.code, (0, 1), r)
                if r.code == 1:
                    self.assertRegex(r.out, rb'(?m)^' + REPORT_LINE, r)
                self.assert_nothing_lost(t, r)
                self.assertTrue(any(name.endswith('.moved') for name in os.listdir(archive)),
                                'the racer swapped nothing: the trial proves nothing')

    @needs_racer
    def test_original_flipped_with_a_link_never_brings_in_what_the_link_names(self):
        for trial in range(FLIP_TRIALS):
            with self.subTest(trial=trial):
                t, before = self.scene(trial)
                secret = self.write(os.path.join(t, 'secret'), SECRET, mode=0o600)
                link = os.path.join(t, 'box', 'link')
                os.symlink(secret, link)
                own(link, OTHER)
                with Racer('flip', os.path.join(t, 'box', 'app.log'), link):
                    r = self.stow(t)
                self.assert_victim_untouched(t, before, r)
                archive = os.path.join(t, 'box', 'Archive')
                self.assertFalse([data for data in file_contents(archive) if SECRET in data], r)
                self.assertEqual(self.read(secret), SECRET)
                self.assert_nothing_lost(t, r)

    def test_archive_folder_linked_by_root_is_followed(self):
        t, before = self.scene(0)
        os.mkdir(os.path.join(t, 'bigdisk'))
        os.symlink(os.path.join(t, 'bigdisk'), os.path.join(t, 'box', 'Archive'))
        r = self.stow(t)
        self.assertEqual(r.code, 0, r)
        self.assertEqual(self.read(os.path.join(t, self.folder('bigdisk'), 'app.log')), CRONTAB)
        self.assertFalse(os.path.exists(os.path.join(t, 'box', 'app.log')), r)
        self.assert_victim_untouched(t, before, r)


@unittest.skipUnless(WINDOWS, 'the Windows program under Wine; the Linux builds have their own scenarios')
@needs_racer
class SwappedDatedFolderUnderWine(StowitTest):
    """No second user here: the racer runs as the user who runs the tool."""
    FILES = {'a.log': b'a' * (1 << 20), 'b.log': b'b' * (1 << 20), 'c.log': b'c' * (1 << 20)}

    def test_dated_folder_swapped_for_a_link_during_the_run_takes_no_copy_out(self):
        for trial in range(TRIALS):
            with self.subTest(trial=trial):
                t = self.path('trial%d' % trial)
                for name, data in self.FILES.items():
                    self.write(os.path.join(t, name), data)
                self.write(os.path.join(t, 'victim', 'kept'), b'kept\n')
                before = tree(os.path.join(t, 'victim'))
                os.mkdir(os.path.join(t, 'Archive'))
                with Racer('swap-dated', os.path.join(t, 'Archive'), os.path.join(t, 'victim'), uid=-1):
                    r = self.stowit('*.log', '/D', cwd=t)
                self.assertEqual(tree(os.path.join(t, 'victim')), before, 'the run wrote outside its archive: %r' % r)
                kept = file_contents(t)
                for name, data in self.FILES.items():
                    self.assertIn(data, kept, '%s is lost: %r' % (name, r))
                self.assertTrue(any(n.endswith('.moved') for n in os.listdir(os.path.join(t, 'Archive'))),
                                'the racer swapped nothing: the trial proves nothing')


@skip_unless_posix('Windows names cannot hold control characters')
class ControlCharactersInNames(StowitTest):
    NAME = b'a\x1b]0;pwned\x07b.log'  # would set a terminal's title

    def test_a_name_reaches_a_terminal_with_each_control_byte_as_a_question_mark_and_a_pipe_unchanged(self):
        self.write(os.fsdecode(self.NAME), b'0123456789')
        code, shown = self.on_terminal('*.log')
        self.assertEqual(code, 0, shown)
        # The terminal ends a line with "\r\n" as it turns each "\n" into both.
        self.assertIn(b'File 1 a?]0;pwned?b.log (10 bytes)\r\n', shown)
        self.assertFalse(re.search(rb'[\x00-\x09\x0b\x0c\x0e-\x1f\x7f]', shown), shown)
        r = self.stowit('*.log')
        self.assertIn(b'File 1 ' + self.NAME + b' (10 bytes)\n', r.out, r)
