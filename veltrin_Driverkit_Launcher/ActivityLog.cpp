#include "ActivityLog.hpp"

#include "platform/FileHandle.hpp"
#include "platform/Host.hpp"

namespace launcher {

std::string timestampString() {
    return platform::stringFromCurrentDate("dd/MM/yyyy HH:mm:ss");
}

void writeLog(std::string_view text) {
    const std::string stamp = timestampString();
    if (!logFileURL) {
        return;
    }
    const auto handle = platform::fileHandleForAppending(logFileURL->path());
    if (!handle) {
        return;
    }
    handle->writeData(activityLogLine(stamp, text));
}

}  // namespace launcher
