#!/usr/bin/env bash
# One whole run of each launcher mode under valgrind memcheck, against one
# stand-in state: -install (approved ahead, so it completes and ends), -uninstall
# of what that installed, -installInteractive, and interactive use quit with
# SIGTERM. Fails on any memcheck error and on any definite leak that the
# toolkit suppressions do not name. Prints the counts and times of every run.
#
#   bash scripts/valgrind.sh            builds the dev preset first
#   VELTRIN_BUILD_DIR=build/x bash scripts/valgrind.sh   uses binaries already built there
#
# Every run gets a fresh HOME and a shared XDG_STATE_HOME under one temporary
# directory, and a system bus address where nothing listens, so the restart
# request of -installInteractive can reach no machine.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

if [[ -z "${VELTRIN_BUILD_DIR:-}" ]]; then
    cmake --preset dev >/dev/null
    cmake --build --preset dev --target veltrin_Driverkit_Launcher sysextctl
    build="$repo/build/dev"
else
    build=$(cd "$VELTRIN_BUILD_DIR" && pwd)
fi
launcher="$build/veltrin_Driverkit_Launcher"
sysextctl="$build/sysextctl"
suppressions="$repo/tests/valgrind/toolkit.supp"
dext=$(sed -n 's/^VELTRIN_DEXT_IDENTIFIER:STRING=//p' "$build/CMakeCache.txt")
command -v valgrind >/dev/null || { echo "valgrind.sh: valgrind is not installed" >&2; exit 2; }
[[ -x "$launcher" && -x "$sysextctl" && -n "$dext" ]] || {
    echo "valgrind.sh: no launcher, sysextctl or extension identifier in $build" >&2
    exit 2
}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/veltrin-valgrind-XXXXXX")
keep=0
pid=""
cleanup() {
    # An interrupted script leaves no launcher behind.
    if [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null; then
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
    if [[ $keep == 1 ]]; then
        echo "valgrind.sh: logs kept in $scratch" >&2
    else
        rm -rf "$scratch"
    fi
}
trap cleanup EXIT
mkdir -p "$scratch/state" "$scratch/runtime"
chmod 700 "$scratch/runtime"

# The whole environment of a child, as a command prefix; nothing of the
# caller's display, session, home or system bus.
child_env() {
    child_env=(env -i PATH="$PATH" HOME="$1" XDG_STATE_HOME="$scratch/state"
        XDG_RUNTIME_DIR="$scratch/runtime" QT_QPA_PLATFORM=offscreen
        DBUS_SYSTEM_BUS_ADDRESS="unix:path=$scratch/no-bus")
}

ctl() {
    child_env "$scratch"
    "${child_env[@]}" "$sysextctl" "$@" >/dev/null
}

failures=0

# run NAME EXPECTED_LOG_TEXT [FLAG]: one launcher run under memcheck; with no
# flag it is interactive use, quit with SIGTERM once its launch is over.
run() {
    local name=$1 expected=$2 flag=${3:-}
    local home="$scratch/$name" vlog="$scratch/$name.valgrind" out="$scratch/$name.out"
    mkdir -p "$home"
    : >"$home/veltrinLogFile.txt"
    local started=$SECONDS status=0
    # 120 s at most, whatever happens. A simple command started with & is its
    # own process, so $! is timeout itself, which hands a TERM on to the launcher.
    child_env "$home"
    "${child_env[@]}" timeout -k 10 120 valgrind --tool=memcheck --leak-check=full \
        --errors-for-leak-kinds=definite --error-exitcode=1 --num-callers=40 \
        --suppressions="$suppressions" --log-file="$vlog" \
        "$launcher" ${flag:+"$flag"} >"$out" 2>"$scratch/$name.err" &
    pid=$!
    if [[ -z $flag ]]; then
        # The argument report is the launch sequence's last output.
        local waited=0
        until grep -q '^\[' "$out" 2>/dev/null || ! kill -0 "$pid" 2>/dev/null ||
            ((waited >= 900)); do
            sleep 0.1
            waited=$((waited + 1))
        done
        sleep 3
        kill -TERM "$pid" 2>/dev/null || true
    fi
    wait "$pid" || status=$?
    pid=""
    local seconds=$((SECONDS - started))

    local errors definite problem=""
    errors=$(sed -n 's/.*ERROR SUMMARY: \([0-9,]*\) errors.*/\1/p' "$vlog" | tail -1 | tr -d ,)
    definite=$(sed -n 's/.*definitely lost: \([0-9,]*\) bytes in \([0-9,]*\) blocks.*/\1 bytes in \2 blocks/p' "$vlog" | tail -1)
    [[ -n $errors ]] || { errors="?"; problem="no memcheck summary"; }
    [[ -n $definite ]] || definite="0 bytes in 0 blocks"
    if [[ $status == 124 || $status == 137 ]]; then
        problem="hung: stopped after 120 s"
    elif [[ $status != 0 ]]; then
        problem="exit status $status"
    elif ! grep -qF -- "$expected" "$home/veltrinLogFile.txt"; then
        problem="activity log lacks \"$expected\""
    fi
    local line
    line=$(printf '%-20s %3s s  errors %s  definitely lost (unsuppressed) %s' \
        "${flag:-interactive}" "$seconds" "$errors" "$definite")
    if [[ -n $problem ]]; then
        line+="  FAIL: $problem (see $vlog)"
        failures=$((failures + 1))
        keep=1
    fi
    echo "$line"
}

echo "valgrind memcheck, one run per mode:"
ctl reset
ctl approve "$dext"
success="Success:System extension operation successful."
run install "$success" -install
run uninstall "$success" -uninstall
run install-interactive "$success" -installInteractive
run interactive "Info:Command arguments=" ""

if ((failures > 0)); then
    echo "valgrind.sh: $failures run(s) failed" >&2
    exit 1
fi
