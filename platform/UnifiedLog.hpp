// The system's unified log. The format is always a constant of the program; the
// values that came from outside travel as arguments and are never read as a format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "LogFormats.hpp"

namespace platform {

// A format that can only be made from a string literal that is a row of
// programLogFormats (LogFormats.hpp); any other text does not compile.
class LogFormat {
  public:
    template <std::size_t N>
    consteval LogFormat(const char (&literal)[N])  // NOLINT(google-explicit-constructor)
        : text_(literal, N - 1), row_(programLogFormatRow(text_)) {}

    constexpr std::string_view text() const { return text_; }
    // Its row in programLogFormats.
    constexpr std::size_t row() const { return row_; }

  private:
    std::string_view text_;
    std::size_t row_;
};

// %d takes an integer, %@ and %s take a text.
using LogArgument = std::variant<std::int64_t, std::string_view>;

// Fills the directives of the format from the arguments, the way the platform's
// string formatting does: %@ and %s take the next text, %d the next integer in
// decimal (all 64 bits). A directive without a matching argument stays as
// written. Argument text is copied unchanged and never scanned for directives.
// The same for every backend: the seam defines it (LogFormat.cpp).
std::string formatLogMessage(LogFormat format, std::span<const LogArgument> arguments);

inline std::string formatLogMessage(LogFormat format,
                                    std::initializer_list<LogArgument> arguments = {}) {
    return formatLogMessage(format,
                            std::span<const LogArgument>(arguments.begin(), arguments.size()));
}

// Whether entries of the default type on the default log are kept.
bool osLogDefaultTypeEnabled();

// One entry on the default log object with the default type, reading as
// formatLogMessage fills the format. No argument is ever read as a format; a log
// that takes only literal formats (os_log) has one call per row of the table.
void osLog(LogFormat format, std::span<const LogArgument> arguments);

inline void osLog(LogFormat format, std::initializer_list<LogArgument> arguments = {}) {
    osLog(format, std::span<const LogArgument>(arguments.begin(), arguments.size()));
}

}  // namespace platform
