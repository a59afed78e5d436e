// Failures in the platform's error domain, each with a sentence that says what
// to do about it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/SystemExtensions.hpp"

namespace sysext {

inline constexpr const char* errorDomain = "OSSystemExtensionErrorDomain";

namespace ErrorCode {
inline constexpr std::int64_t unknown = 1;
inline constexpr std::int64_t unsupportedParentBundleLocation = 3;
inline constexpr std::int64_t extensionNotFound = 4;
inline constexpr std::int64_t validationFailed = 9;
inline constexpr std::int64_t forbiddenBySystemPolicy = 10;
inline constexpr std::int64_t requestCanceled = 11;
inline constexpr std::int64_t requestSuperseded = 12;
}  // namespace ErrorCode

inline platform::Error serviceError(std::int64_t code, std::string description) {
    return platform::Error{errorDomain, code, std::move(description)};
}

}  // namespace sysext
