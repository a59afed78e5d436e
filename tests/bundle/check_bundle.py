#!/usr/bin/env python3
"""The macOS bundle's property lists and window layout, read as the platform reads them."""
import plistlib, subprocess, sys, tempfile
import xml.etree.ElementTree as ET
from pathlib import Path

cocoa, failures = Path(sys.argv[1]), []


def check(ok, what):
    if not ok:
        failures.append(what)


# Read by two parsers that are not ours (Python's and libplist's plistutil), which must agree.
def read_plist(name):
    raw = (cocoa / name).read_bytes()
    with tempfile.TemporaryDirectory() as scratch:
        binary = Path(scratch) / 'binary.plist'
        subprocess.run(['plistutil', '-i', str(cocoa / name), '-o', str(binary), '-f', 'bin'], capture_output=True)
        check(binary.exists() and plistlib.loads(binary.read_bytes()) == plistlib.loads(raw),
              f'{name}: plistutil reads it otherwise')
    return raw, plistlib.loads(raw)


# CMake fills the placeholders: a misspelt one would reach the bundle as is. str: any text (shown to the person).
for name, rows in {
        'apple/Info.plist.in': {
            'CFBundleExecutable': '${MACOSX_BUNDLE_EXECUTABLE_NAME}', 'CFBundleIdentifier': '${MACOSX_BUNDLE_GUI_IDENTIFIER}',
            'CFBundleName': '${MACOSX_BUNDLE_BUNDLE_NAME}', 'CFBundleVersion': '${MACOSX_BUNDLE_BUNDLE_VERSION}',
            'CFBundleShortVersionString': '${MACOSX_BUNDLE_SHORT_VERSION_STRING}', 'NSAppleEventsUsageDescription': str,
            'LSMinimumSystemVersion': '${CMAKE_OSX_DEPLOYMENT_TARGET}', 'NSMainNibFile': 'MainMenu',
            'NSPrincipalClass': 'NSApplication'},
        'apple/DextInfo.plist.in': {
            'CFBundleIdentifier': '@VELTRIN_DEXT_IDENTIFIER@', 'CFBundleShortVersionString': '@VELTRIN_DEXT_VERSION@',
            'CFBundleVersion': '@VELTRIN_DEXT_BUILD@', 'OSBundleUsageDescription': str},
        'gnustep/Info-gnustep.plist.in': {
            'CFBundleIdentifier': '@VELTRIN_BUNDLE_IDENTIFIER@', 'NSExecutable': 'veltrin_Driverkit_Launcher',
            'NSMainNibFile': 'MainMenu.xib'}}.items():
    plist = read_plist(name)[1]
    for key, want in rows.items():
        got = plist.get(key)
        check(got == want or (want is str and isinstance(got, str) and got.strip()), f'{name}: {key} is {got!r}')

# codesign takes only plain XML with LF line ends. Three entitlements of the purpose, two to ask loginwindow to restart.
raw, entitlements = read_plist('veltrin_Driverkit_Launcher.entitlements')
check(raw.startswith(b'<?xml') and b'\r' not in raw and b'<!--' not in raw, 'entitlements: not plain XML')
check(entitlements == {
    'com.apple.security.app-sandbox': True, 'com.apple.developer.system-extension.install': True,
    'com.apple.security.files.user-selected.read-only': True, 'com.apple.security.automation.apple-events': True,
    'com.apple.security.temporary-exception.apple-events': ['com.apple.loginwindow']}, f'entitlements: {entitlements}')

xib = ET.parse(cocoa / 'MainMenu.xib').getroot()
elements = [e for e in xib.iter() if e.get('id')]
by_id = {e.get('id'): e for e in elements}
check(len(by_id) == len(elements), 'xib: an id is used twice')
delegates = [e for e in xib.iter('customObject') if e.get('customClass') == 'AppDelegate']
check(len(delegates) == 1 and delegates[0].get('customModule') is None, 'xib: not one AppDelegate of no module')
delegate = delegates[0].get('id') if delegates else None


def title(e):
    return e.get('title') or next((cell.get('title') for cell in e.findall('buttonCell')), None)


def display_only(e):
    return e.tag == 'textField' and e.find("textFieldCell[@editable='NO'][@selectable='NO']") is not None


# (owner, kind, name) -> what the connected object must be
WANT = {
    (delegate, 'outlet', 'window'): lambda e: e.tag == 'window' and e.get('releasedWhenClosed') == 'NO',
    (delegate, 'outlet', 'quitButton'): lambda e: e.tag == 'button' and title(e) == 'Quit',
    (delegate, 'outlet', 'messageBox'): display_only,
    (delegate, 'outlet', 'macOSMessageBox'): display_only,
    ('-2', 'outlet', 'delegate'): lambda e: e.get('id') == delegate,
    ('Load', 'action', 'loadDriverWithSender:'): lambda e: e.get('id') == delegate,
    ('Disable', 'action', 'disableDriverWithSender:'): lambda e: e.get('id') == delegate,
    ('Quit', 'action', 'terminate:'): lambda e: e.get('id') in ('-1', '-3'),
    ('Quit veltrin_Driverkit_Launcher', 'action', 'terminate:'): lambda e: e.get('id') in ('-1', '-3'),
}
found = {}
for owner in xib.iter():
    for c in owner.findall('connections/*'):
        key = (owner.get('id') if c.tag == 'outlet' else title(owner), c.tag, c.get('property') or c.get('selector'))
        found[key] = found.get(key, 0) + 1
        check(key not in WANT or WANT[key](by_id.get(c.get('destination') or c.get('target'), ET.Element('none'))),
              f'xib: {key} connects to the wrong object')
        check(c.tag == 'action' or owner.tag != 'customObject' or key in WANT, f'xib: stray outlet {key}')
check(all(found.get(key) == 1 for key in WANT), f'xib: connections {found}')

print('\n'.join(failures) or 'ok')
sys.exit(1 if failures else 0)
