// The shapes of names and numbers the service accepts from outside.
#pragma once

#include <string_view>

namespace sysext {

// Reverse-DNS: at least two labels of letters, digits and hyphens.
bool isBundleIdentifier(std::string_view text);

// Dotted decimal numbers such as "1", "1.0.3".
bool isDottedVersion(std::string_view text);

// The name a waiting request leaves in the state: letters, digits and hyphens.
bool isRequestToken(std::string_view text);

}  // namespace sysext
