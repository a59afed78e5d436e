# The launcher in a script's hands: every exit status of -wait and of -status, and every failure's
# sentence (from the README's table, which a unit test holds to the program's), all runs at once.
from harness import *

EXT = f'extension {DEXT} '
README = os.path.dirname(os.path.abspath(__file__)) + '/../../README.md'
SENTENCES = {int(code): text for code, text in re.findall(r'^\| (\d+) \| `\w+` \| (.*) \|$', read(README), re.M)}
MONTEREY = 'Running on Monterey\nThis driver was not built for macOS Monterey. Exiting\n'


# flags; exit status; the state's records, a release for sysextctl or an error code for `sysextctl
# fail`; standard output (None: release line and report); part of standard error; GNUstep runs it.
def row(flags, status, state='', out=None, err='', both=False):
    return flags, status, state, out, err, both


ROWS = [row(['-install', '-wait', '30'], 0, f'approved {DEXT}\n'),
        row(['-install', '-wait', '30'], 3, OLDER_IN_USE),
        row(['-uninstall', '-wait', '30'], 1, 10, err=SENTENCES[10]),
        row(['-install', '-wait', '2'], 4, err=f'sysextctl approve {DEXT}', both=True),
        row(['-install', '-wait', '5'], 5, '12.7.6', MONTEREY),
        row(['-installInteractive', '-wait', '5'], 2, out='', err='-wait goes with', both=True),
        row(['-install', '-wait', '5s'], 2, out='', err='-wait takes'),
        row(['-status'], 0, f'{EXT}1.0.0 1 activated enabled\n', RELEASE + f'{DEXT} 1.0.0 (1) enabled\n', both=True),
        row(['-status'], 3, f'{EXT}1.1.0 2 activated waiting for reboot\n{EXT}1.0.0 1 terminated waiting to '
            'uninstall on reboot\n', RELEASE + f'{DEXT} 1.1.0 (2) disabled\n{DEXT} 1.0.0 (1) uninstalling\n'),
        row(['-status'], 4, f'{EXT}1.0.0 1 activated waiting for user\n',
            RELEASE + f'{DEXT} 1.0.0 (1) awaiting-approval\n'),
        row(['-status'], 6, '', RELEASE + f'No version of {DEXT} is known.\n', both=True),
        row(['-status'], 5, '12.0', MONTEREY),
        row(['-status', '-wait', '5'], 2, out='', err='-wait goes with'),
        row(['--help'], 0, out='usage:', both=True),
        *(row(['-status'], 1, code, RELEASE, SENTENCES[code], both=code == 9) for code in SENTENCES)]


class Scripts(E2eTest):
    def testEveryExitStatusAndFailureSentence(self):
        self.assertEqual(sorted(SENTENCES), list(range(1, 14)))
        runs = []
        for n, (flags, status, state, out, err, both) in enumerate(ROWS):
            if GNUSTEP and not both:
                continue
            root = f'{self.root}/{n}'
            # TEMP holds GNUstep's message ports: a run finding its name taken stops at an alert panel.
            env = self.env(HOME=root + '/home', XDG_STATE_HOME=root + '/state', TEMP=root)
            write(root + '/home/veltrinLogFile.txt', '')
            verb = ['fail', DEXT] if isinstance(state, int) else ['release'] if re.fullmatch(r'[\d.]+', state) else []
            if verb:
                self.assertEqual(self.start([SYSEXTCTL, *verb, str(state)], env, f'{n}-sysextctl').finish(20), 0)
            elif state:
                write_state(root, state)
            runs.append((n, ROWS[n], self.start([LAUNCHER, *flags], env, str(n))))
        for n, (flags, status, state, out, err, both), child in runs:
            with self.subTest(flags=flags, status=status, state=state):
                self.assertEqual(child.finish(40), status, read(f'{self.root}/{n}.stderr'))
                expected = RELEASE + report(flags) if out is None else out
                self.assertTrue(child.output().startswith(expected) if flags == ['--help'] else
                                child.output() == expected, child.output())
                self.assertIn(err, read(f'{self.root}/{n}.stderr'))
                if flags[0] == '--help':
                    self.assertTrue(all(f'  {flag} ' in child.output() for flag in MODES))
                if status == 4 and '-wait' in flags:  # the deadline, counted from the request (the report follows it at once)
                    self.assertTrue(1.9 <= (after := child.ended - child.lines[1][1]) <= 3.0, after)


if __name__ == '__main__':
    main()
