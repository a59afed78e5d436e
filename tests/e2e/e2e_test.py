# The real launcher against the stand-in service: its command-line modes, also in
# a hostile environment, as a script sees them; its window under a private X
# server, driven by key presses (XTEST, xdotool), never by mouse positions that a
# change of the layout would break; and the launcher in a careless caller's hands.
import fcntl
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
        asks, silent = [LAUNCHER, '-installInteractive'], self.silent_bus()
        for argv, env, bus, admitted in [
                (asks, {}, self.bus, False), (asks, at(self.bus.address), self.bus, True),
                # A bus that never answers, only the one this case made and still listens on.
                (asks, at(silent), self.silent, True), (asks, at(silent), self.bus, False),
                (asks, at('unix:path=/run/dbus/system_bus_socket'), self.bus, False),
                (asks, at(self.bus.address), None, False),
                # A flag that loses to -install still counts: no second-guessing of the launcher's choice.
                ([LAUNCHER, '-install', '-installInteractive'], at('unix:path=/nowhere'), self.bus, False),
                ([LAUNCHER, '-install'], {}, None, True)]:
            with self.subTest(argv=argv, env=env, bus=bus):
                self.assertEqual(guard(argv, env, bus) == '', admitted)
        self.assertRaises(AssertionError, self.launch, ['-installInteractive'], at('unix:path=/nowhere'))
        self.silent.close()
        self.assertNotEqual(guard(asks, at(silent), self.silent), '')


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


class ControlTool(E2eTest):
    # sysextctl in a careless caller's hands: an output that takes nothing fails
    # the run with one line on standard error, and a lock someone else holds is
    # named while the tool waits for it (a signal still ends the wait).
    def testFailsWhenItsOutputGoesNowhereAndSaysWhoHoldsTheLock(self):
        for name, output, why in [('full', (os.POSIX_SPAWN_OPEN, 1, '/dev/full', os.O_WRONLY, 0), 'No space left on device'),
                                  ('closed', (os.POSIX_SPAWN_CLOSE, 1), 'Bad file descriptor')]:
            with self.subTest(output=name):
                err = (os.POSIX_SPAWN_OPEN, 2, f'{self.root}/{name}.stderr', os.O_WRONLY | os.O_CREAT, 0o600)
                self.assertEqual(self.start([SYSEXTCTL, 'help'], self.env(), name, [output, err]).finish(10), 1)
                self.assertEqual(read(f'{self.root}/{name}.stderr'),
                                 f'sysextctl: the output could not be written: {why}\n')
        hold_state_lock(self)
        waiting = self.start([SYSEXTCTL, 'list'], self.env(), 'waiting')
        end = time.monotonic() + 10
        while 'Waiting' not in read(self.root + '/waiting.stderr') and time.monotonic() < end:
            time.sleep(0.1)
        self.assertIn(f'veltrin-sysext": process {os.getpid()} (', read(self.root + '/waiting.stderr'))
        waiting.signal(SIGTERM)
        self.assertEqual(waiting.finish(5), -SIGTERM)


def hold_state_lock(case):  # as a sysextctl stopped in the middle of a change would
    os.makedirs(case.root + '/state/veltrin-sysext', 0o700)
    lock = os.open(case.root + '/state/veltrin-sysext/state.lock', os.O_RDWR | os.O_CREAT, 0o600)
    case.addCleanup(os.close, lock)
    fcntl.flock(lock, fcntl.LOCK_EX)


def deny_on_a_silent_bus(case):
    case.control('policy', DEXT, 'deny')
    return {'DBUS_SYSTEM_BUS_ADDRESS': case.silent_bus()}


def home_not_utf8(case):
    case.log = write(case.home + '\udcff/veltrinLogFile.txt', '')
    return {'HOME': case.home + '\udcff'}


def log_near_a_size_limit(case):
    write(case.log, 'x' * 4096)


# One row per environment that once kept the launcher from doing its work or from
# quitting; each runs against both builds. Until the first sign named in `until`
# (a line on standard output or error, a text in the log), then: a run with `ends`
# ends by itself with status 0; any other survives each of `signals` and then ends
# at once on SIGTERM, with status 0. Standard output is `out` (default: the release
# line and the report), the log holds `log` (texts, or the exact bytes), standard
# error holds `err`.
HOSTILE = {
    # At the release check another process holds the stand-in's lock.
    'LockHeldElsewhere': dict(flags=['-install'], prepare=hold_state_lock, until='err:Waiting for', out='',
                              log=[], err=f'state/veltrin-sysext": process {os.getpid()} ('),
    # The restart request meets a system bus that never answers.
    'SilentSystemBus': dict(flags=['-installInteractive'], prepare=deny_on_a_silent_bus,
                            until='log:' + FAILURE + DENIED,
                            log=['Start:installing driver interactive\n', ARGS, FAILURE + DENIED]),
    'Nohup': dict(prefix=['nohup'], signals=[SIGHUP], log=[ARGS]),
    # A write past the limit fails (no SIGXFSZ), and the line it began is taken back.
    'FileSizeLimit': dict(flags=['-uninstall'], prefix=['prlimit', '--fsize=4126', '--'],
                          prepare=log_near_a_size_limit, ends=True, log='x' * 4096),
    'BytesThatAreNotUtf8': dict(flags=['\udcff\udcfe'], prepare=home_not_utf8, log=[ARGS],
                                out=RELEASE + f'["{LAUNCHER}", "\\x{{FF}}\\x{{FE}}"]\n'),
    'TimeZoneFourteenHoursEast': dict(env={'TZ': 'XYZ-14'}, log=[ARGS], utc_offset=14 * 3600),
    # Words that AppKit would take for documents to open.
    'BareArguments': dict(flags=['plain text', 'install', '-uninstall'], ends=True,
                          log=[START['-uninstall'], ARGS, FAILURE + NOT_INSTALLED]),
    'NamedPlatformWithoutAScreen': dict(env={'QT_QPA_PLATFORM': 'linuxfb'}, flags=['-uninstall'], ends=True,
                                        log=[START['-uninstall'], ARGS, FAILURE + NOT_INSTALLED], qt_only=True),
}


class Hostile(E2eTest):
    def endure(self, flags=(), env=None, prefix=(), prepare=None, until='out:[', ends=False, signals=(),
               out=None, log=(), err='', utc_offset=None, qt_only=False):
        if qt_only and GNUSTEP:
            self.skipTest('a Qt platform plugin')
        changes = {**(env or {}), **((prepare and prepare(self)) or {})}
        if not os.path.exists(self.log):
            write(self.log, '')
        since = time.time()
        child = self.start([*prefix, LAUNCHER, *flags], self.env(**changes), 'launcher')
        where, text = until.split(':', 1)
        seen = {'out': lambda: child.line(text, 0.1), 'log': lambda: f':{text}\r\n' in read(self.log),
                'err': lambda: text in read(self.root + '/launcher.stderr')}[where]
        deadline = time.monotonic() + 15
        while not seen() and time.monotonic() < deadline and child.wait(0.1) is None:
            pass
        self.assertTrue(seen(), f'no {until}: ' + read(self.root + '/launcher.stderr'))
        for sig in signals:
            child.signal(sig)
            self.assertIsNone(child.wait(1.5), f'{sig.name} ended it')
        if not ends:
            self.assertIsNone(child.wait(0.5), 'ended by itself')
            child.signal(SIGTERM)
            quit_at = time.monotonic()
            self.assertEqual(child.finish(10), 0)
            self.assertLess(child.ended - quit_at, 2.0)
        self.assertEqual(child.finish(15), 0)
        self.assertEqual(child.output(), RELEASE + report(flags) if out is None else out)
        self.assertIn(err, read(self.root + '/launcher.stderr'))
        if isinstance(log, str):
            self.assertEqual(read(self.log), log)
        else:
            self.assertEqual(self.log_texts(self.log, since, utc_offset), log)


for name, row in HOSTILE.items():
    setattr(Hostile, 'test' + name, lambda self, row=row: self.endure(**row))


if __name__ == '__main__':
    main()
