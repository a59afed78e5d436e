// The table of the command line's modes (LaunchModes.def), and the command
// line read against it.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "platform/UnifiedLog.hpp"

namespace launcher {

enum class ModeAction { activate, deactivate, activateAndRestart, reportStatus, printHelp };

struct LaunchMode {
    std::string_view flag;
    platform::LogFormat start;
    std::string_view help;
    ModeAction action;
    bool takesWait;

    // A request that changes the extension, with the exit timer; the others only report.
    constexpr bool changesExtension() const {
        return action != ModeAction::reportStatus && action != ModeAction::printHelp;
    }
    // The start text as the status line shows it: without "Start:" and the line feed.
    constexpr std::string_view statusText() const {
        std::string_view text = start.text();
        text.remove_prefix(std::min(text.size(), std::string_view("Start:").size()));
        return text.substr(0, text.size() - (text.ends_with('\n') ? 1 : 0));
    }
};

// The rows stay data that the end-to-end harness reads too, hence the macro.
inline constexpr LaunchMode launchModes[] = {
// NOLINTNEXTLINE(cppcoreguidelines-macro-usage)
#define VELTRIN_LAUNCH_MODE(flag, action, start, takesWait, help) \
    {flag, start, help, ModeAction::action, takesWait},
#include "LaunchModes.def"
#undef VELTRIN_LAUNCH_MODE
};

static_assert(std::ranges::all_of(launchModes,
                                  [](const LaunchMode& mode) {
                                      return mode.changesExtension() ==
                                                 mode.start.text().starts_with("Start:") &&
                                             (!mode.changesExtension() ||
                                              mode.start.row() != platform::notAProgramLogFormat);
                                  }),
              "a mode that changes the extension has a start text from programLogFormats");

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
