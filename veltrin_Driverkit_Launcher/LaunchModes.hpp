// The table of the command line's modes (LaunchModes.def), and the command
// line read against it.
#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/UnifiedLog.hpp"

namespace launcher {

enum class ModeAction { activate, deactivate, activateAndRestart, reportStatus, printHelp };

// A mode's start text, "" for none: a row of programLogFormats, or it does not compile.
template <std::size_t N>
consteval std::optional<platform::LogFormat> startText(const char (&text)[N]) {
    if constexpr (N == 1) {
        return std::nullopt;
    } else {
        return platform::LogFormat(text);
    }
}

struct LaunchMode {
    std::string_view flag;
    std::optional<platform::LogFormat> start;
    std::string_view help;
    ModeAction action;
    bool takesWait;

    // A request that changes the extension, with the exit timer; the others only report.
    constexpr bool changesExtension() const {
        return action != ModeAction::reportStatus && action != ModeAction::printHelp;
    }
    // The start text as the status line shows it: without "Start:" and the line feed.
    constexpr std::string_view statusText() const {
        std::string_view text = start->text();
        text.remove_prefix(std::min(text.size(), std::string_view("Start:").size()));
        return text.substr(0, text.size() - (text.ends_with('\n') ? 1 : 0));
    }
};

// The rows stay data that the end-to-end harness reads too, hence the macro.
inline constexpr LaunchMode launchModes[] = {
// NOLINTNEXTLINE(cppcoreguidelines-macro-usage)
#define VELTRIN_LAUNCH_MODE(flag, action, start, takesWait, help) \
    {flag, startText(start), help, ModeAction::action, takesWait},
#include "LaunchModes.def"
#undef VELTRIN_LAUNCH_MODE
};

static_assert(std::ranges::all_of(launchModes,
                                  [](const LaunchMode& mode) {
                                      return mode.changesExtension() == mode.start.has_value() &&
                                             (!mode.start ||
                                              mode.start->text().starts_with("Start:"));
                                  }),
              "a mode that changes the extension has a start text, and only such a mode");

// -wait SECONDS: at most a day.
inline constexpr long longestWait = 86400;

struct CommandLine {
    // The first listed mode whose flag is an argument; none in interactive use.
    const LaunchMode* mode = nullptr;
    long waitSeconds = 0;  // 0: no -wait
    // What is wrong with the command line, for standard error; empty when nothing is.
    std::string usageError;
};

// A flag counts only as a whole argument, in that exact case, at any position
// (the program path included). "-wait" takes the argument after it.
CommandLine readCommandLine(const std::vector<std::string>& arguments);

}  // namespace launcher
