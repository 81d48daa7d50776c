"""What a copy carries and costs, run as root over small file systems of its
own: holes, the clean-up of a failed copy, owner, group, ACL, and a file
system that takes no permission bits."""
import os
import shutil
import subprocess
import unittest

from harness import PROGRAM, POSIX, StowitTest, command, skip_unless_root

OWNER, TEAM, OUTSIDER = 4242, 4243, 4244  # spare ids, no user's
ACL = 'system.posix_acl_access'
UMASK = os.umask(0)
os.umask(UMASK)
SHIM = os.path.join(os.path.dirname(PROGRAM), 'tests', 'libfault_shim.so')


def acl(path):
    try:
        return os.getxattr(path, ACL)
    except OSError:
        return None


@unittest.skipUnless(POSIX and shutil.which('setfacl'), 'needs Linux and setfacl (Debian package acl)')
@skip_unless_root('needs root: spare uids and gids, and mounts of its own')
class CopiesTest(StowitTest):
    def mount(self, fs, size='64m'):
        """A fresh file system of that type as the archive folder."""
        target = self.path('Archive')
        os.makedirs(target, exist_ok=True)
        subprocess.run(['mount', '-t', fs, '-o', 'size=' + size, fs, target], check=True)
        self.addCleanup(subprocess.run, ['umount', '-l', target])

    def copy(self, name):
        return self.path(self.folder(), name)

    def test_each_case(self):
        # name, what the original is, how it is archived, what the copy must be
        rows = [
            ('sparse on a small tmpfs', self.sparse, self.mounted('tmpfs'), self.keeps_holes),
            ('disk full', self.big, self.mounted('tmpfs', '1m'), self.failed_without_partial),
            ('owner and group as root', self.owned, self.as_root, self.mode_owner(0o640, OWNER, TEAM)),
            ('a group the runner may not set', self.owned, self.as_owner, self.mode_owner(0o600, OWNER, OWNER)),
            ('a group the runner is in', self.owned, lambda: self.as_owner(TEAM), self.mode_owner(0o640, OWNER, TEAM)),
            ('an ACL in a setgid folder', self.with_acl, self.as_root_in_setgid, self.same_acl),
            ('a default ACL on the archive', self.owned, self.under_default_acl, self.without_acl),
            ('an ACL on a file system without ACLs', self.with_acl, self.mounted('ramfs'),
             self.mode_owner(0o600, OWNER, TEAM)),
            ('fchmod answering ENOSYS', self.owned, self.without_fchmod, self.mode_owner(0o600, OWNER, TEAM)),
        ]
        for name, make, archive, check in rows:
            with self.subTest(name):
                self.setUp()
                try:
                    original = make()
                    check(archive(), original)
                finally:
                    self.doCleanups()

    # The originals; each is a.log.
    def sparse(self):
        path = self.write('a.log', os.urandom(4096))
        os.truncate(path, 1 << 30)
        return path

    def big(self):
        return self.write('a.log', os.urandom(2 << 20))

    def owned(self):
        path = self.write('a.log', b'private\n', mode=0o640)
        os.chown(path, OWNER, TEAM)
        return path

    def with_acl(self):
        path = self.write('a.log', b'for the outsider\n', mode=0o600)
        subprocess.run(['setfacl', '-m', 'u:%d:r' % OUTSIDER, path], check=True)
        os.chown(path, OWNER, TEAM)
        return path

    # The runs.
    def as_root(self, *args, **kw):
        return self.stowit('a.log', *args, **kw)

    def mounted(self, fs, size='64m'):
        return lambda: (self.mount(fs, size), self.as_root())[1]

    def without_fchmod(self):
        if not os.path.exists(SHIM):
            self.skipTest('no fault shim in this build (%s)' % SHIM)
        self.mount('ramfs')  # takes no ACL: the bits go by fchmod
        env = dict(os.environ, LD_PRELOAD=SHIM, STOWIT_FAULT='fchmod:1:38:always')
        return self.as_root(env=env)

    def as_owner(self, *groups):
        os.chown(self.dir, OWNER, OWNER)
        return subprocess.run(['setpriv', '--reuid=%d' % OWNER, '--regid=%d' % OWNER,
                               '--groups=' + ','.join(map(str, groups)) if groups else '--clear-groups',
                               *command(PROGRAM, ['a.log'])], cwd=self.dir, capture_output=True)

    def as_root_in_setgid(self):
        os.makedirs(self.path('Archive'))
        os.chown(self.path('Archive'), 0, OUTSIDER)
        os.chmod(self.path('Archive'), 0o2770)
        return self.as_root()

    def under_default_acl(self):
        os.makedirs(self.path('Archive'))
        subprocess.run(['setfacl', '-d', '-m', 'u:%d:rw' % OUTSIDER, self.path('Archive')], check=True)
        return self.as_root()

    # The checks.
    def archived(self, result):
        self.assertEqual(getattr(result, 'code', getattr(result, 'returncode', None)), 0, result)  # ours or setpriv's

    def keeps_holes(self, result, original):
        self.archived(result)
        copy = self.copy('a.log')
        self.assertLess(os.stat(copy).st_blocks * 512, 1 << 20)
        self.assertEqual(subprocess.run(['cmp', original, copy]).returncode, 0)

    def failed_without_partial(self, result, original):
        self.assertEqual(result.code, 1, result)
        self.assertEqual(os.listdir(self.path(self.folder())), [])
        self.assertEqual(os.path.getsize(original), 2 << 20)

    def mode_owner(self, mode, uid, gid):
        def check(result, original):
            self.archived(result)
            st = os.stat(self.copy('a.log'))
            self.assertEqual((oct(st.st_mode & 0o7777), st.st_uid, st.st_gid), (oct(mode & ~UMASK), uid, gid))
            self.assertEqual(self.read(os.path.join(self.folder(), 'a.log')), self.read('a.log'))
        return check

    def same_acl(self, result, original):
        self.archived(result)
        st = os.stat(self.copy('a.log'))
        self.assertEqual((st.st_uid, st.st_gid), (OWNER, TEAM))
        self.assertEqual(acl(self.copy('a.log')), acl(original))

    def without_acl(self, result, original):
        self.archived(result)
        self.assertIsNone(acl(self.copy('a.log')))
        self.assertEqual(os.stat(self.copy('a.log')).st_mode & 0o777, 0o640 & ~UMASK)
