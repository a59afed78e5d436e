// What -help prints: the flags from the table of modes, the -status format and
// the exit statuses. The README holds it as it stands (a test compares them).
#pragma once

#include <string>

namespace launcher {

std::string helpText();

}  // namespace launcher
