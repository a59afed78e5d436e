#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, and runs every test;
# with the default preset also the macOS backend's GNUstep build and its tests.
# The run fails when it leaves anything new in the real home directory ($HOME
# and the password database's), this repository aside: no test may write there.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-dev}"
scripts/install-deps.sh

repository="$(pwd -P)"
homes="$(printf '%s\n' "$HOME" "$(getent passwd "$(id -u)" | cut -d: -f6)" | sort -u)"
paths_in_homes() {
    local home
    while IFS= read -r home; do
        [[ -d $home ]] && find "$home" -xdev -path "$repository" -prune -o -print 2>/dev/null
    done <<<"$homes"
}
before="$(paths_in_homes | sort)"

cmake --preset "$preset"
cmake --build --preset "$preset"
ctest --preset "$preset"
if [[ "$preset" == dev ]]; then
    cmake --preset gnustep
    cmake --build --preset gnustep
    ctest --preset gnustep
fi

left="$(comm -13 <(echo "$before") <(paths_in_homes | sort))"
if [[ -n "$left" ]]; then
    echo "The test run left new files in the real home directory:" >&2
    echo "$left" | head -20 >&2
    exit 1
fi
