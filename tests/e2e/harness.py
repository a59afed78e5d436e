# What every end-to-end and load case shares: a child seen from outside, a private system bus that records
# restart requests, a scratch home and state. VELTRIN_E2E_APP: the GNUstep build; VELTRIN_E2E_KEEP=1 keeps all.
import ast, calendar, contextlib, os, re, shutil, signal, socket, sys, tempfile, threading, time, types, unittest
from signal import SIGHUP, SIGINT, SIGKILL, SIGTERM  # noqa: F401 (for the cases)

E = os.environ
GNUSTEP = bool(E.get('VELTRIN_E2E_APP'))
LAUNCHER = E.get('VELTRIN_E2E_APP') or E.get('VELTRIN_E2E_LAUNCHER', '')
SYSEXTCTL, APPENDER = E.get('VELTRIN_E2E_SYSEXTCTL', ''), E.get('VELTRIN_E2E_APPENDER', '')
DEXT, VERSION = E.get('VELTRIN_E2E_DEXT_IDENTIFIER', ''), E.get('VELTRIN_E2E_DEXT_VERSION', '')

RELEASE = 'Running on Ventura or greater\n'
SUCCESS = 'Success:System extension operation successful. Please restart your computer.'
AFTER_REBOOT = 'Success:System extension operation will complete after reboot. Please restart your computer.'
APPROVAL = f'Info:System Extension {DEXT} requires user approval'
REPLACING = f'Info:Replacing extension {DEXT} version '
FAILURE = 'Error:System extension request failed: '
DENIED = f'System policy forbids the extension {DEXT}. Allow it with "sysextctl policy {DEXT} allow" and try again.'
NOT_INSTALLED = (f'The extension {DEXT} is not installed, so there is nothing to deactivate '
                 '("sysextctl list" shows what is installed).')
CANCELED = (f'The request for {DEXT} was canceled while it waited for approval: the extension was '
            'removed or the service was reset.')
ARGS = 'Info:Command arguments='
# The stand-in's state: a supported release, and an earlier install of 0.9.1 (7), approved, in use.
STATE_HEADER = 'veltrin-sysext-state 1\nrelease 14.0.0\ndeveloper off\n'
OLDER_IN_USE = f'extension {DEXT} 0.9.1 7 activated enabled\napproved {DEXT}\nbusy {DEXT}\n'

# Whatever could lead a child to the user's display, session, files or real system bus.
DROPPED = re.compile('DISPLAY|WAYLAND_DISPLAY|DBUS_.*|HOME|XAUTHORITY|SESSION_MANAGER|DESKTOP_SESSION|'
                     'XDG_.*|QT_.*|TMPDIR|VELTRIN_E2E_.*')
XDG = {'XDG_STATE_HOME': 'state', 'XDG_CONFIG_HOME': 'config', 'XDG_CACHE_HOME': 'cache',
       'XDG_DATA_HOME': 'data', 'XDG_RUNTIME_DIR': 'runtime', 'TMPDIR': 'tmp'}
TOOLS = {'PATH': E.get('PATH', '/usr/bin:/bin')}
LOG_LINE = re.compile(r'(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d):(.*?)\r\n', re.S)


def read(path):  # '' when it cannot be read
    with contextlib.suppress(OSError), open(path, 'rb') as f:
        return f.read().decode(errors='replace')
    return ''


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'w', newline='') as f:
        f.write(text)
    return path


def write_state(root, records):  # the stand-in's state in the scratch directory `root`
    return write(root + '/state/veltrin-sysext/state', STATE_HEADER + records + 'end\n')


def report(flags):  # the argument report line of the launcher run with `flags`
    return '[' + ', '.join(f'"{a}"' for a in [LAUNCHER, *flags]) + ']\n'


# flag -> (action, start text), from the table of modes the launcher reads.
MODES = {flag: (action, ast.literal_eval(f'"{start}"')) for flag, action, start in re.findall(
    r'^VELTRIN_LAUNCH_MODE\("(.*?)",\s*(\w+),\s*"((?:\\.|[^"\\])*)"', read(
        os.path.dirname(os.path.abspath(__file__)) + '/../../veltrin_Driverkit_Launcher/LaunchModes.def'), re.M)}
START = {flag: start for flag, (action, start) in MODES.items() if start}


def until(check, timeout):  # the first true answer of `check` within `timeout` seconds, else its last
    end = time.monotonic() + timeout
    while not (answer := check()) and time.monotonic() < end:
        time.sleep(0.02)
    return answer


# argv with exactly `env` in a process group of its own, default signal handling, stdin /dev/null, stdout
# a non-blocking pipe read as each line arrives, stderr to `err`, then `actions`. Every wait is bounded.
class Child:
    def __init__(self, argv, env, err=os.devnull, actions=()):
        self.lines, self.code, self.ended, self.closed = [], None, None, False
        out, w = os.pipe()
        os.set_blocking(w, False)  # as some parents hand it out: a full pipe then refuses, not waits
        self.started = time.monotonic()
        self.pid = os.posix_spawnp(argv[0], argv, env, setpgroup=0, setsigmask=(), file_actions=[
            (os.POSIX_SPAWN_OPEN, 0, os.devnull, os.O_RDONLY, 0), (os.POSIX_SPAWN_DUP2, w, 1),
            (os.POSIX_SPAWN_OPEN, 2, err, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), *actions],
            setsigdef=signal.valid_signals() - {SIGKILL, signal.SIGSTOP})
        os.close(w)
        threading.Thread(target=self._read, args=(out,), daemon=True).start()
        threading.Thread(target=self._wait, daemon=True).start()

    def _read(self, fd):
        with open(fd, 'rb') as out:
            for line in out:  # a line as soon as its line feed comes, the last one also without
                self.lines.append([line.decode(errors='replace'), time.monotonic()])
        self.closed = True

    def _wait(self):  # WNOWAIT: the pid, and so the group, stays ours until close() reaps it
        info = os.waitid(os.P_PID, self.pid, os.WEXITED | os.WNOWAIT)
        self.code = info.si_status if info.si_code == os.CLD_EXITED else -info.si_status
        self.ended = time.monotonic()

    def line(self, prefix, timeout):  # the first complete line that starts with `prefix`
        return until(lambda: next((l for l in list(self.lines)
                                   if l[0].endswith('\n') and l[0].startswith(prefix)), None), timeout)

    def wait(self, timeout):  # the exit code, or None if it still runs after `timeout`
        if not until(lambda: self.ended, timeout):
            return None
        until(lambda: self.closed, 3)  # the rest of the output belongs to the run
        return self.code

    def finish(self, timeout):  # past `timeout`, the whole group is killed
        if self.wait(timeout) is None:
            self.close(reap=False)
            self.wait(10)
        return self.code

    def signal(self, sig):
        if self.pid is not None:
            os.kill(self.pid, sig)

    def output(self):
        return ''.join(text for text, _ in list(self.lines))

    def close(self, reap=True):
        if self.pid is not None:  # once reaped, the group may be a stranger's
            with contextlib.suppress(OSError):  # also closes any pipe a grandchild still holds
                os.killpg(self.pid, SIGKILL)
            if reap and self.wait(10) is not None:
                os.waitpid(self.pid, 0)
                self.pid = None


# A dbus-daemon where no one holds logind's name, so nothing can restart the machine;
# dbus-monitor (Debian package dbus-bin) records every restart request made on it.
class Bus:
    def __init__(self, root):
        self.record, self.seen = root + '/reboot-calls.pcap', 24  # the header before the first record
        conf = write(root + '/bus.conf', '<busconfig><type>veltrin-e2e-system</type><auth>EXTERNAL</auth>'
                     f'<listen>unix:path={root}/socket</listen><policy context="default"><allow user="*"/>'
                     '<allow own="*"/><allow send_destination="*"/><allow receive_sender="*"/></policy></busconfig>')
        self.daemon = Child(['dbus-daemon', '--config-file=' + conf, '--print-address', '--nofork', '--nopidfile'],
                            TOOLS, root + '/dbus-daemon.stderr')
        self.address = (self.daemon.line('', 10) or [''])[0].strip()
        self.monitor = Child(['dbus-monitor', '--address', self.address, '--pcap',
                              "type='method_call',interface='org.freedesktop.login1.Manager',member='Reboot'"], TOOLS,
                             actions=[(os.POSIX_SPAWN_OPEN, 1, self.record, os.O_WRONLY | os.O_CREAT, 0o600)])
        # A monitor is told the name it was given, once it is one.
        if not (self.address and until(lambda: os.path.getsize(self.record) > self.seen, 10)):
            self.close()
            raise RuntimeError('no private bus with a monitor on it: ' + read(root + '/dbus-daemon.stderr'))

    def close(self):
        for child in (self.monitor, self.daemon):
            child.close()

    def calls(self):  # the Reboot calls made on the bus since the last time
        with open(self.record, 'rb') as f:
            data, calls = f.read(), []
        while len(data) >= self.seen + 16 + (size := int.from_bytes(data[self.seen + 8:self.seen + 12], 'little')):
            message, self.seen = data[self.seen + 16:self.seen + 16 + size], self.seen + 16 + size
            if message[1] == 1:  # a method call, little-endian: flags, then the one boolean at the end
                calls.append(f'Reboot interactive={["false", "true"][message[-4]]} '
                             f'authorization={["not-allowed", "allowed"][message[2] >> 2 & 1]}')
        return calls

    def confirm(self):  # '' while this bus is there and recorded, else why
        return '' if not (self.daemon.ended or self.monitor.ended) else 'the private bus or its monitor is gone'


# Why running argv with env could reach a real restart request, or '': a run that may ask for one (any mention
# of the flag counts, whatever wins) must be on `bus`, the private one or a silent bus of the case, confirmed.
def guard(argv, env, bus):
    if not any(MODES.get(a, [''])[0] == 'activateAndRestart' for a in argv):
        return ''
    if bus is None or env.get('DBUS_SYSTEM_BUS_ADDRESS') != bus.address:
        return 'a run that may restart the machine must be on the private system bus'
    return bus.confirm()


class E2eTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        root = tempfile.mkdtemp(prefix='veltrin-e2e-bus-')
        cls.addClassCleanup(shutil.rmtree, root, True)
        cls.bus, cls.x = Bus(root), None
        cls.addClassCleanup(cls.bus.close)

    @classmethod
    def display(cls):
        if not cls.x:  # Debian package xvfb; -displayfd: it picks a free display and names it
            xvfb = Child(['Xvfb', '-displayfd', '1', '-screen', '0', '1024x768x24', '-nolisten', 'tcp', '-noreset'],
                         TOOLS)
            cls.addClassCleanup(xvfb.close)
            cls.x = ':' + (xvfb.line('', 10) or ['?'])[0].strip()
        return cls.x

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix='veltrin-e2e-')
        self.addCleanup(self.remove_scratch)
        self.home, self.launches, self.silent = self.root + '/home', 0, None
        self.log = self.home + '/veltrinLogFile.txt'
        for sub in ['home', *XDG.values()]:
            os.mkdir(f'{self.root}/{sub}', 0o700)
        write(self.log, '')

    def remove_scratch(self):
        # The gdnc of this case's launchers must not write its defaults after the removal.
        if GNUSTEP:
            mark = f'\0GNUSTEP_CONFIG_FILE={self.root}/GNUstep.conf\0'
            for pid in filter(str.isdigit, os.listdir('/proc')):
                if read(f'/proc/{pid}/comm') == 'gdnc\n' and mark in '\0' + read(f'/proc/{pid}/environ'):
                    with contextlib.suppress(OSError):
                        os.kill(int(pid), SIGKILL)
        result = self._outcome.result
        if E.get('VELTRIN_E2E_KEEP') or any(getattr(test, 'test_case', test) is self
                                            for test, _ in result.failures + result.errors):
            print('scratch directory kept, with every child\'s standard error:', self.root, file=sys.stderr)
        else:
            shutil.rmtree(self.root, True)

    # HOME, TMPDIR, XDG_*, the system bus in the scratch directory, offscreen Qt; then `changes` (None: unset).
    def env(self, **changes):
        env = {k: v for k, v in E.items() if not DROPPED.fullmatch(k)}
        env.update({k: f'{self.root}/{sub}' for k, sub in XDG.items()}, HOME=self.home,
                   QT_QPA_PLATFORM='offscreen', DBUS_SYSTEM_BUS_ADDRESS=self.bus.address)
        # GNUstep takes the home from the password database, not HOME: its defaults and user folders
        # go to the scratch directory, its message ports (so its gdnc) to TEMP; no window frames.
        if GNUSTEP:
            user = self.root + '/gnustep'
            folders = ''.join(f'{key}={user}/{folder}\n' for key, folder in
                              re.findall(r'(?m)^(GNUSTEP_USER_DIR_\w+)=(.*)$', read('/etc/GNUstep/GNUstep.conf')))
            conf = write(self.root + '/GNUstep.conf', f'GNUSTEP_USER_CONFIG_FILE={user}/none.conf\n'
                         f'GNUSTEP_USER_DEFAULTS_DIR={user}/Defaults\n{folders}')
            write(user + '/Defaults/NSGlobalDomain.plist', '{ GSX11HandlesWindowDecorations = NO; }\n')
            env.update(DISPLAY=self.display(), GNUSTEP_CONFIG_FILE=conf, TEMP=self.root)
        env.update(changes)
        return {k: v for k, v in env.items() if v is not None}

    # A system bus of the case's own that accepts no one, as a hung daemon: a greeting waits for good.
    def silent_bus(self):
        server, path = socket.socket(socket.AF_UNIX), self.root + '/silent-bus'
        server.bind(path)
        server.listen(8)
        self.addCleanup(server.close)
        inode = os.stat(path).st_ino
        self.silent = types.SimpleNamespace(address='unix:path=' + path, close=server.close, confirm=lambda: '' if (
            server.fileno() >= 0 and os.path.exists(path) and os.stat(path).st_ino == inode) else 'it is gone')
        return self.silent.address

    # Every child of a case, its stderr in `name`.stderr; one that could restart the machine is refused.
    def start(self, argv, env, name, actions=()):
        silent = self.silent and env.get('DBUS_SYSTEM_BUS_ADDRESS') == self.silent.address
        if why := guard(argv, env, self.silent if silent else self.bus):
            self.fail('refused to run the launcher: ' + why)
        child = Child(argv, env, f'{self.root}/{name}.stderr', actions)
        self.addCleanup(child.close)
        return child

    def launch(self, flags, env=None):
        self.launches += 1
        return self.start([LAUNCHER, *flags], env or self.env(), f'launcher-{self.launches}')

    def control(self, *args):  # sysextctl, which must succeed; its standard output
        child = self.start([SYSEXTCTL, *args], self.env(), 'sysextctl')
        self.assertEqual(child.finish(20), 0, f'sysextctl {args}: ' + read(self.root + '/sysextctl.stderr'))
        return child.output()

    def wait_log(self, text, timeout=10):  # when a line holding `text` is first seen
        return until(lambda: f':{text}\r\n' in read(self.log) and time.monotonic(), timeout)

    # The log's texts, each line ended by CR LF, stamped (local, or `utc_offset` s east of UTC) since `since`.
    def log_texts(self, log, since, utc_offset=None):
        data, texts, at, until = read(log), [], 0, time.time()
        while m := LOG_LINE.match(data, at):
            parsed = time.strptime(m[1], '%d/%m/%Y %H:%M:%S')
            stamp = time.mktime(parsed) if utc_offset is None else calendar.timegm(parsed) - utc_offset
            self.assertTrue(since - 1 <= stamp <= until + 1, m[0])
            texts.append(m[2])
            at = m.end()
        self.assertEqual(data[at:], '', 'activity-log line without its stamp or CR LF')
        return texts


# --list: every case as Class.Case, for one ctest entry each; else runs the cases named so.
def main():
    cases = [c for c in vars(sys.modules['__main__']).values() if isinstance(c, type) and issubclass(c, E2eTest)]
    if sys.argv[1:] == ['--list']:
        return print(*(f'{c.__name__}.{n[4:]}' for c in cases for n in unittest.getTestCaseNames(c, 'test')),
                     sep='\n')
    unittest.main(argv=[sys.argv[0], '-v', *(re.sub(r'\.', '.test', a, count=1) for a in sys.argv[1:])])
