// The control tool of the stand-in service: what the system settings and the
// system's own extension tool do on the real platform.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace sysext {

inline constexpr int exitSuccess = 0;
inline constexpr int exitStateProblem = 1;
inline constexpr int exitUsage = 2;

// `arguments` without the program name. The state is left untouched unless the
// whole command is valid.
int runSysextctl(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace sysext
