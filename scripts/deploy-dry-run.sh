#!/usr/bin/env bash
# Builds the macOS installer package and notarizes it here, with every Apple tool
# stubbed (the compiler and linker behind a launcher that only records, xcrun,
# codesign, ditto, pkgbuild, productbuild, pkgutil), and checks what only a Mac
# would otherwise show: the Apple build makes the configuration profile, the
# package holds the signed application for /Applications with its postinstall,
# it is signed with the installer identity, and the notarization submits what
# was signed and staples it, in that order. Then once more without an installer
# identity, when the application itself is zipped, notarized and stapled. Needs
# clang (to be identified only).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d)"
trap '[[ -n ${KEEP:-} ]] || rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/sdk" "$work/src"
git -C "$root" ls-files -co --exclude-standard -z | tar -C "$root" --null -T - -cf - | tar -C "$work/src" -xf -

calls="$work/calls"
stub() { printf '#!/bin/sh\necho "%s $*" >>%s\n%s\n' "$1" "$calls" "$2" >"$work/bin/$1" && chmod +x "$work/bin/$1"; }
stub xcrun "case \$1 in --find) echo $work/bin/ibtool ;; notarytool) printf '  id: 1\n  status: Accepted\n' ;;
    stapler) ;; *) echo $work/sdk ;; esac"
stub install_name_tool ":"
stub ibtool "while [ \$# -gt 0 ]; do [ \"\$1\" = --compile ] && : >\"\$2\"; shift; done"
stub tool "while [ \$# -gt 0 ]; do [ \"\$1\" = -o ] && mkdir -p \"\$(dirname \"\$2\")\" && : >\"\$2\"; shift; done"
stub codesign "[ \"\$1\" != --display ] || echo 'Authority=Developer ID Application: Dry Run (A1B2C3D4E5)' >&2"
stub ditto "[ \"\$1\" = -c ] && : >\"\$5\" || cp -R \"\$1\" \"\$2\""
stub pkgbuild "for last; do :; done; : >\"\$last\""
stub productbuild "for last; do :; done; : >\"\$last\""
stub pkgutil "echo '    1. Developer ID Installer: Dry Run (A1B2C3D4E5)'"
clang="$(command -v clang++)"
export PATH="$work/bin:$PATH" VELTRIN_NOTARY_PROFILE=dry-run
# A Developer ID signature needs a provisioning profile that grants the system
# extension to the team's application; only the property list inside matters here.
printf '%s\n' '<plist version="1.0"><dict><key>Entitlements</key><dict>' \
    '<key>com.apple.application-identifier</key><string>A1B2C3D4E5.com.veltrin.driverkit.Launcher</string>' \
    '<key>com.apple.developer.system-extension.install</key><true/></dict></dict></plist>' \
    >"$work/launcher.provisionprofile"
configure() {
    cmake -S "$work/src" -B "$work/build" -G "Unix Makefiles" -DCMAKE_SYSTEM_NAME=Darwin \
        -DCMAKE_CXX_COMPILER="$clang" -DCMAKE_OBJCXX_COMPILER="$clang" -DCMAKE_OSX_SYSROOT="$work/sdk" \
        -DCMAKE_INSTALL_NAME_TOOL="$work/bin/install_name_tool" -DCMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY \
        -DCMAKE_OSX_ARCHITECTURES="arm64;x86_64" -DCMAKE_OSX_DEPLOYMENT_TARGET=11.3 \
        -DVELTRIN_DESKTOP=OFF -DVELTRIN_TESTS=OFF -DVELTRIN_TEAM_ID=A1B2C3D4E5 \
        -DVELTRIN_CODESIGN_IDENTITY="Developer ID Application: Dry Run (A1B2C3D4E5)" \
        -DVELTRIN_PROVISIONING_PROFILE="$work/launcher.provisionprofile" \
        -DCMAKE_CXX_COMPILER_LAUNCHER="$work/bin/tool" -DCMAKE_OBJCXX_COMPILER_LAUNCHER="$work/bin/tool" \
        -DCMAKE_CXX_LINKER_LAUNCHER="$work/bin/tool" -DCMAKE_OBJCXX_LINKER_LAUNCHER="$work/bin/tool" "$@" >/dev/null
    : >"$calls"
    cmake --build "$work/build" -j2 >/dev/null
    cmake --build "$work/build" --target notarize >/dev/null
}

fail=0
# expect WHAT PATTERN...: the calls match the patterns in this order, each on a later line.
expect() {
    local what="$1" line=0 found
    shift
    for pattern; do
        found="$(tail -n +"$((line + 1))" "$calls" | grep -n -m 1 -e "$pattern" | cut -d: -f1)" ||
            { echo "missing: $what: $pattern"; fail=1; return; }
        line=$((line + found))
    done
}

app="[^ ]*/veltrin_Driverkit_Launcher\.app"
package="[^ ]*/veltrin_Driverkit_Launcher-[0-9.]*\.pkg"
configure -DVELTRIN_INSTALLER_IDENTITY="Developer ID Installer: Dry Run (A1B2C3D4E5)"
expect "signed, packaged, signed again, checked, notarized, stapled" \
    "^codesign .*--sign .*\.dext$" "^codesign .*--sign .*\.app$" \
    "^ditto $app [^ ]*/root/veltrin_Driverkit_Launcher\.app$" \
    "^pkgbuild --root [^ ]*/root --component-plist [^ ]*/component\.plist --identifier com\.veltrin\.driverkit\.Launcher --version [0-9.]* --install-location /Applications --scripts [^ ]* [^ ]*-component\.pkg$" \
    "^productbuild --distribution [^ ]*/Distribution\.xml --package-path [^ ]* --sign Developer ID Installer: Dry Run (A1B2C3D4E5) --timestamp $package$" \
    "^codesign --display --verbose=2 $app$" "^pkgutil --check-signature $package$" \
    "^xcrun notarytool submit $package --keychain-profile dry-run --wait$" "^xcrun stapler staple $package$"
scripts="$(sed -n 's/^pkgbuild .*--scripts \([^ ]*\) .*/\1/p' "$calls")"
if [[ ! -x "$scripts/postinstall" ]] || grep -q @ "$scripts/postinstall"; then
    echo "no filled postinstall in $scripts"
    fail=1
fi
python3 - "$work/build" <<'EOF' || fail=1
import plistlib, sys
build = sys.argv[1]
[bundle] = plistlib.load(open(f'{build}/deploy/component.plist', 'rb'))
profile = plistlib.load(open(f'{build}/com.veltrin.driverkit.VeltrinDriver.mobileconfig', 'rb'))
distribution = open(f'{build}/deploy/Distribution.xml').read()
wrong = [what for ok, what in (
    (bundle['BundleIsRelocatable'] is False, 'the application is relocatable'),
    (bundle['RootRelativeBundlePath'] == 'veltrin_Driverkit_Launcher.app', 'the component list names another bundle'),
    ('hostArchitectures="arm64,x86_64"' in distribution, 'the package would ask Apple silicon for Rosetta'),
    ('A1B2C3D4E5' in profile['PayloadContent'][0]['AllowedSystemExtensions'], 'the profile lacks the team')) if not ok]
print(*wrong, sep='\n') if wrong else None
sys.exit(1 if wrong else 0)
EOF

configure -DVELTRIN_INSTALLER_IDENTITY=
expect "without an installer identity, the application zipped, notarized and stapled" \
    "^codesign --display --verbose=2 $app$" "^ditto -c -k --keepParent $app [^ ]*/veltrin_Driverkit_Launcher\.zip$" \
    "^xcrun notarytool submit [^ ]*\.zip --keychain-profile dry-run --wait$" "^xcrun stapler staple $app$"
! grep -q -e "^pkgbuild" -e "^productbuild" "$calls" || { echo "a package without an identity to sign it"; fail=1; }
[[ $fail -eq 0 ]] && echo "deployment dry run: ok"
exit $fail
