#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, and runs every test;
# with the default preset also the macOS backend's GNUstep build and its tests.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-dev}"
scripts/install-deps.sh
cmake --preset "$preset"
cmake --build --preset "$preset"
ctest --preset "$preset"
if [[ "$preset" == dev ]]; then
    cmake --preset gnustep
    cmake --build --preset gnustep
    ctest --preset gnustep
fi
