# The real launcher against the stand-in service: its command-line modes, also in hostile environments; its
# window on a private X server, driven by key presses (xdotool), not mouse positions; careless callers.
import array, fcntl, select, termios
from harness import *


def approve_after_a_while(case):  # the user takes a while: the launch timer must not end the run meanwhile
    time.sleep(1.5)
    case.control('approve', DEXT)
    case.assertTrue(completed := case.wait_log(SUCCESS), read(case.log))
    return completed


def hold_state_lock(case):  # as a sysextctl stopped in the middle of a change would
    os.makedirs(case.root + '/state/veltrin-sysext', 0o700)
    lock = os.open(case.root + '/state/veltrin-sysext/state.lock', os.O_RDWR | os.O_CREAT, 0o600)
    case.addCleanup(os.close, lock)
    fcntl.flock(lock, fcntl.LOCK_EX)


def home_not_utf8(case):
    case.log = write(case.home + '\udcff/veltrinLogFile.txt', '')
    return {'HOME': case.home + '\udcff'}


# One row per run, on both builds: `control` (sysextctl) and `prepare` (may change the environment)
# first; the run goes until `sign` (out:, err: or log: text). One that `ends` ends with 0 about 6 s
# (pause and exit timer) after `then` (default: its start), the release line at once, the report
# 1 s later; any other survives `signals`, stays open `open_for` s, then quits at once on SIGTERM.
# Standard output `out` (default: release line and report), the log's texts (or bytes) `log`,
# standard error holding `err` (None: empty), the restart requests `restart`.
def endure(self, flags=(), env=None, prefix=(), prepare=None, control=(), sign='out:[', then=None, ends=False,
           signals=(), open_for=0, out=None, log=(), err='', restart=(), utc_offset=None, qt_only=False):
    if qt_only and GNUSTEP:
        self.skipTest('a Qt platform plugin')
    if control:
        self.control(*control)
    changes = {**(env or {}), **((prepare and prepare(self)) or {})}
    since, _ = time.time(), self.bus.calls()
    child = self.start([*prefix, LAUNCHER, *flags], self.env(**changes), 'launcher')
    where, text = sign.split(':', 1)
    seen = {'out': lambda: child.line(text, 0), 'log': lambda: f':{text}\r\n' in read(self.log),
            'err': lambda: text in read(self.root + '/launcher.stderr')}[where]
    until(lambda: seen() or child.ended, 15)
    self.assertTrue(seen(), f'no {sign}: ' + read(self.root + '/launcher.stderr'))
    counted = then(self) if then else child.started
    for sig in signals:
        child.signal(sig)
        self.assertIsNone(child.wait(1.5), f'{sig.name} ended it')
    if ends:
        self.assertEqual(child.finish(15), 0)
        release, args, end = (at - child.started for at in [child.lines[0][1], child.lines[1][1], child.ended])
        self.assertTrue(5.5 <= child.ended - counted <= 8.0 and release < 1.5 and 0.9 <= args - release and
                        args < min(3.5, end - 2), f'release line {release:.2f} s, report {args:.2f} s, exit {end:.2f} '
                        f's, {child.ended - counted:.2f} s after the {"completion" if then else "start"}')
    else:
        self.assertIsNone(child.wait(max(0.5, child.started + open_for - time.monotonic())), 'ended by itself')
        child.signal(SIGTERM)
        quit_at = time.monotonic()
        self.assertEqual(child.finish(10), 0)
        self.assertLess(child.ended - quit_at, 2.0)
    self.assertEqual(child.output(), RELEASE + report(flags) if out is None else out)
    stderr = read(self.root + '/launcher.stderr')
    self.assertTrue(stderr == '' if err is None else err in stderr, stderr)
    self.assertEqual(read(self.log) if isinstance(log, str) else self.log_texts(self.log, since, utc_offset), log)
    self.assertEqual(self.bus.calls(), list(restart))


INSTALL, UNINSTALL, INTERACTIVE = (START[flag] for flag in ('-install', '-uninstall', '-installInteractive'))
COMMAND_LINE = {
    'InstallWaitsForApprovalAndEndsAbout6sAfterCompletion': dict(
        flags=['-install'], sign='log:' + APPROVAL, then=approve_after_a_while, ends=True,
        log=[INSTALL, ARGS, APPROVAL, SUCCESS]),
    'InstallOverAnOlderVersionInUseReplacesItAtTheRestart': dict(
        flags=['-install'], ends=True, prepare=lambda case: write_state(case.root, OLDER_IN_USE) and {},
        log=[INSTALL, ARGS, f'{REPLACING}0.9.1 with version {VERSION}', AFTER_REBOOT]),
    # Offscreen by itself, no bus unless a restart is asked for, no document for words AppKit would open.
    'UninstallOfNothingFailsWithoutDisplayOrSystemBusAndWithBareWords': dict(
        flags=['plain text', 'install', '-uninstall'], ends=True, log=[UNINSTALL, ARGS, FAILURE + NOT_INSTALLED],
        env={'QT_QPA_PLATFORM': None, 'DBUS_SYSTEM_BUS_ADDRESS': 'unix:path=/nowhere'}),
    # Open past both exit timers (launch at ~6 s, failure at ~7 s).
    'InteractiveInstallDeniedStaysOpenAfterAskingForRestart': dict(
        flags=['-installInteractive'], control=['policy', DEXT, 'deny'], sign='log:' + FAILURE + DENIED,
        open_for=8.5, log=[INTERACTIVE, ARGS, FAILURE + DENIED], restart=['Reboot interactive=true authorization=allowed']),
}
# Environments that once kept the launcher from doing its work or from quitting.
HOSTILE = {
    'LockHeldElsewhere': dict(flags=['-install'], prepare=hold_state_lock, sign='err:Waiting for', out='',
                              log=[], err=f'state/veltrin-sysext": process {os.getpid()} ('),
    'SilentSystemBus': dict(flags=['-installInteractive'], control=['policy', DEXT, 'deny'],
                            prepare=lambda case: {'DBUS_SYSTEM_BUS_ADDRESS': case.silent_bus()},
                            sign='log:' + FAILURE + DENIED, log=[INTERACTIVE, ARGS, FAILURE + DENIED]),
    'Nohup': dict(prefix=['nohup'], signals=[SIGHUP], log=[ARGS]),
    # A write past the limit fails (no SIGXFSZ), and the line it began is taken back.
    'FileSizeLimit': dict(flags=['-uninstall'], prefix=['prlimit', '--fsize=4126', '--'], ends=True,
                          prepare=lambda case: write(case.log, 'x' * 4096) and {}, log='x' * 4096),
    'BytesThatAreNotUtf8': dict(flags=['\udcff\udcfe'], prepare=home_not_utf8, log=[ARGS],
                                out=RELEASE + f'["{LAUNCHER}", "\\x{{FF}}\\x{{FE}}"]\n'),
    'TimeZoneFourteenHoursEast': dict(env={'TZ': 'XYZ-14'}, log=[ARGS], utc_offset=14 * 3600),
    'NamedPlatformWithoutAScreen': dict(env={'QT_QPA_PLATFORM': 'linuxfb'}, flags=['-uninstall'], ends=True,
                                        log=[UNINSTALL, ARGS, FAILURE + NOT_INSTALLED], qt_only=True),
    # About 250 kB to a non-blocking pipe: late, but whole and unaltered; Qt finds a runtime directory of its own.
    'LongReportWithoutRuntimeDirectory': dict(flags=['%s %n %d %@ ü'] * 20000, env={'XDG_RUNTIME_DIR': None},
                                              log=[ARGS], err=None, qt_only=True),
}
CommandLine, Hostile = (type(name, (E2eTest,), {'test' + case: lambda self, row=row: endure(self, **row)
                                                 for case, row in table.items()})
                        for name, table in (('CommandLine', COMMAND_LINE), ('Hostile', HOSTILE)))


class Safety(E2eTest):
    def testRestartGuardAdmitsOnlyThePrivateBusWithTheRecorderOrASilentBusOfTheCase(self):
        asks, silent, private = [LAUNCHER, '-installInteractive'], self.silent_bus(), self.bus.address
        # A flag that loses to -install still counts: no second-guessing of the launcher's choice.
        for argv, address, bus, admitted in [
                (asks, None, self.bus, False), (asks, private, self.bus, True), (asks, private, None, False),
                (asks, silent, self.silent, True), (asks, silent, self.bus, False),
                (asks, 'unix:path=/run/dbus/system_bus_socket', self.bus, False),
                ([LAUNCHER, '-install'], None, None, True), ([LAUNCHER, '-install', *asks[1:]], None, None, False)]:
            self.assertEqual(guard(argv, {'DBUS_SYSTEM_BUS_ADDRESS': address}, bus) == '', admitted, (argv, address))
        self.assertRaises(AssertionError, self.launch, asks[1:], self.env(DBUS_SYSTEM_BUS_ADDRESS='unix:path=/nowhere'))
        self.silent.close()
        self.assertNotEqual(guard(asks, {'DBUS_SYSTEM_BUS_ADDRESS': silent}, self.silent), '')


class Window(E2eTest):
    def xdotool(self, *args):  # Debian package xdotool
        child = self.start(['xdotool', *args], {**TOOLS, 'DISPLAY': self.display()}, 'xdotool')
        self.assertEqual(child.finish(15), 0, 'xdotool failed')
        return child.output()

    def testLoadAndDisableSubmitAndReturnQuitsWhileAnotherButtonHasTheFocus(self):
        since = time.time()
        child = self.launch([], self.env(QT_QPA_PLATFORM=None, DISPLAY=self.display()))
        self.assertTrue(child.line(report([]), 10), child.output())  # the window is shown
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
        # Disable removes the extension whose activation awaits approval, so that fails too, in either order.
        texts = self.log_texts(self.log, since)
        self.assertEqual(texts[:2] + sorted(texts[2:]), [ARGS, APPROVAL, FAILURE + CANCELED, SUCCESS])


class Robustness(E2eTest):
    def testAQuitSignalEndsALauncherBlockedOnAPipeNobodyReads(self):
        # GNUstep's application does not terminate on a SIGHUP that the handler passed on.
        for sig in (SIGTERM, SIGINT) if GNUSTEP else (SIGTERM, SIGINT, SIGHUP):
            with self.subTest(signal=sig.name):
                unread, out = os.pipe()
                self.addCleanup(os.close, unread)
                self.addCleanup(os.close, out)
                child = self.start([LAUNCHER] + ['argument'] * 20000, self.env(), sig.name,
                                   [(os.POSIX_SPAWN_DUP2, out, 1)])
                room, held = fcntl.fcntl(unread, fcntl.F_GETPIPE_SZ), array.array('i', [0])

                def blocked():  # the pipe as full as a write can make it, and the launcher there, asleep
                    fcntl.ioctl(unread, termios.FIONREAD, held)
                    return held[0] > room - select.PIPE_BUF and read(f'/proc/{child.pid}/stat').rpartition(')')[2][:3] == ' S '
                self.assertTrue(until(blocked, 15), f'not blocked: {held[0]} of {room} bytes in the pipe')
                child.signal(sig)
                self.assertEqual(child.finish(5), 0)

    # A caller that stops reading cannot end an install part way: the write fails, the run goes on.
    def testAReaderThatGoesAwayCannotEndTheRun(self):
        unread, out = os.pipe()
        os.close(unread)
        self.addCleanup(os.close, out)
        since = time.time()
        child = self.start([LAUNCHER, '-uninstall'], self.env(), 'reader-gone', [(os.POSIX_SPAWN_DUP2, out, 1)])
        self.assertEqual(child.finish(15), 0)
        self.assertEqual(self.log_texts(self.log, since), [UNINSTALL, ARGS, FAILURE + NOT_INSTALLED])

    def testClosedStandardDescriptorsAreNullNotTheToolkitsFiles(self):
        child = self.start([LAUNCHER], self.env(), 'closed', [(os.POSIX_SPAWN_CLOSE, fd) for fd in (0, 1, 2)])
        time.sleep(2)
        self.assertEqual([os.readlink(f'/proc/{child.pid}/fd/{fd}') for fd in (0, 1, 2)], ['/dev/null'] * 3)
        child.signal(SIGTERM)
        self.assertEqual(child.finish(10), 0)

    # An output that takes nothing fails sysextctl with one line; a lock held elsewhere is named; a signal ends it.
    def testControlToolFailsWhenItsOutputGoesNowhereAndSaysWhoHoldsTheLock(self):
        for output, why in [((os.POSIX_SPAWN_OPEN, 1, '/dev/full', os.O_WRONLY, 0), 'No space left on device'),
                            ((os.POSIX_SPAWN_CLOSE, 1), 'Bad file descriptor')]:
            self.assertEqual(self.start([SYSEXTCTL, 'help'], self.env(), why, [output]).finish(10), 1)
            self.assertEqual(read(f'{self.root}/{why}.stderr'), f'sysextctl: the output could not be written: {why}\n')
        hold_state_lock(self)
        waiting = self.start([SYSEXTCTL, 'list'], self.env(), 'waiting')
        until(lambda: 'Waiting' in read(self.root + '/waiting.stderr'), 10)
        self.assertIn(f'veltrin-sysext": process {os.getpid()} (', read(self.root + '/waiting.stderr'))
        waiting.signal(SIGTERM)
        self.assertEqual(waiting.finish(5), -SIGTERM)


if __name__ == '__main__':
    main()
