#include "ArgumentReport.hpp"

#include "platform/text/EscapedText.hpp"

namespace launcher {

std::string argumentReportLine(const std::vector<std::string>& arguments) {
    std::string line = "[";
    bool first = true;
    for (const std::string& argument : arguments) {
        if (!first) {
            line.append(", ");
        }
        first = false;
        line.push_back('"');
        platform::text::appendEscaped(line, argument);
        line.push_back('"');
    }
    line.append("]\n");
    return line;
}

}  // namespace launcher
