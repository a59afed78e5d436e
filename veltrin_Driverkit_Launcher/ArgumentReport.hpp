// The argument list as one line for standard output.
#pragma once

#include <string>
#include <vector>

namespace launcher {

// ["arg0", "arg1"] and a line feed. Each argument stays one quoted item whatever
// its bytes, escaped as platform/text/EscapedText.hpp says.
std::string argumentReportLine(const std::vector<std::string>& arguments);

}  // namespace launcher
