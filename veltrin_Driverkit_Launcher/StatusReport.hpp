// What -status prints and ends with, from the versions the system knows.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/SystemExtensions.hpp"

namespace launcher {

struct StatusReport {
    std::string lines;  // for standard output
    int exitStatus;
};

// One line per version, "IDENTIFIER SHORT-VERSION (BUNDLE-VERSION) STATE", in the
// service's order, or one line that no version is known. STATE is the first that
// holds of uninstalling, awaiting-approval, enabled, disabled. The status is that
// of the first state present of: enabled (0), uninstalling or disabled (3: only a
// restart changes it), awaiting-approval (4); none known is 6.
StatusReport statusReport(std::string_view identifier,
                          const std::vector<platform::ExtensionProperties>& versions);

}  // namespace launcher
