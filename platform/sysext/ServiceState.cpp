#include "ServiceState.hpp"

#include <array>
#include <utility>

namespace sysext {

namespace {

constexpr std::array<std::pair<LiveState, std::string_view>, 3> liveStateNames{{
    {LiveState::activatedEnabled, "activated enabled"},
    {LiveState::activatedWaitingForUser, "activated waiting for user"},
    {LiveState::activatedWaitingForReboot, "activated waiting for reboot"},
}};

}  // namespace

std::string_view liveStateName(LiveState state) {
    for (const auto& [value, name] : liveStateNames) {
        if (value == state) {
            return name;
        }
    }
    return "unknown";
}

std::optional<LiveState> liveStateFromName(std::string_view name) {
    for (const auto& [value, known] : liveStateNames) {
        if (known == name) {
            return value;
        }
    }
    return std::nullopt;
}

}  // namespace sysext
