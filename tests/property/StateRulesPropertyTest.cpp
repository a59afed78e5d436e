// Random sequences of request answers, loop runs, button presses and quits, in
// every launch mode. After each step the new part of the fake's trace and the
// launcher's module-level state are held against the state rules. Nothing here
// predicts whole traces: a second copy of the run loop would share the very
// assumptions a fault in the loop's use could hide behind.
//
// Seeds are fixed, so CI runs the same sequences every time. A failure prints its
// seed and the trace so far; VELTRIN_PROPERTY_SEED=<seed> replays that one
// sequence, and VELTRIN_PROPERTY_SEQUENCES=<n> changes how many run in all.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "fake/FakePlatform.hpp"
#include "fake/LauncherReset.hpp"
#include "veltrin_Driverkit_Launcher/LauncherState.hpp"

namespace {

using Nanos = std::int64_t;
using fake::Sink;
constexpr Nanos second = 1'000'000'000;
constexpr Nanos exitDelay = 5 * second;

enum class Mode { install, uninstall, installInteractive, interactive, unsupportedRelease };
constexpr std::uint64_t modeCount = 5;
constexpr std::uint64_t baseSeed = 20'261'205'000;  // a multiple of modeCount: seed % 5 is the mode
constexpr std::uint64_t defaultSequences = 3000;
using limits = std::numeric_limits<std::int64_t>;
constexpr std::int64_t usualResults[8] = {0, 0, 1, 1, 2, -1, limits::min(), limits::max()};
const char* const modeNames[] = {"-install", "-uninstall", "-installInteractive", "interactive use",
                                 "unsupported release"};

Nanos nanos(double seconds) {
    return std::llround(seconds * 1e9);
}

std::optional<std::uint64_t> environmentNumber(const char* name) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::optional(std::strtoull(text, nullptr, 10))
                                            : std::nullopt;
}

enum class Answer { completion, unexpected, failure, approval, replacement };

// The unified log is the one report whose text tells the callbacks apart; the
// prefixes are indexed by Answer.
std::optional<Answer> answerOf(const fake::Event& e) {
    static constexpr std::string_view prefixes[] = {"Success:", "Error:Unexpected", "Error:System",
                                                    "Info:System Extension", "Info:Replacing"};
    for (std::size_t a = 0; a < std::size(prefixes); ++a) {
        if (e.sink == Sink::unifiedLog && e.text.starts_with(prefixes[a])) {
            return static_cast<Answer>(a);
        }
    }
    return std::nullopt;
}

// Keeps only what the rules need of the past (live timers, the one exitTimer holds,
// whether keepRunning must be set, when the loop is next free), so that no check
// rests on a prediction of what comes next.
class Checker {
  public:
    Checker(Mode mode, const void* app, const void* quitButton)
        : mode_(mode), app_(app), quitButton_(quitButton) {}

    std::string afterStep(fake::FakePlatform& fake, std::optional<Nanos> runTo) {
        const fake::Trace& trace = fake.trace();
        for (std::size_t k = seen_; k < trace.size();) {
            k = event(trace, k);
        }
        if (seen_ == 0 && commandLine_ != (held_ != 0)) {
            why_ << "the launch scheduled " << live_.size() << " exit timers\n";
        }
        seen_ = trace.size();
        const Nanos now = nanos(fake.now());
        for (const auto& [id, due] : live_) {
            if (!terminated_ && due <= now) {
                why_ << "timer #" << id << " due at " << due << " ns is live at " << now << "\n";
            }
        }
        if (launcher::exitTimer.get() != (held_ == 0 ? nullptr : fake.timer(held_).get())) {
            why_ << "exitTimer should hold timer #" << held_ << " (0: none)\n";
        }
        if (launcher::commandLineMode != commandLine_ ||
            launcher::interactiveInstall != interactiveInstall_ ||
            launcher::keepRunning != keepRunning_) {
            why_ << "commandLineMode, interactiveInstall, keepRunning should be " << commandLine_
                 << ", " << interactiveInstall_ << ", " << keepRunning_ << "\n";
        }
        if (runTo && !terminated_ && now != std::max(*runTo, clock_)) {
            why_ << "the run ended at " << now << " ns, not " << std::max(*runTo, clock_) << "\n";
        }
        clock_ = now;  // nothing runs between steps
        return why_.str();
    }

  private:
    std::size_t event(const fake::Trace& trace, std::size_t k) {
        const fake::Event& e = trace[k];
        const Nanos t = nanos(e.time);
        if (terminated_) {
            why_ << "event #" << k << " comes after terminate\n";
        }
        if (const auto answer = answerOf(e)) {
            return answered(trace, k, *answer);
        }
        if (e.sink == Sink::timerScheduled) {
            if (seen_ != 0 || !commandLine_ || held_ != 0) {
                why_ << "timer #" << e.number << " scheduled where nothing may schedule one\n";
            }
            schedule(e);
        } else if (e.sink == Sink::timerInvalidated) {
            why_ << "timer #" << e.number << " invalidated, but not by an approval\n";
        } else if (e.sink == Sink::timerFired) {
            const Nanos due = live_.contains(e.number) ? live_[e.number] : -1;
            if (live_.erase(e.number) == 0 || t != std::max(due, clock_)) {
                why_ << "timer #" << e.number << " fired at " << t << " ns: not live or not due\n";
            }
            const bool ends = k + 1 < trace.size() && trace[k + 1].sink == Sink::terminate;
            if (ends == keepRunning_) {
                why_ << "timer #" << e.number
                     << (ends ? " ended the app though keepRunning is set\n"
                              : " did not end the app, keepRunning clear\n");
            }
            clock_ = t;
        } else if (e.sink == Sink::terminate) {
            const bool byTimer = e.object == app_ && k > 0 &&
                                 trace[k - 1].sink == Sink::timerFired &&
                                 trace[k - 1].time == e.time && !keepRunning_;
            if (!byTimer && (e.object != quitButton_ || t != clock_)) {
                why_ << "terminate at " << t << " ns by neither a timer nor a quit\n";
            }
            terminated_ = true;
        }
        return k + 1;
    }

    std::size_t answered(const fake::Trace& trace, std::size_t i, Answer answer) {
        auto order = std::vector{Sink::activityLog, Sink::unifiedLog, Sink::messageBox};
        if (answer == Answer::completion) {
            std::rotate(order.begin(), order.begin() + 1, order.end());
        }
        if (mode_ == Mode::unsupportedRelease) {  // no log location on a release not served
            std::erase(order, Sink::activityLog);
        }
        const std::size_t first = order.front() == Sink::unifiedLog ? i : i - 1;
        const Nanos t = nanos(trace[first].time);
        for (std::size_t j = 0; j < order.size(); ++j) {
            if (first + j >= trace.size() || trace[first + j].sink != order[j] ||
                nanos(trace[first + j].time) != t) {
                why_ << "the reports at event #" << first << " are not in their order\n";
                break;
            }
        }
        if (t != clock_) {
            why_ << "an answer ran at " << t << " ns, the loop was free at " << clock_ << " ns\n";
        }
        std::size_t k = first + order.size();
        const auto follows = [&](Sink sink, Nanos at, const char* what) {
            if (k < trace.size() && trace[k].sink == sink && nanos(trace[k].time) == at) {
                return ++k;
            }
            why_ << what << " missing after event #" << i << " at " << t << " ns\n";
            return std::size_t{0};
        };
        Nanos pause = second;
        switch (answer) {
            case Answer::completion:
                if (commandLine_ && follows(Sink::timerScheduled, t + second, "the exit timer")) {
                    schedule(trace[k - 1]);
                }
                break;
            case Answer::unexpected:
            case Answer::failure:
                keepRunning_ = keepRunning_ || interactiveInstall_;
                if (commandLine_ && held_ != 0 &&
                    follows(Sink::timerScheduled, t + (answer == Answer::failure ? second : 0),
                            "the exit timer")) {
                    schedule(trace[k - 1]);
                }
                break;
            case Answer::approval:
                pause = 0;
                if (held_ != 0 && follows(Sink::timerInvalidated, t, "the invalidation")) {
                    live_.erase(held_);
                }
                held_ = 0;  // a timer replaced before stays live: it still fires
                break;
            case Answer::replacement:
                follows(Sink::replacementAnswer, t + second, "the replacement answer after 1 s");
                break;
        }
        clock_ = t + pause;
        return k;
    }

    void schedule(const fake::Event& e) {
        live_[e.number] = nanos(e.time) + exitDelay;
        held_ = e.number;
    }

    Mode mode_;
    const void* app_;
    const void* quitButton_;
    bool commandLine_ = mode_ <= Mode::installInteractive;
    bool interactiveInstall_ = mode_ == Mode::installInteractive;
    bool keepRunning_ = false;
    bool terminated_ = false;
    Nanos clock_ = 0;
    std::int64_t held_ = 0;               // the timer exitTimer refers to, fired or not; 0: none
    std::map<std::int64_t, Nanos> live_;  // id, when due
    std::size_t seen_ = 0;
    std::ostringstream why_;
};

bool runSequence(std::uint64_t seed) {
    const auto mode = static_cast<Mode>(seed % modeCount);
    std::mt19937_64 rng(seed);
    const auto below = [&rng](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    static const char* const texts[] = {"", "%@ %d %n", "1.0\n\xC3\xA9", "2.10.3"};

    fake::resetLauncherState();
    fake::FakePlatform fake;
    fake.createActivityLog();
    if (mode == Mode::unsupportedRelease) {
        fake.setRelease(11 + below(2), below(7), 0);
    }
    const int flag = mode == Mode::unsupportedRelease ? below(4) : static_cast<int>(mode);
    fake.launch(flag < 3 ? std::vector<std::string>{modeNames[flag]} : std::vector<std::string>{});
    Checker checker(mode, fake::address(*fake.delegate()), fake::address(*fake.quitButton()));
    std::string why = checker.afterStep(fake, std::nullopt);

    const int length = 5 + below(36);
    for (int step = 1; step <= length + 1 && why.empty(); ++step) {
        const int roll = below(100);
        const auto requests = static_cast<int>(fake.requests().size());
        const auto request = static_cast<std::size_t>(below(std::max(requests, 1)));
        std::optional<Nanos> runTo;
        if (step > length || (roll >= 45 && roll < 82) || (roll < 45 && requests == 0)) {
            // Often on a quarter second, so that timers, pauses and runs meet; the last
            // run is long enough for every timer still live.
            const int ms = step > length ? 30'000 : below(2) ? 250 * below(25) : below(12'000);
            runTo = nanos(fake.now() + ms / 1000.0);
            fake.runFor(ms / 1000.0);
        } else if (roll >= 82) {
            roll < 90   ? fake.pressLoadButton()
            : roll < 98 ? fake.pressDisableButton()
                        : fake.userQuits();
        } else if (const int kind = below(100); kind < 35) {
            fake.answerFinished(request, below(100) < 65 ? usualResults[below(8)]
                                                         : static_cast<std::int64_t>(rng()));
        } else if (kind < 55) {
            fake.answerFailed(request, texts[below(4)]);
        } else if (kind < 80) {
            fake.answerNeedsApproval(request);
        } else {
            fake.answerReplacement(request, texts[below(4)], texts[below(4)]);
        }
        if (why = checker.afterStep(fake, runTo); !why.empty()) {
            why = "after step " + std::to_string(step) + ": " + why;
        }
    }
    fake::resetLauncherState();
    if (!why.empty()) {
        ADD_FAILURE() << "seed " << seed << " (" << modeNames[seed % modeCount]
                      << "), replay with VELTRIN_PROPERTY_SEED=" << seed << "\n"
                      << why << "trace:\n"
                      << fake::describe(fake.trace());
    }
    return why.empty();
}

// The modes take turns (seed % 5), so any count of sequences covers all five.
TEST(StateRules, HoldInEverySequence) {
    const auto replay = environmentNumber("VELTRIN_PROPERTY_SEED");
    const std::uint64_t first = replay.value_or(baseSeed);
    const std::uint64_t count =
        replay ? 1 : environmentNumber("VELTRIN_PROPERTY_SEQUENCES").value_or(defaultSequences);
    int failures = 0;
    for (std::uint64_t seed = first; seed < first + count && failures < 3; ++seed) {
        failures += runSequence(seed) ? 0 : 1;
    }
}

}  // namespace
