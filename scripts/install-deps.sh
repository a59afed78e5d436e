#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need and the
# machine does not have yet. Does nothing (and needs no network) when all is there.
set -euo pipefail

packages=(
    cmake g++ make pkg-config
    googletest libgtest-dev libgmock-dev
    qt6-base-dev qt6-base-dev-tools libgl-dev
    # gdbus carries the restart request of both Linux builds.
    dbus-daemon dbus-bin libglib2.0-bin
    xvfb xauth xdotool fonts-dejavu-core
    python3
    # The macOS backend on GNUstep: clang 16 for Objective-C++ with gcc's runtime.
    clang-16 libobjc-12-dev gnustep-make libgnustep-base-dev libgnustep-gui-dev
    gnustep-back0.29 gnustep-back0.29-cairo
)
if [[ "${1:-}" == "--all" ]]; then
    # Hardening runs: sanitizers and fuzzers with clang, analysers, valgrind.
    packages+=(clang libclang-rt-14-dev clang-tidy cppcheck valgrind time)
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -ne 0 ]] && sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
