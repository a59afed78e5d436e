// Every unified-log format of the program, in one closed table. A backend whose
// log needs its formats as literals at compile time (os_log) maps each row to a
// literal call; a LogFormat that is not a row does not compile, so a format
// added in the logic cannot slip past a backend.
#pragma once

#include <algorithm>
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

// The directives every sink fills alike: %s and %@ a text, %d an integer.
static_assert(std::ranges::all_of(programLogFormats,
                                  [](std::string_view format) {
                                      for (auto at = format.find('%'); at != std::string_view::npos;
                                           at = format.find('%', at + 1)) {
                                          if (format.substr(at + 1, 1).find_first_of("s@d") != 0) {
                                              return false;
                                          }
                                      }
                                      return true;
                                  }),
              "a format's directives are %s, %@ and %d");

consteval std::size_t programLogFormatRow(std::string_view text) {
    for (std::size_t row = 0; row < std::size(programLogFormats); ++row) {
        if (programLogFormats[row] == text) {
            return row;
        }
    }
    // A throw is no constant expression: a text that is no row does not compile.
    throw "a log format must be a row of programLogFormats";
}

}  // namespace platform
