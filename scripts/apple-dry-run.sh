#!/usr/bin/env bash
# Configures and builds the macOS bundle here with every Apple tool stubbed
# (xcrun, ibtool, codesign, and the compiler and linker behind a launcher that
# only records its flags), so that a Linux machine checks what only a Mac would
# otherwise: the Apple CMake configures, the bundle holds its parts where macOS
# and the system-extension service look, the executable is universal for 11.3,
# and signing goes from the inside out. Needs clang, to be identified only.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/sdk" "$work/src"
git -C "$root" ls-files -co --exclude-standard -z | tar -C "$root" --null -T - -cf - | tar -C "$work/src" -xf -
ls "$work/src/platform/cocoa/"*.mm >/dev/null 2>&1 || : >"$work/src/platform/cocoa/Stub.mm"

stub() { printf '#!/bin/sh\n%s\n' "$2" >"$work/bin/$1" && chmod +x "$work/bin/$1"; }
stub xcrun "[ \"\$2\" = ibtool ] && echo $work/bin/ibtool || echo $work/sdk"
stub install_name_tool ":"
stub codesign "echo \"codesign \$*\" >>$work/calls"
stub ibtool "echo \"ibtool \$*\" >>$work/calls; while [ \$# -gt 0 ]; do [ \"\$1\" = --compile ] && : >\"\$2\"; shift; done"
stub tool "echo \"tool \$*\" >>$work/calls; while [ \$# -gt 0 ]; do [ \"\$1\" = -o ] && mkdir -p \"\$(dirname \"\$2\")\" && : >\"\$2\"; shift; done"
clang="$(command -v clang++)"
export PATH="$work/bin:$PATH"
cmake -S "$work/src" -B "$work/build" -G "Unix Makefiles" -DCMAKE_SYSTEM_NAME=Darwin \
    -DCMAKE_CXX_COMPILER="$clang" -DCMAKE_OBJCXX_COMPILER="$clang" -DCMAKE_OSX_SYSROOT="$work/sdk" \
    -DCMAKE_INSTALL_NAME_TOOL="$work/bin/install_name_tool" -DCMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY \
    -DCMAKE_OSX_ARCHITECTURES="arm64;x86_64" -DCMAKE_OSX_DEPLOYMENT_TARGET=11.3 \
    -DVELTRIN_DESKTOP=OFF -DVELTRIN_TESTS=OFF -DVELTRIN_CODESIGN_IDENTITY="Developer ID Application: Dry Run" \
    -DCMAKE_CXX_COMPILER_LAUNCHER="$work/bin/tool" -DCMAKE_OBJCXX_COMPILER_LAUNCHER="$work/bin/tool" \
    -DCMAKE_CXX_LINKER_LAUNCHER="$work/bin/tool" -DCMAKE_OBJCXX_LINKER_LAUNCHER="$work/bin/tool" >/dev/null
cmake --build "$work/build" -j2 >/dev/null

app="$work/build/veltrin_Driverkit_Launcher.app"
dext="$app/Contents/Library/SystemExtensions/com.veltrin.driverkit.VeltrinDriver.dext"
fail=0
expect() { grep -q -e "$2" "$work/calls" || { echo "missing: $1"; fail=1; }; }
for file in Info.plist MacOS/veltrin_Driverkit_Launcher Resources/MainMenu.nib; do
    [[ -f "$app/Contents/$file" ]] || { echo "missing: Contents/$file"; fail=1; }
done
[[ -f "$dext/Info.plist" ]] || { echo "missing: the embedded driver extension"; fail=1; }
grep -q "<string>com.veltrin.driverkit.Launcher</string>" "$app/Contents/Info.plist" || { echo "Info.plist unfilled"; fail=1; }
expect "a universal link for 11.3 against the three frameworks" \
    "-arch arm64 -arch x86_64 .*-mmacosx-version-min=11.3 .*-o [^ ]*/MacOS/veltrin_Driverkit_Launcher .*-framework AppKit -framework Foundation -framework SystemExtensions"
expect "the layout compiled" "ibtool .*--compile [^ ]*MainMenu.nib [^ ]*MainMenu.xib"
order="$(grep -o -e "^codesign .*--sign.* [^ ]*\.\(app\|dext\)$" "$work/calls" | grep -o '\.[a-z]*$' | tr -d '\n')"
[[ "$order" == ".dext.app" ]] || { echo "signing order: $order"; fail=1; }
expect "the application signed with its entitlements, hardened" \
    "codesign --force --options runtime --timestamp --entitlements [^ ]*\.entitlements --sign .*\.app$"
[[ $fail -eq 0 ]] && echo "macOS bundle dry run: ok"
exit $fail
