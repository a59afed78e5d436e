#include "MacOSVersion.hpp"

#include "platform/Host.hpp"

namespace launcher {

const std::map<std::uint32_t, std::string>& versionMessages() {
    static const std::map<std::uint32_t, std::string> messages{
        {0, "This is an unsupported operating System"},
        {1,
         "This version only runs on macOS Big Sur. If you upgrade, you must install a new version"},
        {2,
         "This version only runs on macOS Monterey. If you upgrade, you must install a new "
         "version"},
        {3,
         "This version only runs on macOS Ventura and above. If you upgrade, please check for a "
         "new version"},
    };
    return messages;
}

MacOSVersion detectMacOSVersion() {
    if (platform::isOperatingSystemAtLeastVersion({12, 0, 0})) {
        if (platform::isOperatingSystemAtLeastVersion({13, 0, 0})) {
            platform::writeStandardOutput("Running on Ventura or greater\n");
            return MacOSVersion::venturaOrLater;
        }
        platform::writeStandardOutput("Running on Monterey\n");
        platform::writeStandardOutput("This driver was not built for macOS Monterey. Exiting\n");
        return MacOSVersion::unsupported;
    }
    platform::writeStandardOutput("Running on Big Sur\n");
    platform::writeStandardOutput("This driver was not built for macOS Big Sur. Exiting\n");
    return MacOSVersion::unsupported;
}

}  // namespace launcher
