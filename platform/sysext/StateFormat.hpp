// The state file's text form. One record a line, a version header first and an
// "end" line last, so that a file cut short is told apart from a short state.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "Expected.hpp"
#include "ServiceState.hpp"

namespace sysext {

// Anything larger is not a state this service wrote.
inline constexpr std::size_t largestStateFile = std::size_t{1024} * 1024;

// Strict: any byte out of place is a failure naming the line, never a guess.
Expected<ServiceState> parseState(std::string_view bytes);

// Canonical: the same state always gives the same bytes.
std::string serializeState(const ServiceState& state);

// "X.Y.Z", each a decimal of at most nine digits; with fewestNumbers below 3 also
// "X" or "X.Y", as releases are printed (11.7, 15.1), the missing numbers 0.
std::optional<Release> parseRelease(std::string_view text, int fewestNumbers);
std::string releaseText(const Release& release);

}  // namespace sysext
