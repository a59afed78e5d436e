import collections

from harness import *  # tests/e2e, on PYTHONPATH

# The answers the races below may get, with their runs' status; any other is a fault.
ANSWERS = {SUCCESS: 0, AFTER_REBOOT: 3, FAILURE + DENIED: 1, FAILURE + NOT_INSTALLED: 1, FAILURE + CANCELED: 1,
           FAILURE + f'The request for {DEXT} was superseded by a newer request': 1}


class LauncherLoad(E2eTest):
    # Installs wait, supersede and cancel each other until the approval comes; each
    # run ends with one final answer and its status, and the state stays whole.
    def testLaunchersAndSysextctlShareOneState(self):
        since, started, runs = time.time(), time.monotonic(), []
        for step in ('0 -install; 0.15 -install; 0.3 -uninstall; 0.3 list; 0.45 -install; 0.6 busy * on; 1.0 list; '
                     '1.4 policy * allow; 1.6 list; 1.9 busy * off; 2.2 list; 2.6 list; 3.3 approve *; 3.5 list; '
                     '3.8 busy * on; 4.0 list; 4.5 busy * off').split('; '):
            moment, *args = [DEXT if word == '*' else word for word in step.split()]
            time.sleep(max(0, started + float(moment) - time.monotonic()))
            if args[0].startswith('-'):
                log = write(f'{self.root}/{len(runs)}/veltrinLogFile.txt', '')
                runs.append((args[0], log, self.launch([*args, '-wait', '30'], self.env(HOME=os.path.dirname(log)))))
            else:
                self.control(*args)
        for flag, log, child in runs:
            with self.subTest(flag=flag, log=log):
                status = child.finish(40)
                start, args, *between, answer = self.log_texts(log, since)
                self.assertEqual([start, args], [START[flag], ARGS])
                self.assertEqual(status, next((ANSWERS[a] for a in ANSWERS if answer.startswith(a)), None), answer)
                self.assertTrue(all(flag == '-install' and (text == APPROVAL or text.startswith(REPLACING))
                                    for text in between), between)
        self.control('list')
        state = read(self.root + '/state/veltrin-sysext/state')
        self.assertNotIn('\npending ', state)
        self.assertTrue(state.endswith('end\n'), state)


class ActivityLogLoad(E2eTest):
    # Each writer opens the log for every line, as the launcher; a line: the appender's stamp,
    # its writer's tag, that writer's next number, padding.
    def testWritersAppendingAtOnceLoseNoLineAndKeepTheirOrder(self):
        writers, each, following, damaged = 4, 25000, collections.Counter(), []
        write(self.log, '')
        for child in [self.start([APPENDER, self.log, f'W{i}', str(each)], self.env(), f'writer-{i}')
                      for i in range(writers)]:
            self.assertEqual(child.finish(120), 0, 'writer')
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
