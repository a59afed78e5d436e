#!/usr/bin/env python3
"""The installer package's postinstall and the notarization script, run here with
every macOS tool they call stubbed: each stub writes its command line to one
record, so a case sees what ran, in which order, and what the script said.

Usage: scripts_test.py POSTINSTALL WAIT_SECONDS NOTARIZE
"""
import os, stat, subprocess, sys, tempfile, unittest

POSTINSTALL, WAIT, NOTARIZE = sys.argv[1:4]
APP = 'veltrin_Driverkit_Launcher'


class Stubs:
    """A folder of stub tools before the system's on PATH, and their record."""

    def __init__(self, test, tools):
        folder = tempfile.TemporaryDirectory()
        test.addCleanup(folder.cleanup)
        self.dir = folder.name
        self.record = os.path.join(self.dir, 'record')
        for name, body in tools.items():
            self.tool(os.path.join(self.dir, 'bin', name), name, body)

    def tool(self, path, name, body):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'w') as f:
            f.write(f'#!/bin/sh\necho "{name} $*" >>"$RECORD"\n{body}\n')
        os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR)
        return path

    def run(self, argv, **env):
        done = subprocess.run(argv, capture_output=True, text=True, env={
            'PATH': os.path.join(self.dir, 'bin') + ':/usr/bin:/bin', 'RECORD': self.record, **env})
        with open(self.record, 'a+') as f:
            f.seek(0)
            return done.returncode, done.stdout + done.stderr, f.read().splitlines()


POSTINSTALL_TOOLS = {
    'stat': '[ -n "$CONSOLE" ] && echo "$CONSOLE"',
    'id': 'case "$2" in alice) echo 501 ;; root | toor) echo 0 ;; _mbsetupuser) echo 248 ;; *) exit 1 ;; esac',
    'launchctl': 'shift 2; exec "$@"',
    'sudo': 'while [ "${1#-}" != "$1" ]; do [ "$1" = -u ] && shift; shift; done; exec "$@"',
}


class Postinstall(unittest.TestCase):
    def test_the_driver_is_activated_as_the_console_user_and_the_outcome_logged(self):
        launched = [f'launchctl asuser 501 sudo -H -u alice {{launcher}} -install -wait {WAIT}',
                    f'sudo -H -u alice {{launcher}} -install -wait {WAIT}', f'launcher -install -wait {WAIT}']
        cases = [  # (what, console owner, launcher status, volume, status, commands, words in the log)
            ('activated', 'alice', 0, '/', 0, launched, 'the driver is activated (launcher status 0)'),
            ('after a restart', 'alice', 3, '/', 0, launched, 'completes after a restart (launcher status 3)'),
            ('awaiting approval', 'alice', 4, '/', 0, launched, 'awaits approval: it is activated once the'),
            ('failed', 'alice', 1, '/', 1, launched, 'the activation failed (launcher status 1)'),
            ('usage error', 'alice', 2, '/', 1, launched, 'did not accept its arguments'),
            ('unsupported release', 'alice', 5, '/', 1, launched, 'release is not supported'),
            ('unknown status', 'alice', 9, '/', 1, launched, 'the activation failed (launcher status 9)'),
            ('no console owner', '', 0, '/', 0, [], 'no user is logged in (console: none)'),
            ('login window', 'root', 0, '/', 0, [], 'no user is logged in (console: root)'),
            ('root by another name', 'toor', 0, '/', 0, [], 'no user is logged in (console: toor)'),
            ('setup assistant', '_mbsetupuser', 0, '/', 0, [], 'console: _mbsetupuser'),
            ('unknown account', 'ghost', 0, '/', 0, [], 'console: ghost'),
            ('another volume', 'alice', 0, '/Volumes/Other', 0, [], 'installed on /Volumes/Other, not on the'),
            ('no launcher', 'alice', 0, '/', 1, [], 'no launcher at'),
        ]
        for what, console, launcher_status, volume, status, commands, words in cases:
            with self.subTest(what):
                stubs = Stubs(self, POSTINSTALL_TOOLS)
                applications = os.path.join(stubs.dir, 'Applications')
                launcher = os.path.join(applications, f'{APP}.app', 'Contents', 'MacOS', APP)
                if what != 'no launcher':
                    stubs.tool(launcher, 'launcher', 'echo "the launcher reports"; exit "$LAUNCHER_STATUS"')
                code, log, record = stubs.run([POSTINSTALL, '/tmp/package.pkg', applications, volume],
                                              CONSOLE=console, LAUNCHER_STATUS=str(launcher_status))
                ran = [line for line in record if not line.startswith(('stat ', 'id '))]
                self.assertEqual((code, ran), (status, [c.format(launcher=launcher) for c in commands]), log)
                outcome = log.splitlines()[-1] if log else ''  # the last line the installer logs
                self.assertTrue(outcome.startswith(f'{APP} postinstall: ') and words in outcome, log)
                if commands:
                    self.assertIn('the launcher reports', log)


DEVELOPER_ID_APP = 'Developer ID Application: Veltrin (A1B2C3D4E5)'
DEVELOPER_ID_INSTALLER = 'Developer ID Installer: Veltrin (A1B2C3D4E5)'
SUBMISSION = '2efe2717-52ef-43a5-96dc-0797e4ca1041'
NOTARIZE_TOOLS = {
    'codesign': ('[ -n "$APP_SIGNER" ] || { echo "$3: code object is not signed at all" >&2; exit 1; }\n'
                 'printf "Authority=%s\\nAuthority=Developer ID Certification Authority\\n" "$APP_SIGNER" >&2'),
    'pkgutil': ('[ -n "$PACKAGE_SIGNER" ] || { printf "Package \\"%s\\":\\n   Status: no signature\\n" "$2"; exit 1; }\n'
                'printf "Package:\\n   Certificate Chain:\\n    1. %s\\n    2. Apple Root CA\\n" "$PACKAGE_SIGNER"'),
    'ditto': ': >"$5"',
    'xcrun': (f'[ "$1" = notarytool ] || exit 0\n[ "$ANSWER" = none ] && exit 69\n'
              f'printf "Conducting pre-submission checks\\n  id: {SUBMISSION}\\n  status: %s\\n" "$ANSWER"'),
}


class Notarize(unittest.TestCase):
    def test_only_developer_id_signatures_are_submitted_and_only_accepted_ones_stapled(self):
        checked = ['codesign --display --verbose=2 {app}', 'pkgutil --check-signature {package}']
        submitted = ['xcrun notarytool submit {package} --keychain-profile fleet --wait',
                     'xcrun stapler staple {package}']
        zipped = ['codesign --display --verbose=2 {app}', 'ditto -c -k --keepParent {app} {zip}',
                  'xcrun notarytool submit {zip} --keychain-profile fleet --wait', 'xcrun stapler staple {app}']
        app, package = DEVELOPER_ID_APP, DEVELOPER_ID_INSTALLER
        cases = [  # (what, with a package, app signer, package signer, answer, profile, status, commands, words)
            ('the package', True, app, package, 'Accepted', 'fleet', 0, checked + submitted, ''),
            ('the application, zipped', False, app, '', 'Accepted', 'fleet', 0, zipped, ''),
            ('no keychain profile', True, app, package, 'Accepted', '', 1, [], 'set VELTRIN_NOTARY_PROFILE'),
            ('unsigned application', True, '', package, 'Accepted', 'fleet', 1, checked[:1],
             'is not signed with a Developer ID Application identity (signed by: nobody)'),
            ('development signature', False, 'Apple Development: Veltrin (A1B2C3D4E5)', '', 'Accepted', 'fleet', 1,
             checked[:1], '(signed by: Apple Development: Veltrin'),
            ('unsigned package', True, app, '', 'Accepted', 'fleet', 1, checked,
             'is not signed with a Developer ID Installer identity (signed by: nobody)'),
            ('package signed as an application', True, app, app, 'Accepted', 'fleet', 1, checked,
             'Developer ID Installer identity (signed by: Developer ID Application'),
            ('rejected', True, app, package, 'Invalid', 'fleet', 1, checked + submitted[:1],
             f'xcrun notarytool log {SUBMISSION} --keychain-profile "fleet"'),
            ('no answer', True, app, package, 'none', 'fleet', 1, checked + submitted[:1], 'the submission of'),
        ]
        for what, with_package, app_signer, package_signer, answer, profile, status, commands, words in cases:
            with self.subTest(what):
                stubs = Stubs(self, NOTARIZE_TOOLS)
                paths = {'app': os.path.join(stubs.dir, f'{APP}.app'), 'package': os.path.join(stubs.dir, 'a.pkg'),
                         'zip': os.path.join(stubs.dir, f'{APP}.zip')}
                argv = ['sh', NOTARIZE, paths['app']] + ([paths['package']] if with_package else [])
                code, said, record = stubs.run(argv, APP_SIGNER=app_signer, PACKAGE_SIGNER=package_signer,
                                               ANSWER=answer, VELTRIN_NOTARY_PROFILE=profile)
                self.assertEqual((code, record), (status, [c.format(**paths) for c in commands]), said)
                self.assertIn(words, said)


if __name__ == '__main__':
    unittest.main(argv=sys.argv[:1])
