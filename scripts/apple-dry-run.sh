#!/usr/bin/env bash
# Configures and builds the macOS bundle here with every Apple tool stubbed
# (xcrun, ibtool, codesign, and the compiler and linker behind a launcher that
# only records its flags), so that a Linux machine checks what only a Mac would
# otherwise: the Apple CMake configures, the bundle holds its parts where macOS
# and the system-extension service look, the executable is universal for 11.3,
# and signing goes from the inside out. It also configures the GNUstep build and
# fails when the Apple executable would link less of the program than the
# GNUstep one does, the GNUstep build's shims aside: a library missing there is
# a link failure that only a Mac would otherwise show. Needs clang (to be
# identified only) and the GNUstep build's packages.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d)"
trap '[[ -n ${KEEP:-} ]] || rm -rf "$work"' EXIT
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
cmake -S "$work/src" -B "$work/gnustep" -DVELTRIN_GNUSTEP=ON -DVELTRIN_DESKTOP=OFF -DVELTRIN_TESTS=OFF \
    -DCMAKE_OBJCXX_COMPILER=/usr/bin/clang++-16 >/dev/null

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
    "-arch arm64 -arch x86_64 .*-mmacosx-version-min=11.3 .*-o [^ ]*/MacOS/veltrin_Driverkit_Launcher .*-framework AppKit -framework Foundation -framework SystemExtensions -framework CoreServices"
expect "the layout compiled" "ibtool .*--compile [^ ]*MainMenu.nib [^ ]*MainMenu.xib"
order="$(grep -o -e "^codesign .*--sign.* [^ ]*\.\(app\|dext\)$" "$work/calls" | grep -o '\.[a-z]*$' | tr -d '\n')"
[[ "$order" == ".dext.app" ]] || { echo "signing order: $order"; fail=1; }
expect "the application signed with its entitlements, hardened" \
    "codesign --force --options runtime --timestamp --entitlements [^ ]*\.entitlements --sign .*\.app$"

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
