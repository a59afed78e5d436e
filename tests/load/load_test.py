# Load. Several launchers against one stand-in state while sysextctl changes it
# under them: whatever the interleaving, every request gets one final answer of a
# kind the service gives, each run ends by itself with the status of that answer
# (-wait), and the state stays readable and consistent. And several processes
# appending to one activity log at once, each opening and closing the file for
# every line, as the launcher does.
import collections

from harness import *  # tests/e2e, on PYTHONPATH

# Failures the service gives for the races and commands of this test. Anything
# else (a state it could not read or lock, a crashed worker) is a fault.
FAILURES = tuple(FAILURE + text for text in (DENIED, NOT_INSTALLED, CANCELED,
                                             f'The request for {DEXT} was superseded by a newer request'))
STATUS = {SUCCESS: 0, AFTER_REBOOT: 3}


class LauncherLoad(E2eTest):
    def testLaunchersAndSysextctlShareOneState(self):
        # Not approved yet: installs wait, supersede and cancel each other until the
        # approval comes; the removal finds a version that only waits. Each control
        # runs at its moment in seconds after the start, * standing for the identifier.
        flags = ['-install', '-install', '-uninstall', '-install']
        controls = ('0.3 list; 0.6 busy * on; 1.0 list; 1.4 policy * allow; 1.6 list; 1.9 busy * off; 2.2 list; '
                    '2.6 list; 3.3 approve *; 3.5 list; 3.8 busy * on; 4.0 list; 4.5 busy * off')
        since, started, runs = time.time(), time.monotonic(), []
        for step in sorted([f'{0.15 * i} {flag}' for i, flag in enumerate(flags)] + controls.split('; '),
                           key=lambda step: float(step.split()[0])):
            moment, *args = [DEXT if word == '*' else word for word in step.split()]
            time.sleep(max(0, started + float(moment) - time.monotonic()))
            if args[0].startswith('-'):
                home = f'{self.root}/{len(runs)}{args[0]}'
                runs.append((args[0], write(home + '/veltrinLogFile.txt', ''),
                             self.launch([*args, '-wait', '30'], self.env(HOME=home))))
            else:
                self.control(*args)
        # Each run's log holds its start, its arguments and one final answer, last,
        # with only approvals or replacements of an install between.
        for flag, log, child in runs:
            with self.subTest(flag=flag, log=log):
                status = child.finish(40)
                start, args, *between, answer = self.log_texts(log, since)
                self.assertEqual([start, args], [START[flag], ARGS])
                self.assertTrue(answer in STATUS or answer.startswith(FAILURES), answer)
                self.assertEqual(status, STATUS.get(answer, 1), answer)
                self.assertTrue(all(flag == '-install' and (text == APPROVAL or text.startswith(REPLACING))
                                    for text in between), between)
        # Nothing waits for approval once every request is answered, and the file still reads back.
        self.control('list')
        state = read(self.root + '/state/veltrin-sysext/state')
        self.assertNotIn('\npending ', state)
        self.assertTrue(state.endswith('end\n'), state)


class ActivityLogLoad(E2eTest):
    def testWritersAppendingAtOnceLoseNoLineAndKeepTheirOrder(self):
        writers, each = 4, 25000
        write(self.log, '')
        for child in [self.start([APPENDER, self.log, f'W{i}', str(each)], self.env(), f'writer-{i}')
                      for i in range(writers)]:
            self.assertEqual(child.finish(120), 0, 'writer')
        # Every line: the appender's fixed stamp, its writer's tag, that writer's next
        # number and the padding, ended by CR LF.
        following, damaged = collections.Counter(), []
        for line in read(self.log).removesuffix('\n').split('\n'):
            tag = line[20:22]
            if line == f'05/12/2026 07:41:39:{tag}:{following[tag]}:{"x" * 150}\r':
                following[tag] += 1
            else:
                damaged.append(line[:60])
        self.assertEqual(damaged[:5], [], f'{len(damaged)} lines out of place or damaged')
        self.assertEqual([following[f'W{i}'] for i in range(writers)], [each] * writers)


if __name__ == '__main__':
    main()
