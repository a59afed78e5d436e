// Every unified-log format of the program, in one closed table. A backend whose
// log needs its formats as literals at compile time (os_log) maps each row to a
// literal call; LogFormat knows its row, and the fake platform refuses a format
// that has none, so a format added in the logic cannot slip past a backend.
#pragma once

#include <cstddef>
#include <string_view>

namespace platform {

// A long row is split over two lines; it is one format, not two.
// NOLINTBEGIN(bugprone-suspicious-missing-comma)
inline constexpr std::string_view programLogFormats[] = {
    "file URL = %s",
    "Start:installing driver\n",
    "Start:uninstalling driver\n",
    "Start:installing driver interactive\n",
    "Info:Command arguments=",
    "Success:System extension operation successful. Please restart your computer.",
    "Success:System extension operation will complete after reboot. Please restart your "
    "computer.",
    "Error:Unexpected result %d for system extension request",
    "Error:System extension request failed: %@",
    "Info:System Extension %@ requires user approval",
    "Info:Replacing extension %@ version %@ with version %@",
};
// NOLINTEND(bugprone-suspicious-missing-comma)

inline constexpr std::size_t notAProgramLogFormat = std::size(programLogFormats);

consteval std::size_t programLogFormatRow(std::string_view text) {
    for (std::size_t row = 0; row < std::size(programLogFormats); ++row) {
        if (programLogFormats[row] == text) {
            return row;
        }
    }
    return notAProgramLogFormat;
}

}  // namespace platform
