#include <string>

#include "ActivityLog.hpp"
#include "AppDelegate.hpp"
#include "ExitStatuses.hpp"
#include "FailureAdvice.hpp"
#include "LauncherState.hpp"
#include "StatusReport.hpp"
#include "platform/Host.hpp"
#include "platform/UnifiedLog.hpp"

namespace launcher {

namespace {

constexpr platform::LogFormat completedText =
    "Success:System extension operation successful. Please restart your computer.";
constexpr platform::LogFormat afterRebootLogText =
    "Success:System extension operation will complete after reboot. Please restart your "
    "computer.";
// The two blanks after "extension" are the status line's own, kept on purpose
// (ScenarioTest.TraceOfEverySink/AfterRebootThenTheLeastResultWithDefaultLogTypeOff).
constexpr std::string_view afterRebootStatusText =
    "Success:System extension  operation will complete after reboot. Please restart your "
    "computer.";

// Under -wait the run ends with what the latest outcome says.
void noteOutcome(int status) {
    if (boundedWait) {
        outcomeArrived = true;
        platform::setExitStatus(status);
    }
}

}  // namespace

void AppDelegate::requestDidFinishWithResult(platform::SystemExtensionRequest& /*request*/,
                                             platform::Result result) {
    // A properties request answers with its properties; its end says nothing more.
    if (statusQuery) {
        return;
    }
    if (result == platform::RequestResult::completed ||
        result == platform::RequestResult::willCompleteAfterReboot) {
        const bool completed = result == platform::RequestResult::completed;
        // The log text of a completion is its status text too; after a reboot the
        // status text is a constant of its own.
        const platform::LogFormat logText = completed ? completedText : afterRebootLogText;
        const std::string_view statusText =
            completed ? completedText.text() : afterRebootStatusText;
        const std::string activityText = platform::formatLogMessage(logText);
        platform::osLog(logText);
        showStatus(statusText);
        writeLog(activityText);
        noteOutcome(completed ? exitStatus::success : exitStatus::afterRestart);
        platform::sleepForTimeInterval(settlingPauseSeconds);
        if (commandLineMode) {
            scheduleExitTimer();
        }
        return;
    }

    // %d carries all 64 bits of the result, so a value past 32 bits is shown as it came.
    const platform::LogFormat format = "Error:Unexpected result %d for system extension request";
    writeLog(platform::formatLogMessage(format, {result}));
    platform::osLog(format, {result});
    showStatus("Error:Unexpected result " + std::to_string(result) +
               " for system extension request");
    if (interactiveInstall) {
        keepRunning = true;
    }
    noteOutcome(exitStatus::failure);
    // exitTimer and boundedWait exist only in a command-line mode. Under -wait an
    // outcome ends the run even after an approval emptied exitTimer. The timer
    // is armed before the pause here and after it for a failure, on purpose: the
    // exit comes a second earlier (ScenarioTest.TraceOfEverySink/NoOutlets).
    if (exitTimer || boundedWait) {
        scheduleExitTimer();
    }
    platform::sleepForTimeInterval(settlingPauseSeconds);
}

void AppDelegate::requestDidFailWithError(platform::SystemExtensionRequest& /*request*/,
                                          const platform::Error& error) {
    const std::string_view description = error.localizedDescription;
    if (statusQuery) {
        platform::writeStandardError("The state of the driver extension could not be read: " +
                                     std::string(description) + "\n" + adviceFor(error));
        endWithStatus(exitStatus::failure);
        return;
    }
    const platform::LogFormat format = "Error:System extension request failed: %@";
    writeLog(platform::formatLogMessage(format, {description}));
    platform::osLog(format, {description});
    showStatus("System extension request failed: " + std::string(description));
    // A script's user has no window to read the status from.
    if (commandLineMode) {
        platform::writeStandardError(adviceFor(error));
    }
    if (interactiveInstall) {
        keepRunning = true;
    }
    noteOutcome(exitStatus::failure);
    platform::sleepForTimeInterval(settlingPauseSeconds);
    if (exitTimer || boundedWait) {
        scheduleExitTimer();
    }
}

void AppDelegate::requestNeedsUserApproval(platform::SystemExtensionRequest& request) {
    const std::string identifier = request.identifier();
    const platform::LogFormat format = "Info:System Extension %@ requires user approval";
    writeLog(platform::formatLogMessage(format, {identifier}));
    platform::osLog(format, {identifier});
    showStatus("Extension " + std::string(identifier) + " requires user approval");
    // Under -wait the outcome sets the run's end: another request's approval
    // later (the window is live) must not leave the script without a way out.
    if (exitTimer && !(boundedWait && outcomeArrived)) {
        exitTimer->invalidate();
        exitTimer.reset();
    }
    // A script's user has no window: standard error says where to approve.
    if (commandLineMode) {
        platform::writeStandardError(platform::approvalHint(identifier));
    }
    if (boundedWait && !outcomeArrived) {
        platform::setExitStatus(exitStatus::awaitingApproval);
    }
}

platform::ReplacementAction AppDelegate::requestActionForReplacingExtension(
    platform::SystemExtensionRequest& request, const platform::ExtensionProperties& existing,
    const platform::ExtensionProperties& replacement) {
    const std::string identifier = request.identifier();
    const std::string_view existingVersion = existing.bundleShortVersion;
    const std::string_view newVersion = replacement.bundleShortVersion;
    const platform::LogFormat format = "Info:Replacing extension %@ version %@ with version %@";
    writeLog(platform::formatLogMessage(format, {identifier, existingVersion, newVersion}));
    platform::osLog(format, {identifier, existingVersion, newVersion});
    std::string status = "Replacing extension ";
    status.append(identifier)
        .append(" version ")
        .append(existingVersion)
        .append(" with version ")
        .append(newVersion);
    showStatus(status);
    platform::sleepForTimeInterval(settlingPauseSeconds);
    return platform::Replacement::replace;
}

void AppDelegate::requestFoundProperties(
    platform::SystemExtensionRequest& request,
    const std::vector<platform::ExtensionProperties>& properties) {
    const StatusReport report = statusReport(request.identifier(), properties);
    platform::writeStandardOutput(report.lines);
    endWithStatus(report.exitStatus);
}

}  // namespace launcher
