#!/usr/bin/env python3
"""The configuration profile, made as the build makes it, read by two parsers that
are not ours (Python's plistlib and libplist's plistutil) and held to the rules
of Apple's device-management reference (the top level of a profile, the keys
common to every payload, and the SystemExtensions payload).

The rules, in our words:
- A profile is a dictionary of type "Configuration" and version 1, with a
  reverse-DNS identifier, a UUID and an array of payloads; its scope, when
  given, is "System" or "User".
- Every payload has a type, version 1, a reverse-DNS identifier and a UUID; no
  two identifiers and no two UUIDs in one profile are the same.
- Every key has the type the reference gives it; a key it does not define is a
  misspelling, which macOS ignores without a word. Keys of a system-extension
  policy in a payload of another type mean that the type string is misspelt.
- In a system-extension policy a team identifier is ten upper-case letters and
  digits, a bundle identifier is reverse-DNS, an extension type is one of
  DriverExtension, NetworkExtension and EndpointSecurityExtension; a team never
  stands both in AllowedTeamIdentifiers and as a key of AllowedSystemExtensions,
  and no extension is both removable and non-removable.

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

REQUIRED = ('PayloadIdentifier', 'PayloadUUID', 'PayloadType', 'PayloadVersion')
COMMON = {'PayloadIdentifier': str, 'PayloadUUID': str, 'PayloadType': str, 'PayloadVersion': int,
          'PayloadDisplayName': str, 'PayloadDescription': str, 'PayloadOrganization': str}
TOP_LEVEL = {**COMMON, 'PayloadContent': list, 'PayloadScope': str}
TEAM_MAPS = ('AllowedSystemExtensions', 'AllowedSystemExtensionTypes', 'RemovableSystemExtensions',
             'NonRemovableSystemExtensions', 'NonRemovableFromUISystemExtensions')
POLICY_KEYS = {**COMMON, 'AllowUserOverrides': bool, 'AllowedTeamIdentifiers': list, **dict.fromkeys(TEAM_MAPS, dict)}


def problems(profile):
    """Every rule the profile breaks, one sentence each; none for a sound one."""
    if type(profile) is not dict or type(profile.get('PayloadContent')) is not list:
        return ['the profile is not a dictionary holding an array of payloads']
    found, seen = [], []
    payloads = [('profile', profile, TOP_LEVEL)] + [
        (f'payload {i}', p, POLICY_KEYS if p.get('PayloadType') == POLICY else None)
        for i, p in enumerate(profile['PayloadContent']) if type(p) is dict]
    for where, payload, known in payloads:
        found += [f'{where}: {key} is missing' for key in REQUIRED if key not in payload]
        for key, value in payload.items():
            want = (known or COMMON).get(key)
            if want is None and known is POLICY_KEYS:
                found.append(f'{where}: {key} is not a key of this payload')
            elif want is not None and type(value) is not want:
                found.append(f'{where}: {key} is a {type(value).__name__}, not a {want.__name__}')
        if payload.get('PayloadVersion') != 1:
            found.append(f'{where}: PayloadVersion is not 1')
        if not REVERSE_DNS.fullmatch(str(payload.get('PayloadIdentifier'))):
            found.append(f'{where}: PayloadIdentifier is not reverse-DNS')
        if not UUID.fullmatch(str(payload.get('PayloadUUID'))):
            found.append(f'{where}: PayloadUUID is not a UUID')
        seen += [str(payload.get('PayloadIdentifier')), str(payload.get('PayloadUUID')).upper()]
        if known is POLICY_KEYS:
            found += policy_problems(where, payload)
        elif known is None and set(payload) & set(TEAM_MAPS):
            found.append(f'{where}: keys of {POLICY} in a payload of type {payload.get("PayloadType")!r}')
    if profile.get('PayloadType') != 'Configuration':
        found.append('profile: PayloadType is not Configuration')
    if profile.get('PayloadScope', 'System') not in ('System', 'User'):
        found.append('profile: PayloadScope is neither System nor User')
    found += [f'{value!r} is used twice' for value in sorted({v for v in seen if seen.count(v) > 1})]
    return found


def policy_problems(where, policy):
    def strings(value):
        return value if type(value) is list and all(type(v) is str for v in value) else []

    teams = strings(policy.get('AllowedTeamIdentifiers'))
    maps = {name: policy[name] if type(policy.get(name)) is dict else {} for name in TEAM_MAPS}
    found = [f'{where}: AllowedTeamIdentifiers: {t!r} is not a team identifier' for t in teams if not TEAM.fullmatch(t)]
    for name, mapping in maps.items():
        valid, kind = ((EXTENSION_TYPES.__contains__, 'an extension type') if name == 'AllowedSystemExtensionTypes'
                       else (REVERSE_DNS.fullmatch, 'a bundle identifier'))
        for team, items in mapping.items():
            if not TEAM.fullmatch(team):
                found.append(f'{where}: {name}: {team!r} is not a team identifier')
            if strings(items) is not items:  # anything but a list of texts reads as a new, empty one
                found.append(f'{where}: {name}[{team}] is not an array of strings')
            found += [f'{where}: {name}[{team}]: {item!r} is not {kind}' for item in strings(items) if not valid(item)]
    if set(teams) & set(maps['AllowedSystemExtensions']):
        found.append(f'{where}: a team stands both in AllowedTeamIdentifiers and in AllowedSystemExtensions')

    def pairs(name):
        return {(team, item) for team, items in maps[name].items() for item in strings(items)}
    if pairs('RemovableSystemExtensions') & pairs('NonRemovableSystemExtensions'):
        found.append(f'{where}: an extension is both removable and non-removable')
    return found


TEXTS = {'DISPLAY_NAME': 'R&D <fleet> "drivers"', 'DESCRIPTION': "Allows it; it's ours", 'ORGANIZATION': 'Veltrin & Co'}


class Profile(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def make(self, team, name='sample'):
        path = os.path.join(self.dir.name, f'{name}.mobileconfig')
        made = subprocess.run([CMAKE, f'-DTEAM={team}', f'-DDEXT={DEXT}', f'-DOUTPUT={path}',
                               *(f'-D{k}={v}' for k, v in TEXTS.items()), '-P', GENERATOR],
                              capture_output=True, text=True)
        return path if made.returncode == 0 else None

    def read(self, path):
        """The profile as both parsers read it; they must agree."""
        with open(path, 'rb') as f:
            raw = f.read()
        binary = path + '.binary'
        converted = subprocess.run([PLISTUTIL, '-i', path, '-f', 'bin', '-o', binary], capture_output=True, text=True)
        self.assertEqual(converted.returncode, 0, f'plistutil cannot read {path}: {converted.stderr}')
        with open(binary, 'rb') as f:
            by_plistutil = plistlib.load(f)
        self.assertEqual(plistlib.loads(raw), by_plistutil, 'the two parsers read different profiles')
        return by_plistutil

    def assert_allows_the_driver(self, profile, team, texts):
        self.assertEqual(problems(profile), [])
        [policy] = profile['PayloadContent']
        self.assertEqual(policy['PayloadType'], POLICY)
        self.assertEqual(policy['AllowedSystemExtensions'], {team: [DEXT]})
        self.assertEqual(policy['RemovableSystemExtensions'], {team: [DEXT]})
        self.assertEqual(policy['AllowedSystemExtensionTypes'], {team: ['DriverExtension']})
        self.assertIs(policy['AllowUserOverrides'], True)
        self.assertNotIn('AllowedTeamIdentifiers', policy, 'it would allow every extension of the team')
        self.assertEqual(profile['PayloadScope'], 'System')
        for payload in (profile, policy):
            self.assertEqual((payload['PayloadDisplayName'], payload['PayloadDescription'],
                              payload['PayloadOrganization']), texts)

    def test_the_profile_allows_the_driver_by_every_rule(self):
        sample = self.make('A1B2C3D4E5')
        self.assert_allows_the_driver(self.read(sample), 'A1B2C3D4E5', tuple(TEXTS.values()))
        if BUILT:
            built = self.read(BUILT[0])
            self.assert_allows_the_driver(built, BUILT[1], (built['PayloadDisplayName'],
                                          built['PayloadDescription'], built['PayloadOrganization']))

    def test_the_same_inputs_give_the_same_bytes_and_another_team_other_uuids(self):
        def uuids(path):
            profile = self.read(path)
            return {profile['PayloadUUID'], *(p['PayloadUUID'] for p in profile['PayloadContent'])}
        first, again, other = self.make('A1B2C3D4E5', 'first'), self.make('A1B2C3D4E5', 'again'), self.make('Z9Y8X7W6V5')
        with open(first, 'rb') as a, open(again, 'rb') as b:
            self.assertEqual(a.read(), b.read())
        self.assertFalse(uuids(first) & uuids(other))

    def test_the_generator_refuses_what_is_not_a_team_identifier(self):
        for team in ('', 'a1b2c3d4e5', 'A1B2C3D4E', 'A1B2C3D4E56', 'A1B2C3D4E-'):
            with self.subTest(team=team):
                self.assertIsNone(self.make(team))

    def test_a_profile_that_breaks_a_rule_is_caught(self):
        good = self.read(self.make('A1B2C3D4E5'))

        def policy(p):
            return p['PayloadContent'][0]
        broken = [  # (what, how, words of the problem found)
            ('misspelt payload type', lambda p: policy(p).update(PayloadType='com.apple.system-extensions-policy'),
             f'keys of {POLICY} in a payload of type'),
            ('misspelt extension type', lambda p: policy(p)['AllowedSystemExtensionTypes'].update(
                A1B2C3D4E5=['DriverExtensions']), "'DriverExtensions' is not an extension type"),
            ('lower-case team', lambda p: policy(p).update(
                AllowedSystemExtensions={'a1b2c3d4e5': [DEXT]}), "'a1b2c3d4e5' is not a team identifier"),
            ('short team', lambda p: policy(p).update(AllowedTeamIdentifiers=['A1B2C3D4E']),
             "'A1B2C3D4E' is not a team identifier"),
            ('duplicate UUID', lambda p: policy(p).update(PayloadUUID=p['PayloadUUID'].lower()), 'is used twice'),
            ('team allowed twice', lambda p: policy(p).update(AllowedTeamIdentifiers=['A1B2C3D4E5']),
             'both in AllowedTeamIdentifiers and in AllowedSystemExtensions'),
            ('boolean as text', lambda p: policy(p).update(AllowUserOverrides='true'), 'is a str, not a bool'),
            ('version 2', lambda p: policy(p).update(PayloadVersion=2), 'PayloadVersion is not 1'),
            ('scope', lambda p: p.update(PayloadScope='system'), 'neither System nor User'),
            ('missing UUID', lambda p: policy(p).pop('PayloadUUID'), 'PayloadUUID is missing'),
            ('misspelt key', lambda p: policy(p).update(AllowedSystemExtension={}), 'is not a key of this payload'),
            ('bundle identifier', lambda p: policy(p).update(RemovableSystemExtensions={'A1B2C3D4E5': ['Driver']}),
             "'Driver' is not a bundle identifier"),
            ('removable and not', lambda p: policy(p).update(NonRemovableSystemExtensions={'A1B2C3D4E5': [DEXT]}),
             'both removable and non-removable'),
        ]
        for what, break_it, words in broken:
            with self.subTest(what):
                profile = copy.deepcopy(good)
                break_it(profile)
                path = os.path.join(self.dir.name, 'broken.mobileconfig')
                with open(path, 'wb') as f:
                    plistlib.dump(profile, f)
                found = problems(self.read(path))
                self.assertTrue(any(words in problem for problem in found), found)


if __name__ == '__main__':
    unittest.main(argv=sys.argv[:1])
