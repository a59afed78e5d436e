#!/usr/bin/env bash
# Replays the mutation set against the test suite. Each row breaks one
# expression of the product code: the script applies it to a scratch copy of the
# working tree (build/mutate/), rebuilds the row's targets, runs the row's tests,
# and puts the line back. Every row must be caught by a failing test:
#
#   caught               a test failed
#   caught-by-compiler   the build refused the mutant, and the row is one the
#                        compiler is meant to refuse (compiler_refuses below)
#   equivalent           no test failed, and the row is listed as equivalent
#                        below with the reason no test can tell
#   survived             no test failed: the suite lost a fault it should catch
#   not-compiled         the build refused a mutant it should have taken: the
#                        row tests nothing
#   missing              the row's text is not in its function any more
#
# The run fails unless every row is caught, caught-by-compiler or equivalent.
#
#   bash scripts/mutate.sh [RESULTS_FILE] [ROW_PATTERN]
#
# RESULTS_FILE defaults to build/mutations.txt; ROW_PATTERN (a grep -E pattern on
# the row id) runs only some rows; MUTATE_CHECK=1 only checks that every row
# finds its text, without building. MUTATE_REV=<commit> runs against that
# commit's tree instead of the working tree; MUTATE_SCRATCH moves the scratch copy.
set -uo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
results=$(realpath -m "${1:-$top/build/mutations.txt}")
only=${2:-.}
scratch=${MUTATE_SCRATCH:-$top/build/mutate}

# What each group of rows builds, and which tests it runs (ctest arguments). A
# row may name its own tests instead, as a seventh field.
declare -A targets=(
    [logic]="launcher_unit_tests activity_log_appender launcher_property_tests"
    [sysext]="sysext_unit_tests sysext_process_tests sysext_request_tests sysextctl"
    [lock]="sysext_process_tests sysext_request_tests sysextctl veltrin_Driverkit_Launcher activity_log_appender"
    [qt]="qt_backend_tests qt_application_main_tests"
    [e2e]="veltrin_Driverkit_Launcher sysextctl activity_log_appender"
    [deploy]=""
)
declare -A tests=([logic]="-L unit|property" [sysext]="-L sysext" [lock]="-L sysext|load"
    [qt]="-L qt" [e2e]="-L e2e" [deploy]="-L deploy")

# Rows no test can catch, each with the reason.
declare -A equivalent=()
# Rows the compiler is meant to refuse, each with the reason.
declare -A compiler_refuses=(
    [format-not-in-table]="a log format that is not a row of platform/LogFormats.hpp does not compile"
)

# id @@ group @@ file @@ anchor @@ text @@ replacement [@@ tests]
# The row changes the first occurrence of text after the first occurrence of
# anchor (the function it aims at), so that each row hits the line it names.
rows=$(
    cat <<'EOF'
order-completion@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@::requestDidFinishWithResult(@@platform::osLog(logText);@@writeLog(activityText); platform::osLog(logText);
order-failure@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@::requestDidFailWithError(@@writeLog(platform::formatLogMessage(format, {description}));@@platform::osLog(format, {description}); writeLog(platform::formatLogMessage(format, {description}));
no-status-success@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@::requestDidFinishWithResult(@@showStatus(statusText);@@showStatus(statusText.substr(1));
pause-completion@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@::requestDidFinishWithResult(@@platform::sleepForTimeInterval(settlingPauseSeconds);@@
pause-failure@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@::requestDidFailWithError(@@platform::sleepForTimeInterval(settlingPauseSeconds);@@
pause-replacement@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@::requestActionForReplacingExtension(@@platform::sleepForTimeInterval(settlingPauseSeconds);@@
pause-length@@logic@@veltrin_Driverkit_Launcher/AppDelegate.hpp@@@@settlingPauseSeconds = 1.0;@@settlingPauseSeconds = 0.5;
timer-length@@logic@@veltrin_Driverkit_Launcher/AppDelegate.hpp@@@@exitTimerSeconds = 5.0;@@exitTimerSeconds = 4.0;
timer-repeats@@logic@@veltrin_Driverkit_Launcher/AppDelegate.cpp@@::scheduleExitTimer()@@exitTimerSeconds, *this, false);@@exitTimerSeconds, *this, true);
timer-unexpected-held@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@Unexpected result %d@@if (exitTimer || boundedWait) {@@if (true) {
timer-unexpected-wait@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@Unexpected result %d@@if (exitTimer || boundedWait) {@@if (exitTimer) {
timer-failure-held@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@::requestDidFailWithError(@@if (exitTimer || boundedWait) {@@if (true) {
timer-failure-wait@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@::requestDidFailWithError(@@if (exitTimer || boundedWait) {@@if (exitTimer) {
timer-completion-held@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@::requestDidFinishWithResult(@@        if (commandLineMode) {@@        if (commandLineMode && exitTimer) {
timer-launch@@logic@@veltrin_Driverkit_Launcher/LaunchSequence.cpp@@argumentReportLine(args)@@    if (commandLineMode) {@@    if (true) {
cancel-invalidate@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@::requestNeedsUserApproval(@@exitTimer->invalidate();@@
cancel-clear@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@::requestNeedsUserApproval(@@exitTimer.reset();@@
keep-failure@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@::requestDidFailWithError(@@keepRunning = true;@@
keep-unexpected@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@Unexpected result %d@@if (interactiveInstall) {@@if (commandLineMode) {
keep-fire@@logic@@veltrin_Driverkit_Launcher/AppDelegate.cpp@@AppDelegate::fireTimer()@@if (keepRunning ||@@if (false ||
replace-answer@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@::requestActionForReplacingExtension(@@return platform::Replacement::replace;@@return existingVersion < newVersion ? platform::Replacement::replace : platform::Replacement::cancel;
gate-13@@logic@@veltrin_Driverkit_Launcher/MacOSVersion.cpp@@detectMacOSVersion()@@{13, 0, 0}@@{13, 0, 1}
gate-12@@logic@@veltrin_Driverkit_Launcher/MacOSVersion.cpp@@detectMacOSVersion()@@{12, 0, 0}@@{12, 0, 1}
gate-stop@@logic@@veltrin_Driverkit_Launcher/LaunchSequence.cpp@@detectMacOSVersion()@@if (version == MacOSVersion::unsupported) {@@if (false) {
stamp-day@@logic@@veltrin_Driverkit_Launcher/ActivityLog.cpp@@timestampString()@@"dd/MM/yyyy HH:mm:ss"@@"MM/dd/yyyy HH:mm:ss"
stamp-hour@@logic@@veltrin_Driverkit_Launcher/ActivityLog.cpp@@timestampString()@@"dd/MM/yyyy HH:mm:ss"@@"dd/MM/yyyy hh:mm:ss"
line-crlf@@logic@@veltrin_Driverkit_Launcher/ActivityLogLine.cpp@@activityLogLine(@@.append("\r\n");@@.append("\n");
line-colon@@logic@@veltrin_Driverkit_Launcher/ActivityLogLine.cpp@@activityLogLine(@@.append(":")@@.append(": ")
log-append@@logic@@platform/posix/FileHandle.cpp@@fileHandleForAppending(@@O_RDWR | O_APPEND@@O_RDWR
log-read-write@@logic@@platform/posix/FileHandle.cpp@@fileHandleForAppending(@@O_RDWR | O_APPEND@@O_WRONLY | O_APPEND
log-nonblock@@logic@@platform/posix/FileHandle.cpp@@fileHandleForAppending(@@O_NOCTTY | O_NONBLOCK@@O_NOCTTY
log-take-back@@logic@@platform/posix/FileHandle.cpp@@void writeData(@@takeBack(start, end);@@
escape-tab@@logic@@platform/text/EscapedText.cpp@@@@out.append("\\t");@@out.push_back('\t');
escape-2029@@logic@@platform/text/EscapedText.cpp@@@@ || codePoint == 0x2029) {@@) {
escape-invalid@@logic@@platform/text/EscapedText.cpp@@@@out.append("\\x{");@@out.append("\\u{");
mode-whole-argument@@logic@@veltrin_Driverkit_Launcher/CommandLine.cpp@@bool contains(@@return std::ranges::find(arguments, flag) != arguments.end();@@return std::ranges::any_of(arguments, [flag](const std::string& a) { return a.starts_with(flag); });
wait-range@@logic@@veltrin_Driverkit_Launcher/CommandLine.cpp@@bool readSeconds(@@seconds <= longestWait@@seconds < longestWait
wait-takes@@logic@@veltrin_Driverkit_Launcher/CommandLine.cpp@@readCommandLine(@@ || !line.mode->takesWait@@
wait-timer-before-outcome@@logic@@veltrin_Driverkit_Launcher/AppDelegate.cpp@@AppDelegate::fireTimer()@@ || (boundedWait && !outcomeArrived)@@
wait-deadline-after-outcome@@logic@@veltrin_Driverkit_Launcher/AppDelegate.cpp@@WaitDeadline::fireTimer()@@if (!outcomeArrived) {@@if (true) {
wait-deadline-length@@logic@@veltrin_Driverkit_Launcher/LaunchSequence.cpp@@if (boundedWait) {@@static_cast<double>(line.waitSeconds)@@static_cast<double>(line.waitSeconds) + 1.0
exit-approval@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@::requestNeedsUserApproval(@@platform::setExitStatus(exitStatus::awaitingApproval);@@
exit-after-restart@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@::requestDidFinishWithResult(@@completed ? exitStatus::success : exitStatus::afterRestart@@exitStatus::success
exit-unexpected@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@Unexpected result %d@@noteOutcome(exitStatus::failure);@@noteOutcome(exitStatus::success);
exit-unsupported@@logic@@veltrin_Driverkit_Launcher/LaunchSequence.cpp@@if (version == MacOSVersion::unsupported) {@@endWithStatus(exitStatus::unsupportedRelease);@@endWithStatus(exitStatus::failure);
exit-usage@@logic@@veltrin_Driverkit_Launcher/LaunchSequence.cpp@@::applicationDidFinishLaunching()@@endWithStatus(exitStatus::usageError);@@endWithStatus(exitStatus::failure);
status-precedence@@logic@@veltrin_Driverkit_Launcher/StatusReport.cpp@@statusReport(@@report.exitStatus != exitStatus::success@@true
status-word@@logic@@veltrin_Driverkit_Launcher/StatusReport.cpp@@stateWord(@@? "uninstalling"@@? "enabled"
status-none@@logic@@veltrin_Driverkit_Launcher/StatusReport.cpp@@statusReport(@@exitStatus::noVersionKnown@@exitStatus::failure
advice-domain@@logic@@veltrin_Driverkit_Launcher/FailureAdvice.cpp@@adviceFor(@@error.domain == platform::systemExtensionErrorDomain && @@
advice-row@@logic@@veltrin_Driverkit_Launcher/FailureAdvice.cpp@@@@{Code::validationFailed, "validationFailed",@@{Code::forbiddenBySystemPolicy, "validationFailed",
advice-written@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@::requestDidFailWithError(@@platform::writeStandardError(adviceFor(error));@@
restart@@logic@@veltrin_Driverkit_Launcher/LaunchSequence.cpp@@if (interactiveInstall) {@@platform::requestRestart();@@
return-key@@logic@@veltrin_Driverkit_Launcher/LaunchSequence.cpp@@@@setKeyEquivalent("\r");@@setKeyEquivalent("\n");
format-not-in-table@@logic@@veltrin_Driverkit_Launcher/RequestCallbacks.cpp@@::requestDidFailWithError(@@"Error:System extension request failed: %@"@@"Error:System extension request failed: %s"
decide-same-version@@sysext@@platform/sysext/ServiceDecisions.cpp@@beginActivation(@@if (installed->version == offered.version && !state.developerMode) {@@if (installed->version == offered.version) {
decide-decline@@sysext@@platform/sysext/ServiceDecisions.cpp@@answerReplacement(@@if (action != platform::Replacement::replace) {@@if (action < platform::Replacement::cancel) {
decide-busy@@sysext@@platform/sysext/ServiceDecisions.cpp@@answerReplacement(@@if (!state.busy.contains(identifier)) {@@if (true) {
decide-token@@sysext@@platform/sysext/ServiceDecisions.cpp@@checkApproval(@@if (pending->second != token) {@@if (pending->second == token + "x") {
decide-forget-pending@@sysext@@platform/sysext/ServiceDecisions.cpp@@Step beginDeactivation(@@state.pendingApprovals.erase(identifier);@@
decide-reboot@@sysext@@platform/sysext/ServiceDecisions.cpp@@void reboot(@@state.busy.clear();@@
decide-approve@@sysext@@platform/sysext/ServiceDecisions.cpp@@void approve(@@slots->second.live->state = LiveState::activatedEnabled;@@
decide-fail-once@@sysext@@platform/sysext/ServiceDecisions.cpp@@@@state.failNext.erase(code);@@
decide-awaiting@@sysext@@platform/sysext/ServiceDecisions.cpp@@findProperties(@@live->state == LiveState::activatedWaitingForUser;@@false;
decide-process-running@@sysext@@platform/sysext/ServiceDecisions.cpp@@bool processIsRunning(@@::kill(static_cast<pid_t>(processId), 0) == 0 || errno == EPERM@@::kill(static_cast<pid_t>(processId), 0) == 0 || true
format-line-end@@sysext@@platform/sysext/StateFormat.cpp@@@@if (bytes_.back() != '\n') {@@if (false) {
format-busy@@sysext@@platform/sysext/StateFormat.cpp@@serializeState(@@appendLine(out, {"busy", identifier});@@appendLine(out, {"approved", identifier});
tool-release@@sysext@@platform/sysext/Sysextctl.cpp@@int release(@@parseRelease(command.arguments[1], 1)@@parseRelease(command.arguments[1], 3)
tool-warn-after@@sysext@@platform/sysext/Sysextctl.cpp@@int change(@@        return stateError(command, changed.error().message);@@        command.err << afterwards; return stateError(command, changed.error().message);
gate-release@@sysext@@platform/sysext/OperatingSystemRelease.cpp@@@@return running >= sysext::Release@@return running > sysext::Release
state-owner@@sysext@@platform/sysext/StateStore.cpp@@openStateDirectory(@@if (status.st_uid != ::geteuid()) {@@if (false) {
state-others-write@@sysext@@platform/sysext/StateStore.cpp@@openStateDirectory(@@if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {@@if (false) {
state-follow-directory@@sysext@@platform/sysext/StateStore.cpp@@openStateDirectory(@@O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC@@O_RDONLY | O_DIRECTORY | O_CLOEXEC
state-size@@sysext@@platform/sysext/StateStore.cpp@@StateStore::updateWith(@@if (bytes.size() > largestStateFile) {@@if (false) {
lock-swapped@@lock@@platform/sysext/StateStore.cpp@@StateLock::acquire(@@mode == LockMode::exclusive ? LOCK_EX : LOCK_SH@@mode == LockMode::shared ? LOCK_EX : LOCK_SH
lock-update@@lock@@platform/sysext/StateStore.cpp@@StateStore::updateWith(@@LockMode::exclusive@@LockMode::shared
lock-quit@@e2e@@platform/sysext/StateStore.cpp@@waitForLock(@@wait.onQuit();@@@@-R ^Hostile[.]LockHeldElsewhere$
restart-sent@@e2e@@platform/posix/LogindRestart.cpp@@void requestRestart()@@::execv(gdbus.c_str(), argv.data());@@@@-R ^CommandLine[.]InteractiveInstallDenied
sigpipe-ignored@@e2e@@platform/posix/WriteFailureSignals.cpp@@@@std::signal(SIGPIPE, SIG_IGN)@@std::signal(SIGPIPE, SIG_DFL)@@-R ^Robustness[.]AReader
quit-while-blocked@@e2e@@platform/posix/StandardStreams.cpp@@writeStandardOutput(@@posix::quitSignalDescriptor()@@-1@@-R ^Robustness[.]AQuitSignal
qt-early@@qt@@platform/qt/Timers.cpp@@intervalFor(@@std::ceil(seconds * 1000.0)@@std::floor(seconds * 1000.0)
qt-enter@@qt@@platform/qt/Outlets.cpp@@keySequencesFor(@@return {QKeySequence(Qt::Key_Return)};@@return {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)};
qt-default@@qt@@platform/qt/Outlets.cpp@@::setKeyEquivalent(@@button_->setDefault(!shortcuts_.empty() && key == "\r");@@button_->setDefault(false);
qt-quit@@qt@@platform/qt/ApplicationMain.cpp@@void qt::quitApplication()@@QCoreApplication::quit();@@
qt-repeats@@qt@@platform/qt/Timers.cpp@@::timerEvent(@@if (!timer->repeats()) {@@if (true) {
qt-pause@@qt@@platform/qt/Pause.cpp@@@@std::this_thread::sleep_for(@@static_cast<void>(
qt-runtime-private@@qt@@platform/qt/ApplicationMain.cpp@@isPrivateDirectoryOfOurs(@@info.st_uid == ::geteuid() && (info.st_mode & 0777) == 0700@@true
qt-syslog-format@@qt@@platform/qt/UnifiedLog.cpp@@void osLog(@@::syslog(LOG_NOTICE, "%s", text.c_str());@@::syslog(LOG_NOTICE, text.c_str());
profile-type@@deploy@@deploy/SystemExtensionPolicy.mobileconfig.in@@@@<string>DriverExtension</string>@@<string>DriverExtensions</string>
postinstall-root@@deploy@@deploy/postinstall.in@@@@[ "$uid" = 0 ]@@[ "$uid" = x ]
EOF
)

# The tree as it is now, tracked and new files alike; the scratch build stays. The
# tests' scratch directories go to tmp/ in the copy: a caught mutant fails cases,
# and a failed case keeps its directory.
# Every file gets the time of extraction (-m): with the tree's older times, an
# object built from the last mutant of an earlier run would look up to date.
mkdir -p "$scratch"
find "$scratch" -mindepth 1 -maxdepth 1 ! -name build -exec rm -rf {} +
if [[ -n ${MUTATE_REV:-} ]]; then
    git -C "$top" archive "$MUTATE_REV" | tar -xmf - -C "$scratch"
else
    (cd "$top" && git ls-files -co --exclude-standard -z | xargs -0 tar -cf - --) | tar -xmf - -C "$scratch"
fi
cd "$scratch" && mkdir -p tmp || exit 1
if [[ -z ${MUTATE_CHECK:-} ]]; then
    cmake --preset dev >/dev/null || exit 1
fi

# Applies a row to its file: prints the line it changed, or fails.
mutate() {
    python3 - "$@" <<'PY'
import sys
path, anchor, old, new = sys.argv[1:5]
src = open(path).read()
start = src.find(anchor)
at = src.find(old, start) if start >= 0 else -1
if at < 0:
    sys.exit(f"{path}: {old!r} not found after {anchor!r}")
open(path, "w").write(src[:at] + new + src[at + len(old):])
print(src.count("\n", 0, at) + 1)
PY
}

mkdir -p "$(dirname "$results")" && : >"$results"
declare -A count=()
while IFS= read -r row; do
    IFS=$'\x1f' read -r id group file anchor text replacement selection <<<"${row//@@/$'\x1f'}"
    [[ $id =~ $only ]] || continue
    cp "$file" "$file.orig"
    if ! line=$(mutate "$file" "$anchor" "$text" "$replacement"); then
        verdict=missing
    elif [[ -n ${MUTATE_CHECK:-} ]]; then
        verdict=found
    elif ! { [[ $group != deploy ]] || cmake --preset dev >build/mutate.log 2>&1; } ||
        ! { [[ -z ${targets[$group]} ]] ||
            cmake --build build/dev -j2 --target ${targets[$group]} >build/mutate.log 2>&1; }; then
        verdict=not-compiled
        [[ -n ${compiler_refuses[$id]:-} ]] && verdict=caught-by-compiler
    elif TMPDIR=$PWD/tmp ctest --test-dir build/dev \
        ${selection:-${tests[$group]}} -j2 --timeout 60 --no-tests=error >>build/mutate.log 2>&1; then
        verdict=survived
        [[ -n ${equivalent[$id]:-} ]] && verdict=equivalent
    else
        verdict=caught
    fi
    cp "$file.orig" "$file" && rm "$file.orig"
    count[$verdict]=$((${count[$verdict]:-0} + 1))
    printf '%-28s %-18s %s\n' "$id" "$verdict" "$file:${line:-?}" | tee -a "$results"
done <<<"$rows"
summary=""
for verdict in "${!count[@]}"; do
    summary+="$verdict ${count[$verdict]}, "
done
echo "${summary%, }" | tee -a "$results"
for id in "${!equivalent[@]}"; do
    echo "equivalent $id: ${equivalent[$id]}" >>"$results"
done
((${count[survived]:-0} + ${count[not-compiled]:-0} + ${count[missing]:-0} == 0))
