#!/usr/bin/env bash
# Replays the mutation set against the test suite. Each row changes one
# expression of the product code; the script applies it to a scratch copy of the
# working tree (build/mutate/), rebuilds the row's test targets, runs its ctest
# labels, records "caught" or "survived", and puts the line back. A suite that
# lets a row survive has lost a fault it is meant to catch.
#
#   bash scripts/mutate.sh [RESULTS_FILE] [ROW_PATTERN]
#
# RESULTS_FILE defaults to build/mutations.txt; ROW_PATTERN (a grep -E pattern
# on the row id) runs only some rows. MUTATE_REV=<commit> runs against that
# commit's tree instead of the working tree; MUTATE_SCRATCH moves the scratch
# copy. The end-to-end label is not run here: it takes minutes per row.
set -uo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
results=${1:-$top/build/mutations.txt}
only=${2:-.}
scratch=${MUTATE_SCRATCH:-$top/build/mutate}
export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR=/work

# Test targets and labels of each group of rows.
declare -A targets=(
    [logic]="launcher_unit_tests activity_log_appender launcher_property_tests"
    [sysext]="sysext_unit_tests sysext_process_tests sysext_request_tests sysextctl"
    [lock]="sysext_process_tests sysext_request_tests sysextctl veltrin_Driverkit_Launcher logind_recorder activity_log_appender"
    [qt]="qt_backend_tests qt_application_main_tests"
)
declare -A labels=([logic]="unit|property" [sysext]="sysext" [lock]="sysext|load" [qt]="qt")

# id @@ group @@ file @@ occurrence @@ text @@ replacement
rows=$(
    cat <<'EOF'
order-completion@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@1@@platform::osLog(logText);@@writeLog(activityText); platform::osLog(logText);
order-failure@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@1@@writeLog(platform::formatLogMessage(format, {description}));@@platform::osLog(format, {description}); writeLog(platform::formatLogMessage(format, {description}));
no-status-success@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@1@@showStatus(statusText);@@showStatus(statusText.substr(1));
pause-failure@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@3@@platform::sleepForTimeInterval(settlingPauseSeconds);@@
pause-replacement@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@4@@platform::sleepForTimeInterval(settlingPauseSeconds);@@
pause-length@@logic@@veltrin_Driverkit_Launcher/AppDelegate.hpp@@1@@settlingPauseSeconds = 1.0;@@settlingPauseSeconds = 0.5;
timer-length@@logic@@veltrin_Driverkit_Launcher/AppDelegate.hpp@@1@@exitTimerSeconds = 5.0;@@exitTimerSeconds = 4.0;
timer-repeats@@logic@@veltrin_Driverkit_Launcher/AppDelegate.cpp@@1@@exitTimerSeconds, *this, false);@@exitTimerSeconds, *this, true);
timer-unexpected-unheld@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@1@@if (commandLineMode && exitTimer) {@@if (commandLineMode) {
timer-failure-mode@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@2@@if (commandLineMode && exitTimer) {@@if (exitTimer) {
timer-completion-held@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@1@@        if (commandLineMode) {@@        if (commandLineMode && exitTimer) {
timer-launch@@logic@@veltrin_Driverkit_Launcher/LaunchSequence.cpp@@1@@    if (commandLineMode) {@@    if (true) {
cancel-invalidate@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@1@@exitTimer->invalidate();@@
cancel-clear@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@1@@exitTimer.reset();@@
keep-failure@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@2@@keepRunning = true;@@
keep-unexpected@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@1@@if (interactiveInstall) {@@if (commandLineMode) {
keep-fire@@logic@@veltrin_Driverkit_Launcher/AppDelegate.cpp@@1@@if (keepRunning) {@@if (false) {
replace-answer@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@1@@return platform::Replacement::replace;@@return existingVersion < newVersion ? platform::Replacement::replace : platform::Replacement::cancel;
gate-13@@logic@@veltrin_Driverkit_Launcher/MacOSVersion.cpp@@1@@{13, 0, 0}@@{13, 0, 1}
gate-12@@logic@@veltrin_Driverkit_Launcher/MacOSVersion.cpp@@1@@{12, 0, 0}@@{12, 0, 1}
gate-stop@@logic@@veltrin_Driverkit_Launcher/LaunchSequence.cpp@@1@@if (version == MacOSVersion::unsupported) {@@if (false) {
stamp-day@@logic@@veltrin_Driverkit_Launcher/ActivityLog.cpp@@1@@"dd/MM/yyyy HH:mm:ss"@@"MM/dd/yyyy HH:mm:ss"
stamp-hour@@logic@@veltrin_Driverkit_Launcher/ActivityLog.cpp@@1@@"dd/MM/yyyy HH:mm:ss"@@"dd/MM/yyyy hh:mm:ss"
line-crlf@@logic@@veltrin_Driverkit_Launcher/ActivityLogLine.cpp@@1@@.append("\r\n");@@.append("\n");
line-colon@@logic@@veltrin_Driverkit_Launcher/ActivityLogLine.cpp@@1@@.append(":")@@.append(": ")
log-append@@logic@@platform/posix/FileHandle.cpp@@1@@O_RDWR | O_APPEND@@O_RDWR
log-read-write@@logic@@platform/posix/FileHandle.cpp@@1@@O_RDWR | O_APPEND@@O_WRONLY | O_APPEND
escape-tab@@logic@@veltrin_Driverkit_Launcher/ArgumentReport.cpp@@1@@out.append("\\t");@@out.push_back('\t');
escape-2029@@logic@@veltrin_Driverkit_Launcher/ArgumentReport.cpp@@1@@ || codePoint == 0x2029) {@@) {
escape-invalid@@logic@@veltrin_Driverkit_Launcher/ArgumentReport.cpp@@1@@out.append("\\x{");@@out.append("\\u{");
mode-order@@logic@@veltrin_Driverkit_Launcher/LaunchMode.cpp@@1@@if (contains(arguments, "-install")) {@@if (contains(arguments, "-install") && !contains(arguments, "-uninstall")) {
restart@@logic@@veltrin_Driverkit_Launcher/LaunchSequence.cpp@@1@@platform::requestRestart();@@
return-key@@logic@@veltrin_Driverkit_Launcher/LaunchSequence.cpp@@1@@setKeyEquivalent("\r");@@setKeyEquivalent("\n");
decide-same-version@@sysext@@platform/sysext/ServiceDecisions.cpp@@1@@if (installed->version == offered.version && !state.developerMode) {@@if (installed->version == offered.version) {
decide-decline@@sysext@@platform/sysext/ServiceDecisions.cpp@@1@@if (action != platform::Replacement::replace) {@@if (action < platform::Replacement::cancel) {
decide-busy@@sysext@@platform/sysext/ServiceDecisions.cpp@@1@@if (!state.busy.contains(identifier)) {@@if (true) {
decide-token@@sysext@@platform/sysext/ServiceDecisions.cpp@@1@@if (pending->second != token) {@@if (pending->second == token + "x") {
decide-forget-pending@@sysext@@platform/sysext/ServiceDecisions.cpp@@2@@state.pendingApprovals.erase(identifier);@@
decide-reboot@@sysext@@platform/sysext/ServiceDecisions.cpp@@1@@state.busy.clear();@@
decide-approve@@sysext@@platform/sysext/ServiceDecisions.cpp@@1@@slots->second.live->state = LiveState::activatedEnabled;@@
format-line-end@@sysext@@platform/sysext/StateFormat.cpp@@1@@if (bytes_.back() != '\n') {@@if (false) {
format-busy@@sysext@@platform/sysext/StateFormat.cpp@@1@@appendLine(out, {"busy", identifier});@@appendLine(out, {"approved", identifier});
tool-release@@sysext@@platform/sysext/Sysextctl.cpp@@1@@parseRelease(command.arguments[1], 1)@@parseRelease(command.arguments[1], 3)
gate-release@@sysext@@platform/sysext/OperatingSystemRelease.cpp@@1@@return running >= sysext::Release@@return running > sysext::Release
lock-swapped@@lock@@platform/sysext/StateStore.cpp@@1@@mode == LockMode::exclusive ? LOCK_EX : LOCK_SH@@mode == LockMode::shared ? LOCK_EX : LOCK_SH
lock-update@@lock@@platform/sysext/StateStore.cpp@@2@@auto lock = StateLock::acquire(paths_, LockMode::exclusive);@@auto lock = StateLock::acquire(paths_, LockMode::shared);
qt-early@@qt@@platform/qt/Timers.cpp@@1@@std::ceil(seconds * 1000.0)@@std::floor(seconds * 1000.0)
qt-enter@@qt@@platform/qt/Outlets.cpp@@1@@return {QKeySequence(Qt::Key_Return)};@@return {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)};
qt-default@@qt@@platform/qt/Outlets.cpp@@1@@button_->setDefault(!shortcuts_.empty() && key == "\r");@@button_->setDefault(false);
qt-cancel-own@@qt@@platform/qt/Timers.cpp@@1@@found->second.get() == timer@@timer != nullptr
qt-quit@@qt@@platform/qt/ApplicationMain.cpp@@1@@QCoreApplication::quit();@@
qt-pause@@qt@@platform/qt/Pause.cpp@@1@@std::this_thread::sleep_for(@@static_cast<void>(
EOF
)

# The tree as it is now, tracked and new files alike; the scratch build stays.
# Every file gets the time of extraction (-m): with the tree's older times, an
# object built from the last mutant of an earlier run would look up to date.
mkdir -p "$scratch"
find "$scratch" -mindepth 1 -maxdepth 1 ! -name build -exec rm -rf {} +
if [[ -n ${MUTATE_REV:-} ]]; then
    git -C "$top" archive "$MUTATE_REV" | tar -xmf - -C "$scratch"
else
    (cd "$top" && git ls-files -co --exclude-standard -z | xargs -0 tar -cf - --) | tar -xmf - -C "$scratch"
fi
cd "$scratch" || exit 1
cmake --preset dev >/dev/null || exit 1
: >"$results"
caught=0
survived=0
missing=0
while IFS= read -r row; do
    IFS=$'\x1f' read -r id group file occurrence text replacement <<<"${row//@@/$'\x1f'}"
    [[ $id =~ $only ]] || continue
    cp "$file" "$file.orig"
    if ! python3 - "$file" "$occurrence" "$text" "$replacement" <<'PY'; then
import sys
path, nth, old, new = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
src = open(path).read()
at = -1
for _ in range(nth):
    at = src.find(old, at + 1)
    if at < 0:
        sys.exit(f"{path}: occurrence {nth} of {old!r} not found")
open(path, "w").write(src[:at] + new + src[at + len(old):])
PY
        verdict=missing
    elif ! cmake --build build/dev -j2 --target ${targets[$group]} >build/mutate.log 2>&1; then
        verdict=caught-by-compiler
    elif ctest --test-dir build/dev -L "${labels[$group]}" -j2 --timeout 30 >>build/mutate.log 2>&1; then
        verdict=survived
    else
        verdict=caught
    fi
    cp "$file.orig" "$file" && rm "$file.orig"
    case $verdict in
        survived) survived=$((survived + 1)) ;;
        missing) missing=$((missing + 1)) ;;
        *) caught=$((caught + 1)) ;;
    esac
    printf '%-26s %-18s %s\n' "$id" "$verdict" "$file" | tee -a "$results"
done <<<"$rows"
echo "caught $caught, survived $survived, missing $missing" | tee -a "$results"
# A row whose text is gone tests nothing: the set must follow the code.
((missing == 0))
