// Which command-line mode the arguments ask for.
#pragma once

#include <string>
#include <vector>

namespace launcher {

enum class LaunchMode { interactive, install, uninstall, installInteractive };

// The flags are tested in the order -install, -uninstall, -installInteractive and
// the first present wins. A flag counts only as a whole argument, in that exact
// case, at any position (the program path included).
LaunchMode selectLaunchMode(const std::vector<std::string>& arguments);

}  // namespace launcher
