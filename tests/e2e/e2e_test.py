# The real launcher against the stand-in service: its command-line modes, also in
# a hostile environment, as a script sees them; its window under a private X
# server, driven by key presses (XTEST, xdotool), never by mouse positions that a
# change of the layout would break; and the launcher in a careless caller's hands.
from harness import *


class CommandLine(E2eTest):
    # Runs the launcher with `flag`: it ends by itself with status 0 about 6 s (the
    # pause and the exit timer; generous bounds, the machine is shared) after its
    # start, or after the moment `during` returns; the release line comes at once, the
    # argument report after the 1 s pause, both while it still runs; the log holds `log`.
    def ends_by_itself(self, flag, log, env=None, during=None):
        write(self.log, '')
        since = time.time()
        child = self.launch([flag], env)
        counted = during() if during else None
        self.assertEqual(child.finish(15), 0)
        after, what = child.ended - (counted or child.started), 'the completion' if counted else 'the start'
        print(f'[ timing   ] exit {after:.3f} s after {what}')  # so that a drift shows long before it fails
        self.assertTrue(5.5 <= after <= 8.0, f'exit {after:.3f} s after {what}')
        self.assertEqual(child.output(), RELEASE + report([flag]))
        release, args, end = (at - child.started for at in [child.lines[0][1], child.lines[1][1], child.ended])
        self.assertTrue(release < 1.5 and args - release >= 0.9 and args < 3.5 and args < end - 2,
                        f'release line at {release:.2f} s, report at {args:.2f} s, exit at {end:.2f} s')
        self.assertEqual(self.log_texts(self.log, since), [START[flag], ARGS, *log])

    def testInstallWaitsForApprovalAndEndsAbout6sAfterCompletion(self):
        def approve():
            self.assertTrue(self.wait_log(APPROVAL), read(self.log))
            time.sleep(1.5)  # the user takes a while; the launch timer must not end the run meanwhile
            self.control('approve', DEXT)
            self.assertTrue(completed := self.wait_log(SUCCESS), read(self.log))
            return completed
        self.ends_by_itself('-install', [APPROVAL, SUCCESS], during=approve)

    def testInstallOverAnOlderVersionInUseReplacesItAtTheRestart(self):
        # The state of an earlier install of 0.9.1 (7), approved, then in use: the service
        # asks to replace it and completes after a restart.
        write(self.root + '/state/veltrin-sysext/state', 'veltrin-sysext-state 1\nrelease 14.0.0\ndeveloper off\n'
              f'extension {DEXT} 0.9.1 7 activated enabled\napproved {DEXT}\nbusy {DEXT}\nend\n')
        self.ends_by_itself('-install', [f'{REPLACING}0.9.1 with version {VERSION}', AFTER_REBOOT])

    def testUninstallOfNothingFailsWithoutDisplayOrSystemBus(self):
        # The backend chooses offscreen by itself, and needs no bus unless it asks for a restart.
        env = self.env(QT_QPA_PLATFORM=None, DBUS_SYSTEM_BUS_ADDRESS=f'unix:path={self.root}/no-bus')
        self.ends_by_itself('-uninstall', [FAILURE + NOT_INSTALLED], env)

    def testInteractiveInstallDeniedStaysOpenAfterAskingForRestart(self):
        self.control('policy', DEXT, 'deny')
        write(self.log, '')
        since, _ = time.time(), self.bus.calls()
        child = self.launch(['-installInteractive'])
        self.assertTrue(self.wait_log(FAILURE + DENIED), read(self.log))
        # Open past both exit timers (launch at ~6 s, failure at ~7 s); a quit then ends it at once.
        self.assertIsNone(child.wait(max(0, child.started + 8.5 - time.monotonic())), 'ended')
        child.signal(SIGTERM)
        quit_at = time.monotonic()
        self.assertEqual(child.finish(10), 0)
        self.assertLess(child.ended - quit_at, 2.0)
        self.assertEqual(child.output(), RELEASE + report(['-installInteractive']))
        self.assertEqual(self.log_texts(self.log, since),
                         ['Start:installing driver interactive\n', ARGS, FAILURE + DENIED])
        self.assertEqual(self.bus.calls(), ['Reboot interactive=true authorization=allowed'])

    def testRestartGuardAdmitsOnlyThePrivateBusWithTheRecorder(self):
        # If this guard lets a wrong bus through, a test could restart the machine it runs on.
        def at(address):
            return {'DBUS_SYSTEM_BUS_ADDRESS': address}
        asks = [LAUNCHER, '-installInteractive']
        for argv, env, bus, admitted in [
                (asks, {}, self.bus, False), (asks, at(self.bus.address), self.bus, True),
                (asks, at('unix:path=/run/dbus/system_bus_socket'), self.bus, False),
                (asks, at(self.bus.address), None, False),
                # A flag that loses to -install still counts: no second-guessing of the launcher's choice.
                ([LAUNCHER, '-install', '-installInteractive'], at('unix:path=/nowhere'), self.bus, False),
                ([LAUNCHER, '-install'], {}, None, True)]:
            with self.subTest(argv=argv, env=env, bus=bus):
                self.assertEqual(guard(argv, env, bus) == '', admitted)
        self.assertRaises(AssertionError, self.launch, ['-installInteractive'], at('unix:path=/nowhere'))


class Window(E2eTest):
    def xdotool(self, *args):  # Debian package xdotool
        child = self.start(['xdotool', *args], {**TOOLS, 'DISPLAY': self.display()}, 'xdotool')
        self.assertEqual(child.finish(15), 0, 'xdotool failed')
        return child.output()

    def testLoadAndDisableSubmitAndReturnQuitsWhileAnotherButtonHasTheFocus(self):
        write(self.log, '')
        since = time.time()
        child = self.launch([], self.env(QT_QPA_PLATFORM=None, DISPLAY=self.display()))
        # The launch sequence is done, the window shown and given the keyboard.
        self.assertTrue(child.line(report([]), 10), child.output())
        # By title: GNUstep sets no _NET_WM_PID, and the display is this case's own.
        window = self.xdotool('search', '--sync', '--onlyvisible', '--name', '^Veltrin Driverkit Launcher$')
        self.xdotool('windowfocus', '--sync', window.split('\n')[0])
        self.xdotool('key', 'space')  # Load holds the focus
        self.assertTrue(self.wait_log(APPROVAL), 'Load submitted no activation\n' + read(self.log))
        self.xdotool('key', 'Tab', 'space')
        self.assertTrue(self.wait_log(SUCCESS), 'Disable submitted no deactivation\n' + read(self.log))
        self.assertIsNone(child.wait(1), 'interactive use has no exit timer')
        self.xdotool('key', 'Return')  # Disable holds the focus: Return must still mean Quit
        pressed = time.monotonic()
        self.assertEqual(child.finish(10), 0)
        self.assertLess(child.ended - pressed, 2.0)
        # The deactivation removes the extension whose activation waits for approval,
        # so that one fails too; the two answers come from two workers, in either
        # order. Nothing more: Return submitted nothing.
        texts = self.log_texts(self.log, since)
        self.assertEqual(texts[:2] + sorted(texts[2:]), [ARGS, APPROVAL, FAILURE + CANCELED, SUCCESS])


class Robustness(E2eTest):
    def testAQuitSignalEndsALauncherBlockedOnAPipeNobodyReads(self):
        # GNUstep's application does not terminate on a SIGHUP that the handler passed on.
        for sig in (SIGTERM, SIGINT) if GNUSTEP else (SIGTERM, SIGINT, SIGHUP):
            with self.subTest(signal=sig.name):
                unread, out = os.pipe()
                child = self.start([LAUNCHER] + ['argument'] * 20000, self.env(), sig.name,
                                   [(os.POSIX_SPAWN_DUP2, out, 1)])
                time.sleep(2)  # long enough to fill the pipe and block
                child.signal(sig)
                self.assertEqual(child.finish(5), 0)
                os.close(unread)
                os.close(out)

    def testClosedStandardDescriptorsAreNullNotTheToolkitsFiles(self):
        child = self.start([LAUNCHER], self.env(), 'closed', [(os.POSIX_SPAWN_CLOSE, fd) for fd in (0, 1, 2)])
        time.sleep(2)
        for fd in (0, 1, 2):
            self.assertEqual(os.readlink(f'/proc/{child.pid}/fd/{fd}'), '/dev/null', fd)
        child.signal(SIGTERM)
        self.assertEqual(child.finish(10), 0)

    # With a report of about 250 kB, more than the pipe holds: it comes late, whole and unaltered.
    def testAPlainRunWithoutARuntimeDirectoryIsQuietOnStandardError(self):
        arguments = ['%s %n %d %@ ü'] * 20000
        child = self.start([LAUNCHER, *arguments], self.env(XDG_RUNTIME_DIR=None), 'plain')
        self.assertTrue(child.line('[', 10))
        child.signal(SIGTERM)
        self.assertEqual(child.finish(10), 0)
        self.assertEqual(child.output(), RELEASE + report(arguments))
        self.assertEqual(read(self.root + '/plain.stderr'), '')


if __name__ == '__main__':
    main()
