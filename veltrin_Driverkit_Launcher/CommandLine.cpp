#include <charconv>

#include "LaunchModes.hpp"

namespace launcher {

namespace {

bool contains(const std::vector<std::string>& arguments, std::string_view flag) {
    return std::ranges::find(arguments, flag) != arguments.end();
}

// Decimal digits only, no plus sign, no blanks: what a script writes.
bool readSeconds(std::string_view text, long& seconds) {
    const char* const last = text.data() + text.size();
    const auto [end, error] = std::from_chars(text.data(), last, seconds);
    return error == std::errc() && end == last && seconds >= 1 && seconds <= longestWait;
}

}  // namespace

CommandLine readCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    const auto* const mode = std::ranges::find_if(
        launchModes, [&](const LaunchMode& row) { return contains(arguments, row.flag); });
    line.mode = mode == std::end(launchModes) ? nullptr : &*mode;

    const auto wait = std::ranges::find(arguments, "-wait");
    if (wait == arguments.end()) {
        return line;
    }
    const auto seconds = std::next(wait);
    if (seconds == arguments.end() || !readSeconds(*seconds, line.waitSeconds)) {
        line.usageError = "-wait takes a whole number of seconds from 1 to " +
                          std::to_string(longestWait) + " after it.\n";
    } else if (line.mode == nullptr || !line.mode->takesWait) {
        // -installInteractive asks for a restart right after its request, and a
        // failure keeps its window open for the person at the machine: no outcome
        // is left for a script to wait for.
        line.usageError =
            "-wait goes with -install or -uninstall only (-installInteractive restarts the "
            "machine).\n";
    }
    if (!line.usageError.empty()) {
        line.usageError.append("Run with -help to see the flags.\n");
    }
    return line;
}

}  // namespace launcher
