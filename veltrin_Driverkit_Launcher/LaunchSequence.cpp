#include <string>
#include <vector>

#include "ActivityLog.hpp"
#include "AppDelegate.hpp"
#include "ArgumentReport.hpp"
#include "DextIdentifier.hpp"
#include "ExitStatuses.hpp"
#include "HelpText.hpp"
#include "LaunchModes.hpp"
#include "LauncherState.hpp"
#include "MacOSVersion.hpp"
#include "platform/Host.hpp"
#include "platform/UnifiedLog.hpp"

namespace launcher {

// A usage error, help and -status end at once; the window is for the rest.
bool AppDelegate::showsWindowAtLaunch() {
    const CommandLine line = readCommandLine(platform::processArguments());
    return line.usageError.empty() && (line.mode == nullptr || line.mode->changesExtension());
}

void AppDelegate::applicationDidFinishLaunching() {
    const std::vector<std::string> args = platform::processArguments();
    const CommandLine line = readCommandLine(args);
    // What the command line alone answers comes before the release is looked at.
    if (!line.usageError.empty()) {
        platform::writeStandardError(line.usageError);
        endWithStatus(exitStatus::usageError);
        return;
    }
    const LaunchMode* const mode = line.mode;
    const auto is = [mode](ModeAction action) { return mode != nullptr && mode->action == action; };
    if (is(ModeAction::printHelp)) {
        platform::writeStandardOutput(helpText());
        endWithStatus(exitStatus::success);
        return;
    }

    const MacOSVersion version = detectMacOSVersion();
    if (macOSMessageBox_) {
        macOSMessageBox_->setStringValue(versionMessages().at(version.rawValue));
    }
    if (version == MacOSVersion::unsupported) {
        // A script hears it; otherwise the window says it and stays.
        if (is(ModeAction::reportStatus) || line.waitSeconds != 0) {
            endWithStatus(exitStatus::unsupportedRelease);
        }
        return;
    }
    if (is(ModeAction::reportStatus)) {
        statusQuery = true;
        platform::setExitStatus(exitStatus::failure);
        submit(platform::propertiesRequestForExtension(std::string(dextIdentifier),
                                                       platform::mainQueue()));
        return;
    }

    logFileURL = FileURL::fileURLWithPath(platform::homeDirectoryForCurrentUser())
                     .appendingPathComponent(activityLogFileName);
    // Only reported while the default log type is kept, on purpose (ScenarioTest.
    // TraceOfEverySink/AfterRebootThenTheLeastResultWithDefaultLogTypeOff).
    if (platform::osLogDefaultTypeEnabled()) {
        const std::string location = logFileURL->absoluteString();
        platform::osLog("file URL = %s", {std::string_view(location)});
    }

    if (quitButton_) {
        quitButton_->setKeyEquivalent("\r");
    }

    if (mode != nullptr) {
        commandLineMode = true;
        interactiveInstall = is(ModeAction::activateAndRestart);
        boundedWait = line.waitSeconds != 0;
        if (boundedWait) {
            platform::setExitStatus(exitStatus::failure);
        }
        platform::osLog(*mode->start);
        writeLog(mode->start->text());
        showStatus(mode->statusText());
        platform::sleepForTimeInterval(settlingPauseSeconds);
        if (is(ModeAction::deactivate)) {
            deactivateDriver();
        } else {
            activateDriver();
        }
        if (boundedWait) {
            platform::scheduledTimerWithTimeInterval(static_cast<double>(line.waitSeconds),
                                                     waitDeadline_, false);
        }
        if (interactiveInstall) {
            platform::requestRestart();
        }
    }

    platform::osLog("Info:Command arguments=");
    writeLog("Info:Command arguments=");
    platform::writeStandardOutput(argumentReportLine(args));

    if (commandLineMode) {
        scheduleExitTimer();
    }
}

}  // namespace launcher
