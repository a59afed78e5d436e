#!/usr/bin/env bash
# The end-to-end cases against the GNUstep build: one private Xvfb for the run.
# Usage: gnustep_e2e.sh E2E_TEST_BINARY GNUSTEP_LAUNCHER [gtest args...]
set -euo pipefail
tests=$1 app=$2
shift 2
number=$(mktemp)
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$number" >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true; rm -f "$number"' EXIT
for _ in $(seq 100); do
    [[ -s $number ]] && break
    sleep 0.1
done
VELTRIN_E2E_APP=$app VELTRIN_E2E_DISPLAY=":$(head -n1 "$number")" "$tests" "$@"
