#include "ActivityLog.hpp"

namespace launcher {

std::string activityLogLine(std::string_view stamp, std::string_view text) {
    std::string line;
    line.reserve(stamp.size() + text.size() + 3);
    line.append(stamp).append(":").append(text).append("\r\n");
    return line;
}

}  // namespace launcher
