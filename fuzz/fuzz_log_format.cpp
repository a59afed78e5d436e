// The report formats are filled with outside text (descriptions, identifiers,
// versions) and outside numbers. No directive inside an argument may ever be
// read: the result must be the format's literal pieces with the arguments
// dropped in whole. A directive without its argument, or with one of another
// type, stays as written.
#include <cstdlib>
#include <cstring>

#include "FuzzInput.hpp"
#include "platform/UnifiedLog.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> parts = splitAtNul(data, size);
    parts.resize(3);
    const std::string_view a = parts[0], b = parts[1], c = parts[2];

    const std::string failure =
        platform::formatLogMessage("Error:System extension request failed: %@", {a});
    const std::string replacing = platform::formatLogMessage(
        "Info:Replacing extension %@ version %@ with version %@", {a, b, c});
    const std::string approval =
        platform::formatLogMessage("Info:System Extension %@ requires user approval", {a});

    std::int64_t number = 0;
    std::memcpy(&number, data, std::min(size, sizeof number));
    const std::string unexpected = platform::formatLogMessage(
        "Error:Unexpected result %d for system extension request", {number});

    const std::string missing =
        platform::formatLogMessage("Info:Replacing extension %@ version %@ with version %@", {a});
    const std::string mismatched =
        platform::formatLogMessage("Error:System extension request failed: %@", {number}) +
        platform::formatLogMessage("Error:Unexpected result %d for system extension request", {a});

    if (missing != "Info:Replacing extension " + parts[0] + " version %@ with version %@" ||
        mismatched !=
            "Error:System extension request failed: %@"
            "Error:Unexpected result %d for system extension request" ||
        failure != "Error:System extension request failed: " + parts[0] ||
        replacing != "Info:Replacing extension " + parts[0] + " version " + parts[1] +
                         " with version " + parts[2] ||
        approval != "Info:System Extension " + parts[0] + " requires user approval" ||
        unexpected !=
            "Error:Unexpected result " + std::to_string(number) + " for system extension request") {
        std::abort();
    }
    return 0;
}
