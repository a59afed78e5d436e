// The operating-system gate: which class of releases is running, and what the
// user is told about it.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace launcher {

struct MacOSVersion {
    std::uint32_t rawValue = 0;

    static const MacOSVersion unsupported;
    static const MacOSVersion bigSur;
    static const MacOSVersion monterey;
    static const MacOSVersion venturaOrLater;

    friend bool operator==(MacOSVersion, MacOSVersion) = default;
};

inline constexpr MacOSVersion MacOSVersion::unsupported{0};
inline constexpr MacOSVersion MacOSVersion::bigSur{1};
inline constexpr MacOSVersion MacOSVersion::monterey{2};
inline constexpr MacOSVersion MacOSVersion::venturaOrLater{3};

// Message shown in macOSMessageBox, by raw value. Built once, on first use.
const std::map<std::uint32_t, std::string>& versionMessages();

// This build serves 13.0.0 and later; it writes its verdict to standard output.
MacOSVersion detectMacOSVersion();

}  // namespace launcher
