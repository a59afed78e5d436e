# Load. Several launchers against one stand-in state while sysextctl changes it
# under them: whatever the interleaving, every request gets one final answer of a
# kind the service gives, every launcher ends with status 0 (by itself, or on
# SIGTERM where it rightly stays open), and the state stays readable and
# consistent. And several processes appending to one activity log at once, each
# opening and closing the file for every line, as the launcher does.
import collections

from harness import *  # tests/e2e, on PYTHONPATH

# Failures the service gives for the races and commands of this test. Anything
# else (a state it could not read or lock, a crashed worker) is a fault.
FAILURES = tuple(FAILURE + text for text in (DENIED, NOT_INSTALLED, CANCELED,
                                             f'The request for {DEXT} was superseded by a newer request'))


class LauncherLoad(E2eTest):
    # Starts the launchers a little apart, plays `controls` (sysextctl commands, each at
    # a moment in seconds after the start, * standing for the identifier), waits for
    # every run to end, quitting with SIGTERM those that rightly stay open (a failure
    # after an approval leaves no exit timer), then checks every run and the state.
    def wave(self, name, flags, controls):
        since, started, runs, quit = time.time(), time.monotonic(), [], set()

        def at(moment):
            time.sleep(max(0, started + moment - time.monotonic()))
        for i, flag in enumerate(flags):
            at(0.15 * i)
            home = f'{self.root}/{name}-{i}{flag}'
            runs.append((flag, write(home + '/veltrinLogFile.txt', ''), self.launch([flag], self.env(HOME=home))))
        for step in controls.split(';'):
            moment, *args = [DEXT if word == '*' else word for word in step.split()]
            at(float(moment))
            self.control(*args)
        # A request answered at the last moment still ends its run within about 7 s
        # (the pause and the exit timer); the rest is the machine's share.
        deadline = time.monotonic() + 25
        while time.monotonic() < deadline and any(child.ended is None for _, _, child in runs):
            for _, log, child in runs:
                text = read(log)
                if child.ended is None and child not in quit and f':{APPROVAL}\r\n' in text and FAILURE in text:
                    child.signal(SIGTERM)
                    quit.add(child)
            time.sleep(0.05)
        # Each run's log holds its start, its arguments and one final answer, last,
        # with only approvals or replacements of an install between.
        for flag, log, child in runs:
            with self.subTest(wave=name, flag=flag, log=log):
                self.assertIsNotNone(child.wait(0), 'running 25 s after the last control:\n' + read(log))
                self.assertEqual(child.finish(0), 0)
                start, args, *between, answer = self.log_texts(log, since)
                self.assertEqual([start, args], [START[flag], ARGS])
                self.assertTrue(answer in (SUCCESS, AFTER_REBOOT) or answer.startswith(FAILURES), answer)
                self.assertTrue(all(flag == '-install' and (text == APPROVAL or text.startswith(REPLACING))
                                    for text in between), between)
                self.assertEqual(child in quit, APPROVAL in between and answer.startswith(FAILURE))
        # Nothing waits for approval once every request is answered, and the file still reads back.
        self.control('list')
        state = read(self.root + '/state/veltrin-sysext/state')
        self.assertNotIn('\npending ', state)
        self.assertTrue(state.endswith('end\n'), state)
        print(f'launcher load, wave {name}: {len(runs)} launchers and {len(controls.split(";"))} sysextctl commands '
              f'on one state, every request answered, in {time.monotonic() - started:.1f} s')

    def testLaunchersAndSysextctlShareOneState(self):
        # Not approved yet: installs wait, supersede and cancel each other until the
        # approval comes; the removal finds a version that only waits.
        self.wave('first', ['-install', '-install', '-uninstall', '-install'],
                  '0.3 list; 0.6 busy * on; 1.0 list; 1.4 policy * allow; 1.6 list; 1.9 busy * off; '
                  '2.2 list; 2.6 list; 3.3 approve *; 3.5 list; 3.8 busy * on; 4.0 list; 4.5 busy * off')


class ActivityLogLoad(E2eTest):
    def testWritersAppendingAtOnceLoseNoLineAndKeepTheirOrder(self):
        writers, each = 4, 25000
        write(self.log, '')
        started = time.monotonic()
        children = [self.start([APPENDER, self.log, f'W{i}', str(each)], self.env(), f'writer-{i}')
                    for i in range(writers)]
        for child in children:
            self.assertEqual(child.finish(120), 0, 'writer')
        seconds = time.monotonic() - started
        # Every line: the appender's fixed stamp, its writer's tag, that writer's next
        # number and the padding, ended by CR LF.
        data, following, damaged = read(self.log), collections.Counter(), []
        for line in data.removesuffix('\n').split('\n'):
            tag = line[20:22]
            if line == f'05/12/2026 07:41:39:{tag}:{following[tag]}:{"x" * 150}\r':
                following[tag] += 1
            else:
                damaged.append(line[:60])
        self.assertEqual(damaged[:5], [], f'{len(damaged)} lines out of place or damaged')
        self.assertEqual([following[f'W{i}'] for i in range(writers)], [each] * writers)
        print(f'activity-log load: {writers} processes x {each} lines; intact in order '
              f'{sum(following.values())}, damaged {len(damaged)}; {len(data)} bytes in {seconds:.2f} s = '
              f'{writers * each / seconds:.0f} lines/s')


if __name__ == '__main__':
    main()
