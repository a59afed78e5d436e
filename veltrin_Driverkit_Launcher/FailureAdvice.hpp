// What to do about a failed request: one plain sentence of cause and remedy for
// each error code of the system-extension service. The README's troubleshooting
// table holds the same rows (a test compares them).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/SystemExtensions.hpp"

namespace launcher {

struct FailureAdvice {
    std::int64_t code;
    std::string_view name;  // the framework's name of the code
    std::string_view sentence;
};

std::span<const FailureAdvice> failureAdviceTable();

// The sentence for the error's code, or one that says the code is not the
// service's own, and a line feed.
std::string adviceFor(const platform::Error& error);

}  // namespace launcher
