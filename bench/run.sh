#!/usr/bin/env bash
# Measures, over several runs each, against the stand-in service:
#   (a) the wall time of a whole -install run of an already approved extension,
#       as overhead over the ideal 6.0 s (1.0 s pause, then the 5.0 s exit timer);
#   (b) the time from process start to the end of the launch sequence in
#       interactive use (the argument report is its last output);
#   (c) peak resident memory of a -install run;
#   (d) the whole run of -status (start to exit);
#   (e) how long after its deadline a -install -wait 2 run that waits for
#       approval ends, counted from the request (its argument report follows
#       the request at once).
# Each figure stands next to the same figure of a floor measured in the same
# run: the least program of the same toolkit (bench/floor/, a window with one
# label that prints a line and quits). The launcher cannot beat its toolkit, so
# the targets are relative to it:
#   start-up <= 1.15 x floor, peak memory <= 1.1 x floor + 3 MiB,
#   overhead <= floor's start-up + 10 ms, -status <= 1.2 x the floor's whole
#   run (start to exit); a -wait run ends within 50 ms of its deadline.
# The Qt build runs offscreen; the GNUstep build (when GNUstep is installed)
# runs under Xvfb. Each launcher is built with the optimisation of its floor
# (RelWithDebInfo: the release and gnustep-release presets, -O2 -g -DNDEBUG);
# GNUSTEP_LAUNCHER (the .app or its executable) times another build instead.
# Nothing is asserted: the machines are shared and noisy, so read the spread,
# not one number.
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${RUNS:-5}"

scripts/install-deps.sh --all
cmake --preset release >/dev/null
cmake --build --preset release --target veltrin_Driverkit_Launcher sysextctl >/dev/null
app="$PWD/build/release/veltrin_Driverkit_Launcher"
ctl="$PWD/build/release/sysextctl"
identifier=$(sed -n 's/^VELTRIN_DEXT_IDENTIFIER:STRING=//p' build/release/CMakeCache.txt)

# The floor with the flags of the release preset.
floors="$PWD/build/bench-floor"
cmake -S bench/floor -B "$floors" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$floors" -j2 >/dev/null

work=$(mktemp -d)
xvfb_pid=""
any_alive() {
    local p
    for p in "$@"; do [[ -d "/proc/$p" ]] && return 0; done
    return 1
}
cleanup() {
    # gdnc outlives the programs that start it; ours are the ones that carry
    # our temporary GNUstep configuration.
    local p pids=()
    for p in /proc/[0-9]*; do
        if grep -qzsF "GNUSTEP_CONFIG_FILE=$work/" "$p/environ" 2>/dev/null; then
            pids+=("${p#/proc/}")
        fi
    done
    [[ -n "$xvfb_pid" ]] && pids+=("$xvfb_pid")
    for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
    # Not children of ours (gdnc) or not yet gone: none may outlive the run.
    for _ in $(seq 20); do
        any_alive "${pids[@]}" || break
        sleep 0.1
    done
    rm -rf "$work"
}
trap cleanup EXIT

now_ns() { date +%s%N; }
ms() { awk -v ns="$1" 'BEGIN { printf "%.1f\n", ns / 1000000 }'; }
median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }
spread() {  # min / median / max
    local sorted
    sorted=$(printf '%s\n' "$@" | sort -n)
    printf '%s / %s / %s' "$(head -n 1 <<<"$sorted")" "$(median "$@")" "$(tail -n 1 <<<"$sorted")"
}

# Each measure fills one of these with one value per run.
launcher_launch=() launcher_over=() launcher_peak=() launcher_status=() status_peak=()
launcher_late=()
floor_launch=() floor_wall=() floor_peak=()
# Milliseconds from start to the first line that starts with "[" (the
# launcher's argument report, the floor's only line); then the program is
# stopped if it has not quit by itself.
measure_launch() {  # array name, command...
    local -n out="$1"
    shift
    out=()
    local start end line fd pid
    for _ in $(seq "$runs"); do
        start=$(now_ns)
        # Not a coprocess: bash forgets one that has quit before it is read, as
        # the floor does. exec: $! is the program itself, so the signal reaches it.
        exec {fd}< <(exec "$@" 2>/dev/null)
        pid=$!
        while IFS= read -r line <&"$fd"; do
            [[ "$line" == \[* ]] && break
        done
        end=$(now_ns)
        kill -TERM "$pid" 2>/dev/null || true
        exec {fd}<&-
        wait "$pid" 2>/dev/null || true
        out+=("$(ms $(( end - start )))")
    done
}
# Whole runs: wall milliseconds beyond the given ideal, and peak KiB.
measure_run() {  # wall array name, peak array name, ideal ns, command...
    local -n walls="$1" peaks="$2"
    local ideal="$3"
    shift 3
    walls=()
    peaks=()
    local start end peak
    for _ in $(seq "$runs"); do
        start=$(now_ns)
        peak=$(/usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1)
        end=$(now_ns)
        walls+=("$(ms $(( (end - start) - ideal )))")
        peaks+=("$peak")
    done
}

# Milliseconds from the argument report (right after the request) to the end of
# standard output, which the process closes as it exits, beyond the deadline.
measure_deadline() {  # array name, deadline seconds, command...
    local -n out="$1"
    local deadline_ms=$(( $2 * 1000 ))
    shift 2
    out=()
    local report end line fd
    for _ in $(seq "$runs"); do
        exec {fd}< <(exec "$@" 2>/dev/null)
        report=""
        while IFS= read -r line <&"$fd"; do
            [[ -z "$report" && "$line" == \[* ]] && report=$(now_ns)
        done
        end=$(now_ns)
        exec {fd}<&-
        out+=("$(ms $(( end - report - deadline_ms * 1000000 )))")
    done
}

# Brings the extension to "activated enabled" once, approving it on request.
approve_once() {  # home, command...
    local home="$1"
    shift
    "$@" -install >/dev/null 2>&1 &
    local pid=$!
    for _ in $(seq 100); do
        grep -q "requires user approval" "$home/veltrinLogFile.txt" && break
        sleep 0.1
    done
    "${ctl_env[@]}" "$ctl" approve "$identifier" >/dev/null
    wait "$pid"
}

row() {  # label, launcher values text, floor text, ratio, target text, pass?
    printf '  %-28s %-26s %-10s %-7s %-34s %s\n' "$@"
}
verdict() { awk -v v="$1" -v t="$2" 'BEGIN { print (v <= t) ? "PASS" : "over" }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# Prints the three rows of one toolkit from the arrays of the measures.
compare() {  # title
    local title="$1"
    local l_launch f_launch l_peak f_peak l_over
    l_launch=$(median "${launcher_launch[@]}")
    f_launch=$(median "${floor_launch[@]}")
    l_peak=$(median "${launcher_peak[@]}")
    f_peak=$(median "${floor_peak[@]}")
    l_over=$(median "${launcher_over[@]}")
    local launch_limit peak_limit over_limit
    launch_limit=$(awk -v f="$f_launch" 'BEGIN { printf "%.1f", 1.15 * f }')
    peak_limit=$(awk -v f="$f_peak" 'BEGIN { printf "%.0f", 1.1 * f + 3072 }')
    over_limit=$(awk -v f="$f_launch" 'BEGIN { printf "%.1f", f + 10 }')
    echo "$title, $runs runs, medians"
    row "" "launcher min / median / max" "floor" "ratio" "target" ""
    row "start to end of launch, ms" "$(spread "${launcher_launch[@]}")" "$f_launch" \
        "$(ratio "$l_launch" "$f_launch")" "<= 1.15 x floor = $launch_limit" \
        "$(verdict "$l_launch" "$launch_limit")"
    row "peak resident memory, KiB" "$(spread "${launcher_peak[@]}")" "$f_peak" \
        "$(ratio "$l_peak" "$f_peak")" "<= 1.1 x floor + 3 MiB = $peak_limit" \
        "$(verdict "$l_peak" "$peak_limit")"
    row "-install over 6.0 s, ms" "$(spread "${launcher_over[@]}")" "$f_launch" \
        "$(ratio "$l_over" "$over_limit")" "<= floor start-up + 10 = $over_limit" \
        "$(verdict "$l_over" "$over_limit")"
    echo "  (floor's whole run, start to exit: $(median "${floor_wall[@]}") ms)"
    local f_wall l_status status_limit
    f_wall=$(median "${floor_wall[@]}")
    l_status=$(median "${launcher_status[@]}")
    status_limit=$(awk -v f="$f_wall" 'BEGIN { printf "%.1f", 1.2 * f }')
    row "-status whole run, ms" "$(spread "${launcher_status[@]}")" "$f_wall" \
        "$(ratio "$l_status" "$f_wall")" "<= 1.2 x floor's whole run = $status_limit" \
        "$(verdict "$l_status" "$status_limit")"
    row "-wait 2 ends after deadline, ms" "$(spread "${launcher_late[@]}")" "" "" "<= 50" \
        "$(verdict "$(median "${launcher_late[@]}")" 50)"
}

# --- Qt, offscreen ---------------------------------------------------------
mkdir -p "$work/qt/home" "$work/qt/state"
touch "$work/qt/home/veltrinLogFile.txt"
# Never the real system bus: the restart request must not reach anything.
qt_env=(env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS
    HOME="$work/qt/home" XDG_STATE_HOME="$work/qt/state" QT_QPA_PLATFORM=offscreen
    DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/no-bus")
ctl_env=("${qt_env[@]}")
approve_once "$work/qt/home" "${qt_env[@]}" "$app"

measure_run launcher_over launcher_peak 6000000000 "${qt_env[@]}" "$app" -install
measure_launch launcher_launch "${qt_env[@]}" "$app"
measure_run launcher_status status_peak 0 "${qt_env[@]}" "$app" -status
# A state where the extension was never approved: the request waits until the deadline.
measure_deadline launcher_late 2 "${qt_env[@]}" XDG_STATE_HOME="$work/qt/unapproved" "$app" -install -wait 2
measure_run floor_wall floor_peak 0 "${qt_env[@]}" "$floors/qt_floor"
measure_launch floor_launch "${qt_env[@]}" "$floors/qt_floor"
compare "Qt 6 Widgets (offscreen)"

# --- GNUstep, under Xvfb ---------------------------------------------------
echo
if ! command -v gnustep-config >/dev/null || ! command -v clang-16 >/dev/null; then
    echo "GNUstep: skipped (gnustep-config or clang-16 not installed)"
    exit 0
fi

# The launcher as optimised as the floor below, unless another one is named.
if [[ -z "${GNUSTEP_LAUNCHER:-}" ]]; then
    cmake --preset gnustep-release >/dev/null
    cmake --build --preset gnustep-release --target veltrin_Driverkit_Launcher_gnustep >/dev/null
fi

# GNUstep's compiler flags (-g -O2), with clang and gcc's Objective-C runtime headers.
mkdir -p "$floors/include"
ln -sfn /usr/lib/gcc/x86_64-linux-gnu/12/include/objc "$floors/include/objc"
headers=$(gnustep-config --variable=GNUSTEP_SYSTEM_HEADERS)
read -r -a objc_flags <<<"$(gnustep-config --objc-flags |
    sed -e 's/-MMD//; s/-MP//' -e "s|-I$headers|-isystem $headers|")"
read -r -a gui_libs <<<"$(gnustep-config --gui-libs)"
clang-16 -x objective-c++ -std=c++20 -fobjc-runtime=gcc "${objc_flags[@]}" -isystem "$floors/include" \
    -DNDEBUG bench/floor/gnustep_floor.mm -o "$floors/gnustep_floor" "${gui_libs[@]}" -lstdc++

# User directories in the temporary tree, so nothing is written to the real home.
gs="$work/gs"
mkdir -p "$gs/home" "$gs/state" "$gs/Defaults"
touch "$gs/home/veltrinLogFile.txt"
{
    grep -v -e '^GNUSTEP_USER' -e '^#' -e '^$' /etc/GNUstep/GNUstep.conf
    echo "GNUSTEP_USER_CONFIG_FILE=$gs/none.conf"
    echo "GNUSTEP_USER_DEFAULTS_DIR=$gs/Defaults"
    sed -n "s|^\(GNUSTEP_USER_DIR_[A-Z_]*\)=\(.*\)|\1=$gs/\2|p" /etc/GNUstep/GNUstep.conf
} >"$gs/GNUstep.conf"
# No window manager: GNUstep draws its own decorations, for the launcher too.
echo '{ GSX11HandlesWindowDecorations = NO; }' >"$gs/Defaults/NSGlobalDomain.plist"

exec {xvfb_out}< <(Xvfb -displayfd 1 -nolisten tcp -screen 0 1024x768x24 2>/dev/null & echo $!)
read -r xvfb_pid <&"$xvfb_out"
read -r display <&"$xvfb_out"
gs_env=(env -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS DISPLAY=":$display"
    HOME="$gs/home" XDG_STATE_HOME="$gs/state" GNUSTEP_CONFIG_FILE="$gs/GNUstep.conf"
    DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/no-bus")
floor_cmd=("${gs_env[@]}" "$floors/gnustep_floor" -GSX11HandlesWindowDecorations NO)
# The first GNUstep program starts gdnc, which then serves every later run.
"${floor_cmd[@]}" >/dev/null 2>&1
measure_run floor_wall floor_peak 0 "${floor_cmd[@]}"
measure_launch floor_launch "${floor_cmd[@]}"

gs_app="${GNUSTEP_LAUNCHER:-build/gnustep-release/gnustep/veltrin_Driverkit_Launcher.app}"
if [[ -d "$gs_app" ]]; then
    name=$(basename "$gs_app" .app)
    for candidate in "$gs_app/$name" "$gs_app/Contents/MacOS/$name"; do
        [[ -x "$candidate" && -f "$candidate" ]] && gs_app="$candidate" && break
    done
fi
if [[ -f "$gs_app" && -x "$gs_app" ]]; then
    gs_app=$(realpath "$gs_app")
    ctl_env=("${gs_env[@]}")
    approve_once "$gs/home" "${gs_env[@]}" "$gs_app"
    measure_run launcher_over launcher_peak 6000000000 "${gs_env[@]}" "$gs_app" -install
    measure_launch launcher_launch "${gs_env[@]}" "$gs_app"
    measure_run launcher_status status_peak 0 "${gs_env[@]}" "$gs_app" -status
    measure_deadline launcher_late 2 "${gs_env[@]}" XDG_STATE_HOME="$gs/unapproved" "$gs_app" -install -wait 2
    compare "GNUstep ($gs_app, Xvfb)"
else
    echo "GNUstep ($runs runs, medians): no launcher at $gs_app, floor only"
    row "start to end of launch, ms" "" "$(median "${floor_launch[@]}")" "" "" ""
    row "peak resident memory, KiB" "" "$(median "${floor_peak[@]}")" "" "" ""
    echo "  (floor's whole run, start to exit: $(median "${floor_wall[@]}") ms)"
fi
