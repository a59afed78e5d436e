#include <string>

#include "ActivityLog.hpp"
#include "AppDelegate.hpp"
#include "LauncherState.hpp"
#include "platform/Host.hpp"
#include "platform/UnifiedLog.hpp"

namespace launcher {

namespace {

constexpr platform::LogFormat completedText =
    "Success:System extension operation successful. Please restart your computer.";
constexpr platform::LogFormat afterRebootLogText =
    "Success:System extension operation will complete after reboot. Please restart your "
    "computer.";
constexpr std::string_view afterRebootStatusText =
    "Success:System extension  operation will complete after reboot. Please restart your "
    "computer.";

}  // namespace

void AppDelegate::requestDidFinishWithResult(platform::SystemExtensionRequest& /*request*/,
                                             platform::Result result) {
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
    if (commandLineMode && exitTimer) {
        scheduleExitTimer();
    }
    platform::sleepForTimeInterval(settlingPauseSeconds);
}

void AppDelegate::requestDidFailWithError(platform::SystemExtensionRequest& /*request*/,
                                          const platform::Error& error) {
    const std::string_view description = error.localizedDescription;
    const platform::LogFormat format = "Error:System extension request failed: %@";
    writeLog(platform::formatLogMessage(format, {description}));
    platform::osLog(format, {description});
    showStatus("System extension request failed: " + std::string(description));
    if (interactiveInstall) {
        keepRunning = true;
    }
    platform::sleepForTimeInterval(settlingPauseSeconds);
    if (commandLineMode && exitTimer) {
        scheduleExitTimer();
    }
}

void AppDelegate::requestNeedsUserApproval(platform::SystemExtensionRequest& request) {
    const std::string identifier = request.identifier();
    const platform::LogFormat format = "Info:System Extension %@ requires user approval";
    writeLog(platform::formatLogMessage(format, {identifier}));
    platform::osLog(format, {identifier});
    showStatus("Extension " + std::string(identifier) + " requires user approval");
    if (exitTimer) {
        exitTimer->invalidate();
        exitTimer.reset();
    }
    // A script's user has no window to read the status from.
    if (commandLineMode) {
        platform::writeApprovalInstructions(identifier);
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

}  // namespace launcher
