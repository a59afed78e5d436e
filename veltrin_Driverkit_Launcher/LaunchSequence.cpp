#include <string>
#include <vector>

#include "ActivityLog.hpp"
#include "AppDelegate.hpp"
#include "ArgumentReport.hpp"
#include "LaunchMode.hpp"
#include "LauncherState.hpp"
#include "MacOSVersion.hpp"
#include "platform/Host.hpp"
#include "platform/UnifiedLog.hpp"

namespace launcher {

void AppDelegate::applicationDidFinishLaunching() {
    const MacOSVersion version = detectMacOSVersion();
    if (macOSMessageBox_) {
        macOSMessageBox_->setStringValue(versionMessages().at(version.rawValue));
    }
    if (version == MacOSVersion::unsupported) {
        return;
    }

    logFileURL = FileURL::fileURLWithPath(platform::homeDirectoryForCurrentUser())
                     .appendingPathComponent(activityLogFileName);
    if (platform::osLogDefaultTypeEnabled()) {
        const std::string location = logFileURL->absoluteString();
        platform::osLog("file URL = %s", {std::string_view(location)});
    }

    if (quitButton_) {
        quitButton_->setKeyEquivalent("\r");
    }

    const std::vector<std::string> args = platform::processArguments();
    switch (selectLaunchMode(args)) {
        case LaunchMode::install:
            commandLineMode = true;
            platform::osLog("Start:installing driver\n");
            writeLog("Start:installing driver\n");
            showStatus("installing driver");
            platform::sleepForTimeInterval(settlingPauseSeconds);
            activateDriver();
            break;
        case LaunchMode::uninstall:
            commandLineMode = true;
            platform::osLog("Start:uninstalling driver\n");
            writeLog("Start:uninstalling driver\n");
            showStatus("uninstalling driver");
            platform::sleepForTimeInterval(settlingPauseSeconds);
            deactivateDriver();
            break;
        case LaunchMode::installInteractive:
            commandLineMode = true;
            interactiveInstall = true;
            platform::osLog("Start:installing driver interactive\n");
            writeLog("Start:installing driver interactive\n");
            showStatus("installing driver interactive");
            platform::sleepForTimeInterval(settlingPauseSeconds);
            activateDriver();
            platform::requestRestart();
            break;
        case LaunchMode::interactive:
            break;
    }

    platform::osLog("Info:Command arguments=");
    writeLog("Info:Command arguments=");
    platform::writeStandardOutput(argumentReportLine(args));

    if (commandLineMode) {
        scheduleExitTimer();
    }
}

}  // namespace launcher
