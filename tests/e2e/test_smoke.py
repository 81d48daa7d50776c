from harness import StowitTest, EOL


class Smoke(StowitTest):
    def test_two_matches_are_archived(self):
        self.write('a.log', b'alpha')
        self.write('b.log', b'')
        r = self.stowit('*.log')
        self.assertEqual(r.code, 0, r)
        self.assertIn(b'Archive folder : ' + self.shown('Archive', self.folder()[8:]) + EOL, r.out)
        self.assertEqual(self.read(self.folder() + '/a.log'), b'alpha')
