#include "HelpText.hpp"

#include "LaunchModes.hpp"

namespace launcher {

namespace {

constexpr std::size_t flagColumn = 22;

void appendFlag(std::string& text, std::string_view flag, std::string_view help) {
    text.append("  ").append(flag);
    text.append(flagColumn - std::min(flagColumn - 1, flag.size()), ' ');
    text.append(help).append("\n");
}

constexpr std::string_view reference =
    "-status prints one line for each version the system knows:\n"
    "  IDENTIFIER SHORT-VERSION (BUNDLE-VERSION) STATE\n"
    "STATE is the first that holds of uninstalling, awaiting-approval, enabled and\n"
    "disabled. When no version is known: No version of IDENTIFIER is known.\n"
    "\n"
    "Exit status with -install or -uninstall and -wait:\n"
    "  0  completed\n"
    "  1  failed, or an unexpected result, or SECONDS passed with no approval asked\n"
    "  2  usage error\n"
    "  3  completes after a restart\n"
    "  4  still awaiting approval when SECONDS ran out (approving later still\n"
    "     completes the request)\n"
    "  5  this release is not served\n"
    "Exit status with -status:\n"
    "  0  an enabled version is present\n"
    "  1  the query failed\n"
    "  2  usage error\n"
    "  3  no version is enabled, and one waits for a restart (uninstalling, disabled)\n"
    "  4  a version awaits approval, and none is enabled or waits for a restart\n"
    "  5  this release is not served\n"
    "  6  no version is known\n"
    "Every other run ends with status 0.\n";

}  // namespace

std::string helpText() {
    std::string text =
        "usage: veltrin_Driverkit_Launcher [FLAG] [-wait SECONDS]\n"
        "Without a flag the window waits for Load or Disable. Of the flags, the first\n"
        "listed here wins:\n";
    for (const LaunchMode& mode : launchModes) {
        appendFlag(text, mode.flag, mode.help);
    }
    appendFlag(text, "-wait SECONDS", "with -install or -uninstall: end with the outcome's");
    appendFlag(text, "",
               "status, at the latest SECONDS (1 to " + std::to_string(longestWait) + ") after");
    appendFlag(text, "", "the request");
    text.append("\n").append(reference);
    return text;
}

}  // namespace launcher
