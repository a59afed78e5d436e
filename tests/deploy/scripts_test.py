#!/usr/bin/env python3
# The installer package's postinstall and the notarization's refusals, with every macOS
# tool stubbed. The order of a notarization that succeeds: scripts/deploy-dry-run.sh.
import os, subprocess, sys, tempfile, unittest

POSTINSTALL, WAIT, NOTARIZE = sys.argv[1:4]
APP = 'veltrin_Driverkit_Launcher'
LAUNCHER = f'Applications/{APP}.app/Contents/MacOS/{APP}'


# argv in a scratch folder ({dir}) with `tools` stubbed (on PATH, or at a path in it), each
# stub writing its command line to one record: the status, the output, the record.
def run(case, tools, argv, **env):
    folder = case.enterContext(tempfile.TemporaryDirectory())
    for name, body in tools.items():
        path = f'{folder}/{name}' if '/' in name else f'{folder}/bin/{name}'
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'w') as f:
            f.write(f'#!/bin/sh\necho "{os.path.basename(name)} $*" >>"$RECORD"\n{body}\n')
        os.chmod(path, 0o755)
    done = subprocess.run([a.format(dir=folder) for a in argv], capture_output=True, text=True,
                          env={'PATH': folder + '/bin:/usr/bin:/bin', 'RECORD': folder + '/record', **env})
    with open(folder + '/record', 'a+') as f:
        f.seek(0)
        return done.returncode, done.stdout + done.stderr, f.read().replace(folder, '{dir}').splitlines()


POSTINSTALL_TOOLS = {
    'stat': '[ -n "$CONSOLE" ] && echo "$CONSOLE"',
    'id': 'case "$2" in alice) echo 501 ;; root | toor) echo 0 ;; _mbsetupuser) echo 248 ;; *) exit 1 ;; esac',
    'launchctl': 'shift 2; exec "$@"',
    'sudo': 'while [ "${1#-}" != "$1" ]; do [ "$1" = -u ] && shift; shift; done; exec "$@"',
}
SUBMISSION = '2efe2717-52ef-43a5-96dc-0797e4ca1041'
NOTARIZE_TOOLS = {
    'codesign': ('[ -n "$APP_SIGNER" ] || { echo "$3: code object is not signed at all" >&2; exit 1; }\n'
                 'printf "Authority=%s\\nAuthority=Developer ID Certification Authority\\n" "$APP_SIGNER" >&2'),
    'pkgutil': ('[ -n "$PACKAGE_SIGNER" ] || { printf "Package \\"%s\\":\\n   Status: no signature\\n" "$2"; exit 1; }\n'
                'printf "Package:\\n   Certificate Chain:\\n    1. %s\\n    2. Apple Root CA\\n" "$PACKAGE_SIGNER"'),
    'xcrun': (f'[ "$1" = notarytool ] || exit 0\n[ "$ANSWER" = none ] && exit 69\n'
              f'printf "Conducting pre-submission checks\\n  id: {SUBMISSION}\\n  status: %s\\n" "$ANSWER"'),
}


class Deploy(unittest.TestCase):
    def test_the_postinstall_activates_the_driver_as_the_console_user_and_logs_the_outcome(self):
        launcher = '{dir}/' + LAUNCHER
        launched = [f'launchctl asuser 501 sudo -H -u alice {launcher} -install -wait {WAIT}',
                    f'sudo -H -u alice {launcher} -install -wait {WAIT}', f'{APP} -install -wait {WAIT}']
        # (what, console owner, launcher status, volume, status, commands, words in the last line)
        for what, console, launcher_status, volume, status, commands, words in [
                *((f'launcher status {n}', 'alice', n, '/', status, launched, f'{words} (launcher status {n})')
                  for n, status, words in [(0, 0, 'the driver is activated'), (3, 0, 'completes after a restart'),
                                           (4, 0, 'in System Settings'), (1, 1, 'the activation failed'),
                                           (2, 1, 'did not accept its arguments: the driver was not activated'),
                                           (5, 1, 'release is not supported: the driver was not activated'),
                                           (9, 1, 'the activation failed')]),
                # at the login window, another name of root, Setup Assistant, an account that is not one
                *((f'console {who}', who, 0, '/', 0, [], f'no user is logged in (console: {who or "none"})')
                  for who in ('', 'root', 'toor', '_mbsetupuser', 'ghost')),
                ('another volume', 'alice', 0, '/Volumes/Other', 0, [], 'installed on /Volumes/Other, not on the'),
                ('no launcher', 'alice', 0, '/', 1, [], 'no launcher at')]:
            with self.subTest(what):
                tools = {**POSTINSTALL_TOOLS, **({} if what == 'no launcher' else {
                    LAUNCHER: 'echo "it reports"; exit "$LAUNCHER_STATUS"'})}
                code, log, record = run(self, tools, [POSTINSTALL, '/tmp/a.pkg', '{dir}/Applications', volume],
                                                CONSOLE=console, LAUNCHER_STATUS=str(launcher_status))
                ran = [line for line in record if not line.startswith(('stat ', 'id '))]
                self.assertEqual((code, ran), (status, commands), log)
                self.assertTrue(log.splitlines()[-1].startswith(f'{APP} postinstall: ') and words in log.splitlines()[-1]
                                and ('it reports' in log) == bool(commands), log)

    def test_notarization_refuses_what_is_not_signed_with_a_developer_id_or_not_accepted(self):
        checked, submitted = ['codesign --display --verbose=2 {dir}/a.app', 'pkgutil --check-signature {dir}/a.pkg'], \
            ['xcrun notarytool submit {dir}/a.pkg --keychain-profile fleet --wait']
        app, package = 'Developer ID Application: Veltrin (A1B2C3D4E5)', 'Developer ID Installer: Veltrin (A1B2C3D4E5)'
        for what, app_signer, package_signer, answer, profile, commands, words in [
                ('no keychain profile', app, package, 'Accepted', '', [], 'set VELTRIN_NOTARY_PROFILE'),
                ('unsigned application', '', package, 'Accepted', 'fleet', checked[:1],
                 'is not signed with a Developer ID Application identity (signed by: nobody)'),
                ('development signature', 'Apple Development: Veltrin (A1B2C3D4E5)', package, 'Accepted', 'fleet',
                 checked[:1], '(signed by: Apple Development: Veltrin'),
                ('unsigned package', app, '', 'Accepted', 'fleet', checked,
                 'is not signed with a Developer ID Installer identity (signed by: nobody)'),
                ('package signed as an application', app, app, 'Accepted', 'fleet', checked,
                 'Developer ID Installer identity (signed by: Developer ID Application'),
                ('rejected', app, package, 'Invalid', 'fleet', checked + submitted,
                 f'xcrun notarytool log {SUBMISSION} --keychain-profile "fleet"'),
                ('no answer', app, package, 'none', 'fleet', checked + submitted, 'the submission of')]:
            with self.subTest(what):
                code, said, record = run(self, NOTARIZE_TOOLS, ['sh', NOTARIZE, '{dir}/a.app', '{dir}/a.pkg'],
                                                 APP_SIGNER=app_signer, PACKAGE_SIGNER=package_signer, ANSWER=answer,
                                                 VELTRIN_NOTARY_PROFILE=profile)
                self.assertEqual((code, record), (1, commands), said)
                self.assertIn(words, said)


if __name__ == '__main__':
    unittest.main(argv=sys.argv[:1])
