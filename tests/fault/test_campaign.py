"""The fault campaign's judge of a finished run: a checker that passes a lost
original or an unnamed outcome would make the whole campaign pass for nothing."""
import importlib.machinery
import importlib.util
import os
import shutil
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # no cache beside the script in the source tree
_loader = importlib.machinery.SourceFileLoader(
    'fault_campaign', os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'scripts', 'fault-campaign'))
campaign = importlib.util.module_from_spec(importlib.util.spec_from_loader(_loader.name, _loader))
_loader.exec_module(campaign)
BIG = campaign.ORIGINALS['big.log']
REPORT = b'Exception EInOutError in module stowit at 0000ABCD.\nFile: x.cpp Line#: 1\nDisk full.\n'
ALL_ARCHIVED = {'Archive/2026120801/' + n: d for n, d in campaign.ORIGINALS.items()}
UNTOUCHED = dict(campaign.ORIGINALS)

# Files left in the folder, exit code, output, faults logged; what broke (texts
# that start so) and whether the outcome is named.
CASES = [
    ('all archived', ALL_ARCHIVED, 0, b'', [], [], True),
    ('nothing matched, nothing done', UNTOUCHED, 5, b'', [], [], True),
    ('an original lost', dict(UNTOUCHED, **{'big.log': None}), 1, REPORT, [], ['big.log lost'], True),
    ('a short copy under the name', dict(UNTOUCHED, **{'Archive/2026120801/big.log': BIG[:100]}), 1, REPORT, [],
     ['archive holds'], True),
    ('a short working copy', dict(UNTOUCHED, **{'Archive/2026120801/big.log.partial': BIG[:100]}), 1, REPORT, [],
     [], True),
    ('kept, another named', dict(ALL_ARCHIVED, **{'big.log': BIG}), 0, b"Can't Open file : small.log\n", [],
     ['exit 0, but big.log'], False),
    ('kept and named', dict(ALL_ARCHIVED, **{'big.log': BIG}), 0, b"Can't Delete file : big.log\n", [], [], True),
    ('kept aside, named', dict(ALL_ARCHIVED, **{'big.log.deleting': BIG}), 0,
     b"Can't Delete file : big.log (kept as big.log.deleting)\n", [], [], True),
    ('kept aside, never named', dict(ALL_ARCHIVED, **{'Archive/2026120801/big.log': None, 'big.log.deleting': BIG}),
     0, b'', [], ['big.log lost', 'exit 0'], False),
    ('exit 1 without a report', UNTOUCHED, 1, b'File 1 big.log\n', ['FAULT read fd=5'], ['exit 1 without'], False),
    ('exit 1, output refused', UNTOUCHED, 1, b'', ['FAULT write stdout'], [], True),
    ('exit 5 after archiving', ALL_ARCHIVED, 5, b'', [], ['exit 5'], False),
    ('a crash', UNTOUCHED, -11, b'', [], ['exit -11'], False),
    ('a hang', UNTOUCHED, None, b'', [], ['hang'], False),
]


class Judge(unittest.TestCase):
    def test_cases(self):
        for name, files, code, out, faults, broke, named in CASES:
            with self.subTest(name):
                work = tempfile.mkdtemp(prefix='stowit-judge-')
                self.addCleanup(shutil.rmtree, work)
                for path, data in files.items():
                    if data is not None:
                        os.makedirs(os.path.dirname(os.path.join(work, path)), exist_ok=True)
                        with open(os.path.join(work, path), 'wb') as f:
                            f.write(data)
                found, is_named, _, _ = campaign.judge(work, code, out, faults)
                self.assertEqual(len(found), len(broke), found)
                for text, expected in zip(found, broke):
                    self.assertTrue(text.startswith(expected), (text, expected))
                if not broke:
                    self.assertEqual(is_named, named)


if __name__ == '__main__':
    unittest.main()
