#include "StatusReport.hpp"

#include "ExitStatuses.hpp"

namespace launcher {

namespace {

std::string_view stateWord(const platform::ExtensionProperties& version) {
    return version.isUninstalling           ? "uninstalling"
           : version.isAwaitingUserApproval ? "awaiting-approval"
           : version.isEnabled              ? "enabled"
                                            : "disabled";
}

}  // namespace

StatusReport statusReport(std::string_view identifier,
                          const std::vector<platform::ExtensionProperties>& versions) {
    if (versions.empty()) {
        return {"No version of " + std::string(identifier) + " is known.\n",
                exitStatus::noVersionKnown};
    }
    StatusReport report{"", exitStatus::awaitingApproval};
    for (const platform::ExtensionProperties& version : versions) {
        const std::string_view word = stateWord(version);
        report.lines.append(version.bundleIdentifier)
            .append(" ")
            .append(version.bundleShortVersion)
            .append(" (")
            .append(version.bundleVersion)
            .append(") ")
            .append(word)
            .append("\n");
        if (word == "enabled") {
            report.exitStatus = exitStatus::success;
        } else if (word != "awaiting-approval" && report.exitStatus != exitStatus::success) {
            report.exitStatus = exitStatus::afterRestart;
        }
    }
    return report;
}

}  // namespace launcher
