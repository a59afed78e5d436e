#include <ctime>

#include "platform/Host.hpp"

namespace platform {

LocalDateTime currentLocalDateTime() {
    const std::time_t now = std::time(nullptr);
    // localtime_r is not required to look at TZ; tzset makes a changed zone count.
    ::tzset();
    std::tm local{};
    if (::localtime_r(&now, &local) == nullptr) {
        return {};
    }
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
            local.tm_hour,        local.tm_min,     local.tm_sec};
}

}  // namespace platform
