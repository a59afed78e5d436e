#!/usr/bin/env bash
# clang-format (.clang-format), clang-tidy (.clang-tidy) and cppcheck over the project's own
# code. Any finding fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/dev}"
sources="$(pwd)/(veltrin_Driverkit_Launcher|platform)/"

echo "clang-format"
git ls-files '*.cpp' '*.hpp' | xargs clang-format --dry-run --Werror

echo "clang-tidy"
output=$(run-clang-tidy -quiet -p "$build" -j2 "$sources" 2>&1) || {
    echo "$output" | grep -E "warning:|error:" | sort -u
    exit 1
}

echo "cppcheck"
cppcheck --enable=warning,performance,portability --std=c++20 --inline-suppr \
    --error-exitcode=1 --quiet -I . \
    veltrin_Driverkit_Launcher platform
