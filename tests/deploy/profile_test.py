#!/usr/bin/env python3
"""The configuration profile as the build makes it, read by plistlib and plistutil,
which must agree, and held to Apple's device-management reference, in our words:
a Configuration and each payload have a type, version 1, a reverse-DNS identifier
and a UUID, none used twice; every key has the reference's type, and in a
system-extension policy a key it does not define is a misspelling macOS ignores
(the policy's keys elsewhere: a misspelt type string); a team identifier is ten
upper-case letters and digits, a bundle identifier reverse-DNS, an extension type
one of three, and no team stands both in AllowedTeamIdentifiers and in
AllowedSystemExtensions.
Usage: profile_test.py CMAKE GENERATOR PLISTUTIL DEXT [BUILT_PROFILE TEAM]
"""
import copy, os, plistlib, re, subprocess, sys, tempfile, unittest

CMAKE, GENERATOR, PLISTUTIL, DEXT = sys.argv[1:5]
BUILT = sys.argv[5:7]  # the build's own profile and team, when it has a team
POLICY = 'com.apple.system-extension-policy'
TEAM, REVERSE_DNS = re.compile(r'[A-Z0-9]{10}'), re.compile(r'[A-Za-z0-9-]+(\.[A-Za-z0-9-]+)+')
UUID = re.compile(r'[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}', re.I)
EXTENSION_TYPES = {'DriverExtension', 'NetworkExtension', 'EndpointSecurityExtension'}
COMMON = {'PayloadIdentifier': str, 'PayloadUUID': str, 'PayloadType': str, 'PayloadVersion': int,
          'PayloadDisplayName': str, 'PayloadDescription': str, 'PayloadOrganization': str}
TEAM_MAPS = ('AllowedSystemExtensions', 'AllowedSystemExtensionTypes', 'RemovableSystemExtensions',
             'NonRemovableSystemExtensions', 'NonRemovableFromUISystemExtensions')
POLICY_KEYS = {**COMMON, 'AllowUserOverrides': bool, 'AllowedTeamIdentifiers': list, **dict.fromkeys(TEAM_MAPS, dict)}


def problems(profile):  # every rule the profile breaks, one sentence each
    found, seen = [] if profile.get('PayloadType') == 'Configuration' else ['the profile is no Configuration'], []
    for payload in [profile, *profile['PayloadContent']]:
        policy = payload.get('PayloadType') == POLICY
        known = POLICY_KEYS if policy else {**COMMON, 'PayloadContent': list, 'PayloadScope': str}
        found += [f'{key} is not a key of this payload, or of the wrong type' for key, value in payload.items()
                  if (type(value) is not known[key] if key in known else policy or key in TEAM_MAPS)]
        found += [f'{what} is wrong' for what, ok in (
            ('PayloadVersion', payload.get('PayloadVersion') == 1),
            ('PayloadIdentifier', REVERSE_DNS.fullmatch(str(payload.get('PayloadIdentifier')))),
            ('PayloadUUID', UUID.fullmatch(str(payload.get('PayloadUUID'))))) if not ok]
        seen += [str(payload.get('PayloadIdentifier')), str(payload.get('PayloadUUID')).upper()]
        teams = payload.get('AllowedTeamIdentifiers', []) if policy else []
        found += [f'{team!r} is not a team identifier' for team in teams if not TEAM.fullmatch(team)]
        for name, mapping in ((name, payload[name]) for name in TEAM_MAPS if policy and name in payload):
            valid, kind = ((EXTENSION_TYPES.__contains__, 'an extension type') if name == 'AllowedSystemExtensionTypes'
                           else (REVERSE_DNS.fullmatch, 'a bundle identifier'))
            found += [f'{team!r} is not a team identifier' for team in mapping if not TEAM.fullmatch(team)]
            found += [f'{item!r} is not {kind}' for items in mapping.values() for item in items if not valid(item)]
        if set(teams) & set(payload.get('AllowedSystemExtensions', {}) if policy else {}):
            found.append('a team stands both in AllowedTeamIdentifiers and in AllowedSystemExtensions')
    return found + [f'{value!r} is used twice' for value in sorted({v for v in seen if seen.count(v) > 1})]


TEXTS = {'DISPLAY_NAME': 'R&D <fleet> "drivers"', 'DESCRIPTION': "Allows it; it's ours", 'ORGANIZATION': 'Veltrin & Co'}


class Profile(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def make(self, team, name='sample'):
        path = os.path.join(self.dir.name, f'{name}.mobileconfig')
        made = subprocess.run([CMAKE, f'-DTEAM={team}', f'-DDEXT={DEXT}', f'-DOUTPUT={path}',
                               *(f'-D{k}={v}' for k, v in TEXTS.items()), '-P', GENERATOR], capture_output=True)
        return path if made.returncode == 0 else None

    def read(self, path):  # the profile as both parsers read it; they must agree
        converted = subprocess.run([PLISTUTIL, '-i', path, '-f', 'bin', '-o', path + '.bin'], capture_output=True)
        self.assertEqual(converted.returncode, 0, f'plistutil cannot read {path}: {converted.stderr}')
        with open(path, 'rb') as xml, open(path + '.bin', 'rb') as binary:
            profile = plistlib.load(binary)
            self.assertEqual(plistlib.load(xml), profile, 'the two parsers read different profiles')
        return profile

    def test_the_profile_allows_the_driver_by_every_rule(self):
        for path, team, texts in [(self.make('A1B2C3D4E5'), 'A1B2C3D4E5', tuple(TEXTS.values())),
                                  *([(*BUILT, None)] if BUILT else [])]:
            profile = self.read(path)
            self.assertEqual(problems(profile), [])
            [policy] = profile['PayloadContent']
            self.assertEqual({k: policy[k] for k in TEAM_MAPS if k in policy}, {
                'AllowedSystemExtensions': {team: [DEXT]}, 'RemovableSystemExtensions': {team: [DEXT]},
                'AllowedSystemExtensionTypes': {team: ['DriverExtension']}})
            self.assertEqual((policy['PayloadType'], policy['AllowUserOverrides'], profile['PayloadScope']),
                             (POLICY, True, 'System'))
            self.assertNotIn('AllowedTeamIdentifiers', policy, 'it would allow every extension of the team')
            both = [tuple(p[k] for k in ('PayloadDisplayName', 'PayloadDescription', 'PayloadOrganization'))
                    for p in (profile, policy)]
            self.assertEqual(both, [texts or both[0]] * 2)

    def test_the_same_inputs_give_the_same_bytes_and_another_team_other_uuids(self):
        def uuids(path):
            profile = self.read(path)
            return {profile['PayloadUUID'], *(p['PayloadUUID'] for p in profile['PayloadContent'])}
        first, again, other = self.make('A1B2C3D4E5', 'first'), self.make('A1B2C3D4E5', 'again'), self.make('Z9Y8X7W6V5')
        with open(first, 'rb') as a, open(again, 'rb') as b:
            self.assertEqual(a.read(), b.read())
        self.assertFalse(uuids(first) & uuids(other))
        for team in ('', 'a1b2c3d4e5', 'A1B2C3D4E', 'A1B2C3D4E56', 'A1B2C3D4E-'):
            self.assertIsNone(self.make(team, 'refused'), team)

    def test_a_profile_that_breaks_a_rule_is_caught(self):
        good = self.read(self.make('A1B2C3D4E5'))
        for key, value, words in [  # a key of the policy, or of the profile: /key; None: removed
                ('PayloadType', 'com.apple.system-extensions-policy', 'AllowedSystemExtensions is not a key'),
                ('AllowedSystemExtensionTypes', {'A1B2C3D4E5': ['DriverExtensions']}, "'DriverExtensions' is not"),
                ('AllowedSystemExtensions', {'a1b2c3d4e5': [DEXT]}, "'a1b2c3d4e5' is not a team identifier"),
                ('AllowedTeamIdentifiers', ['A1B2C3D4E'], "'A1B2C3D4E' is not a team identifier"),
                ('PayloadUUID', good['PayloadUUID'].lower(), 'is used twice'),
                ('AllowedTeamIdentifiers', ['A1B2C3D4E5'], 'a team stands both'),
                ('AllowUserOverrides', 'true', 'AllowUserOverrides is not a key of this payload, or'),
                ('AllowedSystemExtension', {}, 'AllowedSystemExtension is not a key'),
                ('RemovableSystemExtensions', {'A1B2C3D4E5': ['Driver']}, "'Driver' is not a bundle identifier"),
                ('PayloadVersion', 2, 'PayloadVersion is wrong'), ('PayloadUUID', None, 'PayloadUUID is wrong'),
                ('/PayloadIdentifier', 'profile', 'PayloadIdentifier is wrong'),
                ('/PayloadType', 'configuration', 'no Configuration'), ('/PayloadScope', 1, 'PayloadScope is not')]:
            with self.subTest(key=key, value=value):
                profile = copy.deepcopy(good)
                target = profile if key.startswith('/') else profile['PayloadContent'][0]
                target.pop(key.lstrip('/')) if value is None else target.update({key.lstrip('/'): value})
                path = os.path.join(self.dir.name, 'broken.mobileconfig')
                with open(path, 'wb') as f:
                    plistlib.dump(profile, f)
                found = problems(self.read(path))
                self.assertTrue(any(words in problem for problem in found), found)


if __name__ == '__main__':
    unittest.main(argv=sys.argv[:1])
