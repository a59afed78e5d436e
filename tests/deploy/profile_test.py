#!/usr/bin/env python3
# The configuration profile as the build makes it, read by plistlib and plistutil, which
# must agree, and held to the rules of Apple's device-management reference.
import copy, os, plistlib, re, subprocess, sys, tempfile, unittest

CMAKE, GENERATOR, PLISTUTIL, DEXT = sys.argv[1:5]
BUILT = sys.argv[5:7]  # the build's own profile and team, when it has a team
POLICY = 'com.apple.system-extension-policy'
TEAM, REVERSE_DNS = re.compile(r'[A-Z0-9]{10}'), re.compile(r'[A-Za-z0-9-]+(\.[A-Za-z0-9-]+)+')
UUID = re.compile(r'[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}', re.I)
COMMON = {'PayloadIdentifier': str, 'PayloadUUID': str, 'PayloadType': str, 'PayloadVersion': int,
          'PayloadDisplayName': str, 'PayloadDescription': str, 'PayloadOrganization': str}
TEAM_MAPS = ('AllowedSystemExtensions', 'AllowedSystemExtensionTypes', 'RemovableSystemExtensions',
             'NonRemovableSystemExtensions', 'NonRemovableFromUISystemExtensions')
POLICY_KEYS = {**COMMON, 'AllowUserOverrides': bool, 'AllowedTeamIdentifiers': list, **dict.fromkeys(TEAM_MAPS, dict)}


def payloads(profile):
    return [profile, *profile['PayloadContent']]


def policies(profile):
    return [p for p in profile['PayloadContent'] if p.get('PayloadType') == POLICY]


def named(profile, maps):  # the team identifiers and the texts listed for them in the policies' `maps`
    return [(team, text) for p in policies(profile) for name in maps for team, texts in p.get(name, {}).items()
            for text in texts]


# The reference's rules, in our words; each names what breaks it.
RULES = {
    'a profile is a Configuration': lambda p: p.get('PayloadType') == 'Configuration',
    'every payload has version 1': lambda p: all(x.get('PayloadVersion') == 1 for x in payloads(p)),
    'every payload has a reverse-DNS identifier and a UUID, none used twice': lambda p: all(
        REVERSE_DNS.fullmatch(str(x.get('PayloadIdentifier'))) and UUID.fullmatch(str(x.get('PayloadUUID')))
        for x in payloads(p)) and len({str(x.get(k)).upper() for x in payloads(p)
                                       for k in ('PayloadIdentifier', 'PayloadUUID')}) == 2 * len(payloads(p)),
    # A key the reference does not define is a misspelling, which macOS ignores without a word.
    'every key has its type, and a policy none but its own': lambda p: all(
        type(v) is known[k] if k in known else x is p or x.get('PayloadType') != POLICY
        for x, known in ((x, POLICY_KEYS if x.get('PayloadType') == POLICY else {**COMMON, 'PayloadContent': list,
                                                                                  'PayloadScope': str})
                         for x in payloads(p)) for k, v in x.items()),
    "a policy's keys in a payload of another type mean a misspelt type string": lambda p: not any(
        set(x) & set(TEAM_MAPS) for x in p['PayloadContent'] if x.get('PayloadType') != POLICY),
    'a team identifier is ten upper-case letters and digits': lambda p: all(TEAM.fullmatch(team) for team in [
        *(t for x in policies(p) for t in x.get('AllowedTeamIdentifiers', [])), *dict(named(p, TEAM_MAPS))]),
    'an extension type is DriverExtension, NetworkExtension or EndpointSecurityExtension': lambda p: all(
        kind in ('DriverExtension', 'NetworkExtension', 'EndpointSecurityExtension')
        for _, kind in named(p, TEAM_MAPS[1:2])),
    'a bundle identifier is reverse-DNS': lambda p: all(
        type(bundle) is str and REVERSE_DNS.fullmatch(bundle) for _, bundle in named(p, TEAM_MAPS[:1] + TEAM_MAPS[2:])),
    'no team stands both in AllowedTeamIdentifiers and in AllowedSystemExtensions': lambda p: not any(
        set(x.get('AllowedTeamIdentifiers', [])) & set(x.get('AllowedSystemExtensions', {})) for x in policies(p)),
}


def problems(profile):
    return [rule for rule, holds in RULES.items() if not holds(profile)]


TEXTS = {'DISPLAY_NAME': 'R&D <fleet> "drivers"', 'DESCRIPTION': "Allows it; it's ours", 'ORGANIZATION': 'Veltrin & Co'}


class Profile(unittest.TestCase):
    def setUp(self):
        self.dir = self.enterContext(tempfile.TemporaryDirectory())

    def make(self, team, name='sample'):
        path = os.path.join(self.dir, f'{name}.mobileconfig')
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
            return {p['PayloadUUID'] for p in payloads(self.read(path))}
        first, again, other = self.make('A1B2C3D4E5', 'first'), self.make('A1B2C3D4E5', 'again'), self.make('Z9Y8X7W6V5')
        with open(first, 'rb') as a, open(again, 'rb') as b:
            self.assertEqual(a.read(), b.read())
        self.assertFalse(uuids(first) & uuids(other))
        for team in ('', 'a1b2c3d4e5', 'A1B2C3D4E', 'A1B2C3D4E56', 'A1B2C3D4E-'):
            self.assertIsNone(self.make(team, 'refused'), team)

    def test_a_profile_that_breaks_a_rule_breaks_that_rule_alone(self):
        good, rules = self.read(self.make('A1B2C3D4E5')), list(RULES)
        for rule, key, value in [  # a key of the policy, or of the profile: /key; None: removed
                (0, '/PayloadType', 'configuration'), (1, 'PayloadVersion', 2), (2, '/PayloadIdentifier', 'profile'),
                (2, 'PayloadUUID', None), (2, 'PayloadUUID', good['PayloadUUID'].lower()), (3, 'AllowUserOverrides', 'true'),
                (3, 'AllowedSystemExtension', {}), (3, '/PayloadScope', 1),
                (4, 'PayloadType', 'com.apple.system-extensions-policy'),
                (5, 'AllowedSystemExtensions', {'a1b2c3d4e5': [DEXT]}), (5, 'AllowedTeamIdentifiers', ['A1B2C3D4E']),
                (6, 'AllowedSystemExtensionTypes', {'A1B2C3D4E5': ['DriverExtensions']}),
                (7, 'RemovableSystemExtensions', {'A1B2C3D4E5': ['Driver']}), (7, 'AllowedSystemExtensions', {'A1B2C3D4E5': [1]}),
                (8, 'AllowedTeamIdentifiers', ['A1B2C3D4E5'])]:
            with self.subTest(key=key, value=value):
                profile = copy.deepcopy(good)
                target = profile if key.startswith('/') else profile['PayloadContent'][0]
                target.pop(key.lstrip('/')) if value is None else target.update({key.lstrip('/'): value})
                path = os.path.join(self.dir, 'broken.mobileconfig')
                with open(path, 'wb') as f:
                    plistlib.dump(profile, f)
                self.assertEqual(problems(self.read(path)), [rules[rule]])


if __name__ == '__main__':
    unittest.main(argv=sys.argv[:1])
