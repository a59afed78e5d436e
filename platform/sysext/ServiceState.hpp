// What the stand-in service remembers between requests and between processes.
#pragma once

#include <compare>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace sysext {

struct BundleVersion {
    std::string shortVersion;  // e.g. "1.2.0"
    std::string build;         // e.g. "17"
    bool operator==(const BundleVersion&) const = default;
};

struct Release {
    long major = 14;
    long minor = 0;
    long patch = 0;
    // clang-tidy 14 reports the literal 0 of the synthesised comparison as a null pointer.
    auto operator<=>(const Release&) const = default;  // NOLINT(modernize-use-nullptr)
};

enum class LiveState { activatedEnabled, activatedWaitingForUser, activatedWaitingForReboot };

// The words `sysextctl list` shows and the state file stores.
std::string_view liveStateName(LiveState state);
std::optional<LiveState> liveStateFromName(std::string_view name);
inline constexpr std::string_view uninstallingStateName =
    "terminated waiting to uninstall on reboot";

struct LiveExtension {
    BundleVersion version;
    LiveState state = LiveState::activatedEnabled;
    bool operator==(const LiveExtension&) const = default;
};

// An identifier can have one version in service and, until the next restart,
// the version it replaced or removed while that one was busy.
struct ExtensionSlots {
    std::optional<LiveExtension> live;
    std::optional<BundleVersion> uninstallingOnReboot;
    bool empty() const { return !live && !uninstallingOnReboot; }
    bool operator==(const ExtensionSlots&) const = default;
};

enum class Policy { allow, deny };

struct ServiceState {
    Release release;
    bool developerMode = false;
    std::map<std::string, ExtensionSlots> extensions;
    std::map<std::string, Policy> policies;
    std::set<std::string> approved;
    std::set<std::string> busy;
    // Identifier -> token of the one request that waits for its approval.
    std::map<std::string, std::string> pendingApprovals;
    // Identifier -> the error code its next request fails with (`sysextctl fail`).
    std::map<std::string, std::int64_t> failNext;

    bool operator==(const ServiceState&) const = default;
};

}  // namespace sysext
