// Where the system settings take the approval of a driver extension, by the
// running release: macOS 15 moved it out of Privacy & Security.
#import <Foundation/Foundation.h>

#include <string>

#include "platform/SystemExtensions.hpp"

namespace platform {

std::string approvalHint(std::string_view extensionIdentifier) {
    const NSOperatingSystemVersion sequoia = {15, 0, 0};
    const bool moved = [[NSProcessInfo processInfo] isOperatingSystemAtLeastVersion:sequoia];
    std::string line = "To approve the extension ";
    line.append(extensionIdentifier)
        .append(moved ? ", open System Settings > General > Login Items & Extensions > Driver "
                        "Extensions and turn it on there.\n"
                      : ", open System Settings > Privacy & Security and allow it there.\n");
    return line;
}

}  // namespace platform
