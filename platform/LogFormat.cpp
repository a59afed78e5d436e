#include <charconv>

#include "UnifiedLog.hpp"

namespace platform {

namespace {

void appendInteger(std::string& out, std::int64_t value) {
    char digits[24];
    auto* const end = std::to_chars(std::begin(digits), std::end(digits), value).ptr;
    out.append(digits, end);
}

}  // namespace

// LogFormat is a string_view: two words, cheaper by value than by reference.
// cppcheck-suppress passedByValue
std::string formatLogMessage(LogFormat format, std::span<const LogArgument> arguments) {
    const std::string_view text = format.text();
    std::string out;
    out.reserve(text.size());
    std::size_t next = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '%' || i + 1 == text.size()) {
            out.push_back(c);
            continue;
        }
        const char directive = text[i + 1];
        const bool wantsText = directive == '@' || directive == 's';
        const bool wantsInteger = directive == 'd';
        if (next < arguments.size()) {
            const LogArgument& argument = arguments[next];
            if (wantsText && std::holds_alternative<std::string_view>(argument)) {
                out.append(std::get<std::string_view>(argument));
                ++next;
                ++i;
                continue;
            }
            if (wantsInteger && std::holds_alternative<std::int64_t>(argument)) {
                appendInteger(out, std::get<std::int64_t>(argument));
                ++next;
                ++i;
                continue;
            }
        }
        out.push_back(c);
    }
    return out;
}

}  // namespace platform
