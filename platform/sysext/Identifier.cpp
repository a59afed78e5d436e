#include "Identifier.hpp"

#include <algorithm>

namespace sysext {

namespace {

// Long enough for any real name, short enough that a hostile one cannot bloat the state.
constexpr std::size_t longestName = 255;
constexpr std::size_t longestVersion = 64;
constexpr std::size_t longestToken = 64;

bool isLabelCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

template <class IsPartCharacter>
std::size_t countDottedParts(std::string_view text, IsPartCharacter isPartCharacter) {
    std::size_t parts = 0;
    bool partIsEmpty = true;
    for (const char c : text) {
        if (c == '.') {
            if (partIsEmpty) {
                return 0;
            }
            ++parts;
            partIsEmpty = true;
        } else if (isPartCharacter(c)) {
            partIsEmpty = false;
        } else {
            return 0;
        }
    }
    return partIsEmpty ? 0 : parts + 1;
}

}  // namespace

bool isBundleIdentifier(std::string_view text) {
    return text.size() <= longestName && countDottedParts(text, isLabelCharacter) >= 2;
}

bool isDottedVersion(std::string_view text) {
    return text.size() <= longestVersion && countDottedParts(text, isDigit) >= 1;
}

bool isRequestToken(std::string_view text) {
    return !text.empty() && text.size() <= longestToken &&
           std::all_of(text.begin(), text.end(), isLabelCharacter);
}

}  // namespace sysext
