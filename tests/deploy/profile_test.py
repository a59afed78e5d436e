#!/usr/bin/env python3
"""The configuration profile, made as the build makes it, read by two parsers that
are not ours (plistlib, libplist's plistutil) and held to the rules of Apple's
device-management reference, in our words:
- a profile is a dictionary of type Configuration holding an array of payloads, in
  scope System or User; it and every payload have a type, version 1, a reverse-DNS
  identifier and a UUID, and no identifier or UUID is used twice;
- every key has the type the reference gives it; in a system-extension policy a key
  it does not define is a misspelling, which macOS ignores without a word, and the
  policy's keys in a payload of another type mean that the type string is misspelt;
- in a policy, a team identifier is ten upper-case letters and digits, a bundle
  identifier is reverse-DNS, an extension type is DriverExtension, NetworkExtension
  or EndpointSecurityExtension, and a team never stands both in
  AllowedTeamIdentifiers and in AllowedSystemExtensions.
Usage: profile_test.py CMAKE GENERATOR PLISTUTIL DEXT [BUILT_PROFILE TEAM]
"""
import copy, os, plistlib, re, subprocess, sys, tempfile, unittest

CMAKE, GENERATOR, PLISTUTIL, DEXT = sys.argv[1:5]
BUILT = sys.argv[5:7]  # the build's own profile and team, when it has a team
POLICY = 'com.apple.system-extension-policy'
TEAM = re.compile(r'[A-Z0-9]{10}')
UUID = re.compile(r'[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}', re.I)
REVERSE_DNS = re.compile(r'[A-Za-z0-9-]+(\.[A-Za-z0-9-]+)+')
EXTENSION_TYPES = {'DriverExtension', 'NetworkExtension', 'EndpointSecurityExtension'}
COMMON = {'PayloadIdentifier': str, 'PayloadUUID': str, 'PayloadType': str, 'PayloadVersion': int,
          'PayloadDisplayName': str, 'PayloadDescription': str, 'PayloadOrganization': str}
TEAM_MAPS = ('AllowedSystemExtensions', 'AllowedSystemExtensionTypes', 'RemovableSystemExtensions',
             'NonRemovableSystemExtensions', 'NonRemovableFromUISystemExtensions')
POLICY_KEYS = {**COMMON, 'AllowUserOverrides': bool, 'AllowedTeamIdentifiers': list, **dict.fromkeys(TEAM_MAPS, dict)}


def problems(profile):  # every rule the profile breaks, one sentence each
    if type(profile) is not dict or type(profile.get('PayloadContent')) is not list:
        return ['the profile is not a dictionary holding an array of payloads']
    found, seen = [], []
    if profile.get('PayloadType') != 'Configuration' or profile.get('PayloadScope', 'System') not in ('System', 'User'):
        found.append('profile: not a Configuration of scope System or User')
    for where, payload in [('profile', profile), *((f'payload {i}', p) for i, p in enumerate(profile['PayloadContent']))]:
        policy = payload.get('PayloadType') == POLICY
        known = POLICY_KEYS if policy else {**COMMON, 'PayloadContent': list, 'PayloadScope': str}
        for key in ('PayloadIdentifier', 'PayloadUUID', 'PayloadType', 'PayloadVersion'):
            found += [f'{where}: {key} is missing'] if key not in payload else []
        for key, value in payload.items():
            if key in known and type(value) is not known[key] or key not in known and (policy or key in TEAM_MAPS):
                found.append(f'{where}: {key} is not a key of this payload, or of the wrong type')
        found += [f'{where}: {what}' for what, ok in (
            ('PayloadVersion is not 1', payload.get('PayloadVersion') == 1),
            ('PayloadIdentifier is not reverse-DNS', REVERSE_DNS.fullmatch(str(payload.get('PayloadIdentifier')))),
            ('PayloadUUID is not a UUID', UUID.fullmatch(str(payload.get('PayloadUUID'))))) if not ok]
        seen += [str(payload.get('PayloadIdentifier')), str(payload.get('PayloadUUID')).upper()]
        if policy:
            found += [f'{where}: {problem}' for problem in policy_problems(payload)]
    return found + [f'{value!r} is used twice' for value in sorted({v for v in seen if seen.count(v) > 1})]


def policy_problems(policy):
    def strings(value):
        return value if type(value) is list and all(type(v) is str for v in value) else []
    teams = strings(policy.get('AllowedTeamIdentifiers'))
    found = [f'{t!r} is not a team identifier' for t in teams if not TEAM.fullmatch(t)]
    for name in TEAM_MAPS:
        valid, kind = ((EXTENSION_TYPES.__contains__, 'an extension type') if name == 'AllowedSystemExtensionTypes'
                       else (REVERSE_DNS.fullmatch, 'a bundle identifier'))
        for team, items in (policy.get(name) if type(policy.get(name)) is dict else {}).items():
            found += [f'{name}: {team!r} is not a team identifier'] if not TEAM.fullmatch(team) else []
            found += [f'{name}[{team}] is not an array of strings'] if strings(items) is not items else []
            found += [f'{name}[{team}]: {item!r} is not {kind}' for item in strings(items) if not valid(item)]
    if set(teams) & set(policy.get('AllowedSystemExtensions', {})):
        found.append('a team stands both in AllowedTeamIdentifiers and in AllowedSystemExtensions')
    return found


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
        for what, key, value, words in [  # a key of the policy, or of the profile: /key; None: removed
                ('misspelt payload type', 'PayloadType', 'com.apple.system-extensions-policy',
                 'AllowedSystemExtensions is not a key'),
                ('misspelt extension type', 'AllowedSystemExtensionTypes', {'A1B2C3D4E5': ['DriverExtensions']},
                 "'DriverExtensions' is not an extension type"),
                ('lower-case team', 'AllowedSystemExtensions', {'a1b2c3d4e5': [DEXT]}, "'a1b2c3d4e5' is not a team"),
                ('short team', 'AllowedTeamIdentifiers', ['A1B2C3D4E'], "'A1B2C3D4E' is not a team identifier"),
                ('duplicate UUID', 'PayloadUUID', good['PayloadUUID'].lower(), 'is used twice'),
                ('team allowed twice', 'AllowedTeamIdentifiers', ['A1B2C3D4E5'], 'a team stands both'),
                ('boolean as text', 'AllowUserOverrides', 'true', 'AllowUserOverrides is not a key of this payload, or'),
                ('misspelt key', 'AllowedSystemExtension', {}, 'AllowedSystemExtension is not a key'),
                ('bundle identifier', 'RemovableSystemExtensions', {'A1B2C3D4E5': ['Driver']}, "'Driver' is not a bundle"),
                ('texts for identifiers', 'AllowedSystemExtensions', {'A1B2C3D4E5': DEXT}, 'not an array of strings'),
                ('version 2', 'PayloadVersion', 2, 'PayloadVersion is not 1'),
                ('missing UUID', 'PayloadUUID', None, 'PayloadUUID is missing'),
                ('identifier', '/PayloadIdentifier', 'profile', 'PayloadIdentifier is not reverse-DNS'),
                ('UUID', '/PayloadUUID', 'A1B2C3D4E5', 'PayloadUUID is not a UUID'),
                ('scope', '/PayloadScope', 'system', 'not a Configuration of scope System or User')]:
            with self.subTest(what):
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
