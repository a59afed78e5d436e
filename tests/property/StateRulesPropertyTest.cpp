// Seeded random sequences of request answers, loop runs, button presses and
// quits, in every launch mode, held against the launcher's state rules after
// every step. Nothing here predicts a whole trace (the scenario table does): these
// are the rules that hold whatever the order. A failure prints its seed;
// VELTRIN_PROPERTY_SEED=<seed> replays that sequence, and
// VELTRIN_PROPERTY_SEQUENCES=<n> changes how many run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <random>
#include <sstream>

#include "fake/FakePlatform.hpp"
#include "veltrin_Driverkit_Launcher/LauncherState.hpp"

namespace {

enum Mode { install, uninstall, installInteractive, installWait, interactive, unsupportedRelease };
const std::vector<std::string> flags[] = {
    {"-install"}, {"-uninstall"}, {"-installInteractive"}, {"-install", "-wait", "20"}};
constexpr std::int64_t second = 1'000'000'000;

std::string runSequence(std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    const auto below = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const auto mode = static_cast<Mode>(seed % 6);
    fake::FakePlatform fake;
    fake.createActivityLog();
    if (mode == unsupportedRelease) {
        fake.release = {11 + below(2), below(7), 0};
    }
    // On a release not served: one of the first three modes, or none.
    const int flag = mode == unsupportedRelease ? below(4) : mode;
    const bool flagged = mode == unsupportedRelease ? flag < 3 : mode < interactive;
    fake.launch(flagged ? flags[flag] : std::vector<std::string>{});

    // What the rules know of the run so far.
    std::size_t seen = 0;
    int submitted = 0, deadline = 0;
    bool keepRunning = false, approved = false, failedInteractive = false, ended = false;
    bool asked = false;                // approval asked before any outcome
    std::optional<int> outcome;        // -wait's status of the latest outcome
    std::map<int, std::int64_t> live;  // timer id, when due
    std::ostringstream why;
    const auto rule = [&why](bool holds, const std::string& broken) {
        why << (holds ? "" : broken + "\n");
    };
    const auto check = [&] {
        const fake::Trace& trace = fake.trace();
        for (; seen < trace.size(); ++seen) {
            const fake::Entry& e = trace[seen];
            const std::string at = "entry " + std::to_string(seen) + ": ";
            const int timer = e.what.starts_with('#') ? std::stoi(e.what.substr(1)) : 0;
            const std::string& log = e.what;
            rule(!ended, at + "comes after the end");
            submitted += e.sink == "Submit" ? 1 : 0;
            if (e.sink == "Log" && (log.starts_with("Success:") || log.starts_with("Error:") ||
                                    log.starts_with("Info:System") || log.starts_with("Info:R"))) {
                // Each answer's three reports, together at one moment, in their order.
                const bool completion = log.starts_with("Success:");
                std::vector<std::string> order{"ActivityLog", "Log", "Status", "ActivityLog"};
                order.erase(order.begin() + (completion ? 0 : 3));
                // No log location on a release not served.
                std::erase(order, mode == unsupportedRelease ? "ActivityLog" : "");
                for (std::size_t j = 0, first = order[0] == "Log" ? seen : seen - 1;
                     j < order.size(); ++j) {
                    rule(first + j < trace.size() && trace[first + j].sink == order[j] &&
                             trace[first + j].ns == e.ns,
                         at + "the three reports are not together in their order");
                }
                approved = approved || log.starts_with("Info:System");
                asked = asked || (!outcome && log.starts_with("Info:System"));
                if (completion || log.starts_with("Error:")) {
                    outcome = log.find("reboot") != std::string::npos ? 3 : completion ? 0 : 1;
                }
                failedInteractive =
                    failedInteractive || (mode == installInteractive && log.starts_with("Error:"));
            } else if (e.sink == "Scheduled" && mode == installWait && log.ends_with(" 20 other")) {
                deadline = timer;
                live[timer] = e.ns + 20 * second;
            } else if (e.sink == "Scheduled") {
                rule(mode < interactive && log.ends_with(" 5 app"),
                     at + "a timer outside a command-line mode, or not a one-shot 5 s exit timer");
                live[timer] = e.ns + 5 * second;
                approved = false;
            } else if (e.sink == "Invalidated" || e.sink == "Fired") {
                rule(e.sink == "Invalidated" || (live.contains(timer) && e.ns >= live[timer]),
                     at + "a timer fired that was not live, or early");
                live.erase(timer);
            } else if (e.sink == "Terminate") {
                const fake::Entry& before = trace.at(seen - 1);
                const bool byTimer =
                    log == "app" && before.sink == "Fired" && !launcher::keepRunning;
                rule(byTimer || log == "quit", at + "terminate by neither an exit timer while "
                                                    "keepRunning is clear nor the user");
                rule(!byTimer || !failedInteractive,
                     at + "-installInteractive ended by itself after a failure");
                rule(!byTimer || mode != installWait ||
                         (before.what == "#" + std::to_string(deadline)) != outcome.has_value(),
                     at + "an exit timer ended -wait before its outcome, or its deadline after it");
                ended = true;
            }
        }
        rule(launcher::commandLineMode == (mode < interactive) &&
                 launcher::interactiveInstall == (mode == installInteractive),
             "the launch mode changed");
        rule(!keepRunning || launcher::keepRunning, "keepRunning was cleared");
        keepRunning = launcher::keepRunning;
        rule(!approved || !launcher::exitTimer || (mode == installWait && outcome),
             "an exit timer is held after an approval and before any later answer");
        // Under -wait the status says what has happened so far; otherwise it is 0.
        rule(fake.exitStatus == (mode != installWait ? 0
                                 : outcome           ? *outcome
                                 : asked             ? 4
                                                     : 1),
             "exit status " + std::to_string(fake.exitStatus) + " does not say what happened");
        for (const auto& [id, due] : live) {
            rule(ended || due > fake.nowNs, "timer #" + std::to_string(id) + " did not fire");
        }
    };

    const char* const texts[] = {"", "%@%d%n", "1.0\xC3\xA9", "2.10.3"};  // play's words
    check();
    for (int step = 0, length = 5 + below(36); step <= length && why.str().empty(); ++step) {
        const int roll = below(100);
        const std::string request = "@" + std::to_string(below(std::max(submitted, 1)));
        const std::string text = texts[below(4)];
        if (step == length || roll < 40 || (roll < 80 && submitted == 0)) {
            // Often on a quarter second, so that timers, pauses and runs meet; the
            // last run outlasts every timer.
            fake.runFor(step == length ? 30.0 : below(2) ? 0.25 * below(25) : below(12'000) / 1e3);
        } else {
            const auto result = below(3) ? below(4) - 1 : static_cast<std::int64_t>(rng());
            fake.play(roll < 55   ? "r" + std::to_string(result) + request
                      : roll < 65 ? "fail" + request + ":" + text
                      : roll < 73 ? "approve" + request
                      : roll < 80 ? "swap" + request + ":" + text + ":" + texts[below(4)]
                      : roll < 90 ? "load"
                      : roll < 98 ? "disable"
                                  : "quit");
        }
        check();
    }
    // The last run outlasts -wait's deadline, so such a run has ended by then.
    rule(mode != installWait || ended, "-wait outlived its deadline");
    return why.str().empty() ? "" : why.str() + "trace:\n" + fake::lines(fake.trace());
}

// The modes take turns (seed % 6), so any count of sequences covers all six.
TEST(StateRules, HoldInEverySequence) {
    const char* const replay = std::getenv("VELTRIN_PROPERTY_SEED");
    const char* const count = std::getenv("VELTRIN_PROPERTY_SEQUENCES");
    const std::uint64_t first = replay != nullptr ? std::stoull(replay) : 20'261'205'000;
    const std::uint64_t last = first + (replay != nullptr  ? 1
                                        : count != nullptr ? std::stoull(count)
                                                           : 3000);
    for (std::uint64_t seed = first, failures = 0; seed < last && failures < 3; ++seed) {
        if (const std::string why = runSequence(seed); !why.empty()) {
            ++failures;
            ADD_FAILURE() << why << "replay with VELTRIN_PROPERTY_SEED=" << seed;
        }
    }
}

}  // namespace
