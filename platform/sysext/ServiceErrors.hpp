// Failures in the platform's error domain, each with a description that says
// what to do about it here.
#pragma once

#include <cstdint>
#include <string>

#include "platform/SystemExtensions.hpp"

namespace sysext {

namespace ErrorCode = platform::SystemExtensionErrorCode;

inline platform::Error serviceError(std::int64_t code, std::string description) {
    return platform::Error{std::string(platform::systemExtensionErrorDomain), code,
                           std::move(description)};
}

}  // namespace sysext
