// The activity log: a text file in the home directory that the launcher only
// ever appends timestamped lines to. It never creates the file.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "FileURL.hpp"

namespace launcher {

// Set once by the launch sequence; while unset every writeLog is a no-op.
inline std::optional<FileURL> logFileURL;

inline constexpr std::string_view activityLogFileName = "veltrinLogFile.txt";

// "dd/MM/yyyy HH:mm:ss", local time.
std::string timestampString();

// The exact bytes of one line: stamp, ":", the text unchanged, CR LF.
std::string activityLogLine(std::string_view stamp, std::string_view text);

// Appends one line; a missing or unwritable file drops it without a word.
void writeLog(std::string_view text);

}  // namespace launcher
