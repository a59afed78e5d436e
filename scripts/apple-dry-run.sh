#!/usr/bin/env bash
# Configures and builds the macOS bundle here with every Apple tool stubbed
# (xcrun, ibtool, codesign, and the compiler and linker behind a launcher that
# only records its flags), so that a Linux machine checks what only a Mac would
# otherwise: the Apple CMake configures, the bundle holds its parts where macOS
# and the system-extension service look, the executable is universal for 11.3,
# its documents carry what macOS reads, signing goes from the inside out with
# the entitlements a Developer ID and an ad hoc signature each must claim, and
# configure refuses what macOS would refuse later. It also configures the
# GNUstep build and fails when the Apple executable would link less of the
# program than the GNUstep one does, the GNUstep build's shims aside: a library
# missing there is a link failure that only a Mac would otherwise show. Needs
# clang (to be identified only), plistutil and the GNUstep build's packages.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d)"
trap '[[ -n ${KEEP:-} ]] || rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/sdk" "$work/src"
git -C "$root" ls-files -co --exclude-standard -z | tar -C "$root" --null -T - -cf - | tar -C "$work/src" -xf -
ls "$work/src/platform/cocoa/"*.mm >/dev/null 2>&1 || : >"$work/src/platform/cocoa/Stub.mm"

stub() { printf '#!/bin/sh\n%s\n' "$2" >"$work/bin/$1" && chmod +x "$work/bin/$1"; }
# Each build's calls go to its own file ($CALLS).
stub xcrun "[ \"\$2\" = ibtool ] && echo $work/bin/ibtool || echo $work/sdk"
stub install_name_tool ":"
stub codesign "echo \"codesign \$*\" >>\"\$CALLS\""
stub ibtool "echo \"ibtool \$*\" >>\"\$CALLS\"; while [ \$# -gt 0 ]; do [ \"\$1\" = --compile ] && : >\"\$2\"; shift; done"
stub tool "echo \"tool \$*\" >>\"\$CALLS\"; while [ \$# -gt 0 ]; do [ \"\$1\" = -o ] && mkdir -p \"\$(dirname \"\$2\")\" && : >\"\$2\"; shift; done"
clang="$(command -v clang++)"
export PATH="$work/bin:$PATH"
configure() {  # build folder, cmake options...
    local build="$1"
    shift
    cmake -S "$work/src" -B "$build" -G "Unix Makefiles" -DCMAKE_SYSTEM_NAME=Darwin \
        -DCMAKE_CXX_COMPILER="$clang" -DCMAKE_OBJCXX_COMPILER="$clang" -DCMAKE_OSX_SYSROOT="$work/sdk" \
        -DCMAKE_INSTALL_NAME_TOOL="$work/bin/install_name_tool" -DCMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY \
        -DCMAKE_OSX_ARCHITECTURES="arm64;x86_64" -DCMAKE_OSX_DEPLOYMENT_TARGET=11.3 \
        -DVELTRIN_DESKTOP=OFF -DVELTRIN_TESTS=OFF \
        -DCMAKE_CXX_COMPILER_LAUNCHER="$work/bin/tool" -DCMAKE_OBJCXX_COMPILER_LAUNCHER="$work/bin/tool" \
        -DCMAKE_CXX_LINKER_LAUNCHER="$work/bin/tool" -DCMAKE_OBJCXX_LINKER_LAUNCHER="$work/bin/tool" "$@"
}
# A provisioning profile is a signed message around a property list; this one
# grants the system extension to the dry run's team and application.
team=ABCDE12345
{
    printf '0\x80\x06\x09*\x86H\x86\xf7\x0d\x01\x07\x02\xa0\x80\n'
    printf '<plist version="1.0"><dict><key>Entitlements</key><dict>\n'
    printf '<key>com.apple.application-identifier</key>\n<string>%s.com.veltrin.driverkit.Launcher</string>\n' $team
    printf '<key>com.apple.developer.system-extension.install</key>\n<true/>\n</dict></dict></plist>\n'
} >"$work/launcher.provisionprofile"
developer_id=(-DVELTRIN_CODESIGN_IDENTITY="Developer ID Application: Dry Run (ABCDE12345)")
CALLS="$work/calls" configure "$work/build" "${developer_id[@]}" -DVELTRIN_TEAM_ID=$team \
    -DVELTRIN_PROVISIONING_PROFILE="$work/launcher.provisionprofile" >/dev/null
CALLS="$work/calls" cmake --build "$work/build" -j2 >/dev/null
CALLS="$work/ad-hoc-calls" configure "$work/ad-hoc" -DVELTRIN_CODESIGN_IDENTITY=- >/dev/null
CALLS="$work/ad-hoc-calls" cmake --build "$work/ad-hoc" -j2 >/dev/null
cmake -S "$work/src" -B "$work/gnustep" -DVELTRIN_GNUSTEP=ON -DVELTRIN_DESKTOP=OFF -DVELTRIN_TESTS=OFF \
    -DCMAKE_OBJCXX_COMPILER=/usr/bin/clang++-16 >/dev/null

app="$work/build/veltrin_Driverkit_Launcher.app"
dext="$app/Contents/Library/SystemExtensions/com.veltrin.driverkit.VeltrinDriver.dext"
fail=0
expect() { grep -q -e "$2" "$work/calls" || { echo "missing: $1"; fail=1; }; }
for file in Info.plist MacOS/veltrin_Driverkit_Launcher Resources/MainMenu.nib embedded.provisionprofile; do
    [[ -f "$app/Contents/$file" ]] || { echo "missing: Contents/$file"; fail=1; }
done
[[ -f "$dext/Info.plist" ]] || { echo "missing: the embedded driver extension"; fail=1; }
expect "a universal link for 11.3 against AppKit, Foundation, SystemExtensions and Core Services (Apple events)" \
    "-arch arm64 -arch x86_64 .*-mmacosx-version-min=11.3 .*-o [^ ]*/MacOS/veltrin_Driverkit_Launcher .*-framework AppKit -framework Foundation -framework SystemExtensions -framework CoreServices"
expect "the layout compiled" "ibtool .*--compile [^ ]*MainMenu.nib [^ ]*MainMenu.xib"
order="$(grep -o -e "^codesign .*--sign.* [^ ]*\.\(app\|dext\)$" "$work/calls" | grep -o '\.[a-z]*$' | tr -d '\n')"
[[ "$order" == ".dext.app" ]] || { echo "signing order: $order"; fail=1; }
expect "the application signed with its entitlements, hardened, timestamped" \
    "codesign --force --options runtime --timestamp --entitlements [^ ]*\.entitlements --sign .*\.app$"
grep -q -e "--timestamp" "$work/ad-hoc-calls" && { echo "an ad hoc signature asks for a timestamp"; fail=1; }

# The documents as macOS reads them, by two parsers that are not ours: the
# values each build must carry, and the entitlements each signature claims.
signed() { grep -o -e "--entitlements [^ ]*" "$1" | head -n 1 | cut -d' ' -f2; }
for plist in "$app/Contents/Info.plist" "$dext/Info.plist" "$(signed "$work/calls")" "$(signed "$work/ad-hoc-calls")"; do
    plistutil -i "$plist" -o "$work/binary.plist" -f bin >/dev/null 2>&1 && [[ -s "$work/binary.plist" ]] ||
        { echo "plistutil cannot read $plist"; fail=1; }
    rm -f "$work/binary.plist"
done
python3 - "$app/Contents/Info.plist" "$dext/Info.plist" "$(signed "$work/calls")" "$(signed "$work/ad-hoc-calls")" \
    "$team" <<'PYTHON' || fail=1
import plistlib, sys
info, dext, developer_id, ad_hoc = (plistlib.load(open(path, 'rb')) for path in sys.argv[1:5])
team, failures = sys.argv[5], []
base = {'com.apple.security.app-sandbox': True, 'com.apple.security.files.user-selected.read-only': True,
        'com.apple.security.automation.apple-events': True,
        'com.apple.security.temporary-exception.apple-events': ['com.apple.loginwindow']}
wanted = [
    ('Info.plist', info, {'CFBundleIdentifier': 'com.veltrin.driverkit.Launcher', 'LSMinimumSystemVersion': '11.3',
                          'CFBundleExecutable': 'veltrin_Driverkit_Launcher',
                          'CFBundleDisplayName': 'veltrin_Driverkit_Launcher'}),
    ('the extension\'s Info.plist', dext, {'CFBundleIdentifier': 'com.veltrin.driverkit.VeltrinDriver'}),
    ('the Developer ID signature', developer_id, {**base, 'com.apple.developer.system-extension.install': True,
                                                 'com.apple.application-identifier': f'{team}.com.veltrin.driverkit.Launcher',
                                                 'com.apple.developer.team-identifier': team}),
    ('the ad hoc signature', ad_hoc, base),
]
for what, got, want in wanted:
    if what.endswith('signature') and set(got) != set(want):
        failures.append(f'{what} claims {sorted(got)}')
    failures += [f'{what}: {key} is {got.get(key)!r}' for key, value in want.items() if got.get(key) != value]
if not 0 < len(info.get('CFBundleName', '')) <= 15:
    failures.append(f"Info.plist: CFBundleName {info.get('CFBundleName')!r} is not 1 to 15 characters")
if not info.get('NSAppleEventsUsageDescription') or not dext.get('OSBundleUsageDescription'):
    failures.append('Info.plist or the extension\'s lacks its usage description')
sys.exit('\n'.join(failures) if failures else 0)
PYTHON

# What configure must refuse, and why.
mkdir -p "$work/Other.dext"
sed 's/@VELTRIN_DEXT_IDENTIFIER@/com.example.Other/' "$work/src/platform/cocoa/apple/DextInfo.plist.in" \
    >"$work/Other.dext/Info.plist"
refused() {  # what, the reason configure must give, cmake options...
    local what="$1" reason="$2"
    shift 2
    if CALLS=/dev/null configure "$work/refused" "$@" >"$work/refused.out" 2>&1; then
        echo "not refused: $what"
        fail=1
    elif ! tr -s ' \n' ' ' <"$work/refused.out" | grep -q -F -e "$reason"; then
        echo "refused, but not because $reason: $what"
        fail=1
    fi
    rm -rf "$work/refused"
}
refused "a Developer ID signature without a profile" "needs VELTRIN_TEAM_ID" "${developer_id[@]}"
refused "a profile for another team" "does not grant <string>ZYXWV98765.com.veltrin.driverkit.Launcher" \
    "${developer_id[@]}" -DVELTRIN_TEAM_ID=ZYXWV98765 -DVELTRIN_PROVISIONING_PROFILE="$work/launcher.provisionprofile"
refused "an extension bundle of another identifier" "is the extension com.example.Other" \
    -DVELTRIN_DEXT_BUNDLE="$work/Other.dext"
refused "a bundle name longer than 15 characters" "VELTRIN_BUNDLE_NAME must have 1 to 15" \
    -DVELTRIN_BUNDLE_NAME=veltrin_Driverkit_Launcher

# What the GNUstep executable links, less its shims, the Apple one must link too.
# The check is tried once on a link line without platform_posix, where it must fail.
apple_link="$(grep -e "-o [^ ]*/MacOS/veltrin_Driverkit_Launcher " "$work/calls")"
gnustep_libraries="$(grep -o 'lib[A-Za-z0-9_]*\.a' \
    "$work/gnustep/platform/cocoa/CMakeFiles/veltrin_Driverkit_Launcher_gnustep.dir/link.txt" | sort -u |
    grep -v -x -F -f <(sed 's/.*/lib&.a/' "$work/gnustep/launchers/veltrin_Driverkit_Launcher_gnustep.shims"))"
lacking() {  # the libraries of the GNUstep program that the link line $1 does not name
    local library
    for library in $gnustep_libraries; do
        [[ " $1 " =~ [\ /]"$library"\  ]] || echo "$library"
    done
}
[[ -n "$gnustep_libraries" && -n "$apple_link" ]] || { echo "no link line to compare"; fail=1; }
missing_libraries="$(lacking "$apple_link")"
[[ -z "$missing_libraries" ]] || { echo "the Apple executable does not link:" $missing_libraries; fail=1; }
[[ "$(lacking "${apple_link//libplatform_posix.a/}")" == libplatform_posix.a ]] ||
    { echo "the link comparison does not see a missing platform_posix"; fail=1; }
[[ $fail -eq 0 ]] && echo "macOS bundle dry run: ok"
exit $fail
