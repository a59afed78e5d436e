#include "ActivityLog.hpp"

#include <cstdio>

#include "platform/FileHandle.hpp"
#include "platform/Host.hpp"

namespace launcher {

std::string timestampString() {
    const platform::LocalDateTime now = platform::currentLocalDateTime();
    char stamp[64];
    const int length = std::snprintf(stamp, sizeof stamp, "%02d/%02d/%04d %02d:%02d:%02d", now.day,
                                     now.month, now.year, now.hour, now.minute, now.second);
    return {stamp, length > 0 ? static_cast<std::size_t>(length) : 0};
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
