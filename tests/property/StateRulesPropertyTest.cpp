// Random sequences of request answers, loop runs, button presses and quits, in
// every launch mode, checked after each step against a small reference model of
// the state rules (which events a step must cause and when, which exit timers
// are alive, when the application must end) and against trace invariants that
// hold whatever the model says.
//
// Seeds are fixed, so CI runs the same sequences every time. A failure prints its
// seed and steps; VELTRIN_PROPERTY_SEED=<seed> replays that one sequence, and
// VELTRIN_PROPERTY_SEQUENCES=<n> changes how many run in all.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "DextIdentifier.hpp"  // generated
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

const char* modeName(Mode mode) {
    static const char* const names[] = {"-install", "-uninstall", "-installInteractive",
                                        "interactive use", "unsupported release"};
    return names[static_cast<std::size_t>(mode)];
}

bool commandLine(Mode mode) {
    return mode == Mode::install || mode == Mode::uninstall || mode == Mode::installInteractive;
}

std::optional<std::uint64_t> environmentNumber(const char* name) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return std::nullopt;
    }
    return std::strtoull(text, nullptr, 10);
}

// ---------------------------------------------------------------- steps

enum class Action { complete, fail, approve, replace, load, disable, quit, run };

struct Step {
    Action action = Action::run;
    std::size_t request = 0;
    std::int64_t value = 0;  // the result, or the run's length in milliseconds
    std::string text{};      // the description, or the installed version
    std::string other{};     // the offered version
};

class Generator {
  public:
    explicit Generator(std::uint64_t seed) : rng_(seed) {}

    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

    // `requests`: how many requests exist to be answered.
    Step next(std::size_t requests) {
        const int roll = below(100);
        if (roll < 45 && requests > 0) {
            const auto request = static_cast<std::size_t>(below(static_cast<int>(requests)));
            const int kind = below(100);
            if (kind < 35) {
                return {Action::complete, request, result()};
            }
            if (kind < 55) {
                return {Action::fail, request, 0, text("abcXYZ %@d\n\xC3\xA9", 12)};
            }
            if (kind < 80) {
                return {Action::approve, request};
            }
            return {Action::replace, request, 0, text("0123456789.", 6), text("0123456789.", 6)};
        }
        if (roll < 82) {
            return {Action::run, 0, runMilliseconds()};
        }
        return {roll < 90 ? Action::load : roll < 98 ? Action::disable : Action::quit};
    }

  private:
    std::int64_t result() {
        using limits = std::numeric_limits<std::int64_t>;
        static constexpr std::int64_t usual[] = {0, 0, 1, 1, 2, -1, limits::min(), limits::max()};
        if (below(100) < 65) {
            return usual[below(static_cast<int>(std::size(usual)))];
        }
        return static_cast<std::int64_t>(rng_());
    }

    // Mostly short, often on a quarter second so that timers, pauses and runs meet
    // at the same instant; sometimes long enough for every pending timer.
    std::int64_t runMilliseconds() {
        const int kind = below(10);
        return kind < 2   ? 0
               : kind < 6 ? 250 * (1 + below(24))
               : kind < 9 ? 1 + below(4000)
                          : 1 + below(12000);
    }

    std::string text(std::string_view alphabet, int longest) {
        std::string out;
        const int length = below(longest + 1);
        for (int i = 0; i < length; ++i) {
            out += alphabet[static_cast<std::size_t>(below(static_cast<int>(alphabet.size())))];
        }
        return out;
    }

    std::mt19937_64 rng_;
};

// ---------------------------------------------------------------- the reference model

double seconds(Nanos time) {
    return static_cast<double>(time) / 1e9;
}

Nanos nanos(double time) {
    return static_cast<Nanos>(std::llround(time * 1e9));
}

// What the checks compare of an event: its sink, time and identities, not its texts
// (the scenario tests pin those down).
fake::Event projected(fake::Event event) {
    event.text.clear();
    event.queue = nullptr;
    return event;
}

fake::Event event(Sink sink, Nanos time, std::int64_t number = 0, const void* object = nullptr) {
    return {.time = seconds(time), .sink = sink, .number = number, .object = object};
}

// The launcher as the state rules describe it, on a run loop that runs what is
// due in the order it became due; a blocking pause delays all of it.
class Reference {
  public:
    Reference(Mode mode, const void* app, const void* quitButton)
        : mode_(mode),
          app_(app),
          quitButton_(quitButton),
          commandLineMode_(commandLine(mode)),
          interactiveInstall_(mode == Mode::installInteractive) {}

    // The launch: in a command-line mode, a pause, the request, then the exit timer.
    void launch() {
        if (!commandLineMode_) {
            return;
        }
        now_ += second;
        submit(mode_ == Mode::uninstall ? 1 : 0);
        schedule();
    }

    void post(const Step& step) { posted_.push_back({now_, order_++, step}); }

    void runUntil(Nanos limit) {
        while (!ended_) {
            const Nanos due = std::max(limit, now_);
            auto next = alive_.end();
            for (auto it = alive_.begin(); it != alive_.end(); ++it) {
                if (it->second.fireAt <= due &&
                    (next == alive_.end() ||
                     std::tie(it->second.fireAt, it->second.order) <
                         std::tie(next->second.fireAt, next->second.order))) {
                    next = it;
                }
            }
            if (!posted_.empty() &&
                (next == alive_.end() || std::tie(posted_.front().at, posted_.front().order) <
                                             std::tie(next->second.fireAt, next->second.order))) {
                const Step step = posted_.front().step;
                posted_.pop_front();
                handle(step);
            } else if (next != alive_.end()) {
                now_ = std::max(now_, next->second.fireAt);
                fire(next->first);
            } else {
                break;
            }
        }
        if (!ended_ && limit > now_) {
            now_ = limit;
        }
    }

    fake::Trace takeExpected() { return std::exchange(expected_, {}); }

    Nanos now() const { return now_; }
    bool ended() const { return ended_; }
    bool keepRunning() const { return keepRunning_; }
    std::int64_t heldTimer() const { return held_; }
    std::size_t requests() const { return requests_; }
    std::vector<std::int64_t> aliveTimers() const {
        std::vector<std::int64_t> ids;
        for (const auto& entry : alive_) {
            ids.push_back(entry.first);
        }
        return ids;
    }

  private:
    struct Pending {
        Nanos at;
        std::uint64_t order;
        Step step;
    };
    struct Alive {
        Nanos fireAt;
        std::uint64_t order;
    };

    void expect(fake::Event e) { expected_.push_back(std::move(e)); }

    // The three reports of an answer, in the order given, all at the answer's start.
    void report(std::vector<Sink> order, std::vector<fake::Argument> arguments) {
        for (const Sink sink : order) {
            if (sink == Sink::activityLog && mode_ == Mode::unsupportedRelease) {
                continue;  // no log location is ever set on a release that is not served
            }
            fake::Event e = event(sink, now_);
            if (sink == Sink::unifiedLog) {
                e.arguments = arguments;
            }
            expect(std::move(e));
        }
    }

    void submit(std::int64_t kind) {
        expect(event(Sink::submit, now_, kind, app_));
        ++requests_;
    }

    void schedule() {
        held_ = ++timers_;
        alive_[held_] = {now_ + exitDelay, order_++};
        fake::Event e = event(Sink::timerScheduled, now_, held_, app_);
        e.seconds = 5.0;
        expect(std::move(e));
    }

    void terminate(const void* sender) {
        expect(event(Sink::terminate, now_, 0, sender));
        ended_ = true;
    }

    void fire(std::int64_t id) {
        alive_.erase(id);
        expect(event(Sink::timerFired, now_, id));
        if (!keepRunning_) {
            terminate(app_);
        }
    }

    void handle(const Step& step) {
        const std::string identifier(launcher::dextIdentifier);
        constexpr Sink activity = Sink::activityLog;
        constexpr Sink unified = Sink::unifiedLog;
        constexpr Sink status = Sink::messageBox;
        switch (step.action) {
            case Action::complete:
                if (step.value == 0 || step.value == 1) {
                    report({unified, status, activity}, {});
                    now_ += second;
                    if (commandLineMode_) {
                        schedule();
                    }
                } else {
                    report({activity, unified, status}, {step.value});
                    keepRunning_ = keepRunning_ || interactiveInstall_;
                    if (commandLineMode_ && held_ != 0) {
                        schedule();
                    }
                    now_ += second;
                }
                break;
            case Action::fail:
                report({activity, unified, status}, {step.text});
                keepRunning_ = keepRunning_ || interactiveInstall_;
                now_ += second;
                if (commandLineMode_ && held_ != 0) {
                    schedule();
                }
                break;
            case Action::approve:
                report({activity, unified, status}, {identifier});
                if (held_ != 0) {
                    expect(event(Sink::timerInvalidated, now_, held_));
                    alive_.erase(held_);
                    held_ = 0;
                }
                break;
            case Action::replace:
                report({activity, unified, status}, {identifier, step.text, step.other});
                now_ += second;
                expect(event(Sink::replacementAnswer, now_, 1));
                break;
            case Action::load:
                submit(0);
                break;
            case Action::disable:
                submit(1);
                break;
            case Action::quit:
                terminate(quitButton_);
                break;
            case Action::run:
                break;
        }
    }

    Mode mode_;
    const void* app_;
    const void* quitButton_;
    bool commandLineMode_;
    bool interactiveInstall_;
    bool keepRunning_ = false;
    bool ended_ = false;
    Nanos now_ = 0;
    std::uint64_t order_ = 0;
    std::int64_t timers_ = 0;
    std::int64_t held_ = 0;  // the timer exitTimer refers to, fired or not; 0: none
    std::map<std::int64_t, Alive> alive_;
    std::deque<Pending> posted_;
    std::size_t requests_ = 0;
    fake::Trace expected_;
};

// ---------------------------------------------------------------- one sequence

class Sequence {
  public:
    explicit Sequence(std::uint64_t seed)
        : seed_(seed), mode_(static_cast<Mode>(seed % modeCount)), generator_(seed) {}

    // True when every check held after every step.
    bool run() {
        fake::resetLauncherState();
        fake::FakePlatform fake;
        fake.createActivityLog();
        std::vector<std::string> flags;
        if (mode_ == Mode::unsupportedRelease) {
            static const char* const anyFlag[] = {"-install", "-uninstall", "-installInteractive"};
            const int pick = generator_.below(4);
            if (pick < 3) {
                flags.emplace_back(anyFlag[pick]);
            }
            fake.setRelease(11 + generator_.below(2), generator_.below(7), 0);
        } else if (mode_ != Mode::interactive) {
            flags.emplace_back(modeName(mode_));
        }
        fake.launch(flags);

        const void* app = fake::address(*fake.delegate());
        Reference model(mode_, app, fake::address(*fake.quitButton()));
        model.launch();
        fake::Trace launchEvents;
        for (const fake::Event& e : fake.trace()) {
            if (e.sink == Sink::submit || e.sink == Sink::timerScheduled ||
                e.sink == Sink::timerInvalidated || e.sink == Sink::timerFired ||
                e.sink == Sink::terminate) {
                launchEvents.push_back(projected(e));
            }
        }
        std::size_t seen = fake.trace().size();
        if (!check(fake, fake.trace(), launchEvents, model.takeExpected(), model)) {
            return false;
        }

        const int length = 5 + generator_.below(36);
        for (int i = 0; i <= length; ++i) {
            Step step = generator_.next(model.requests());
            if (i == length) {  // at the end, every timer still alive must have its turn
                step = Step{};
                step.value = 30'000;
            }
            ++steps_;
            if (!apply(fake, model, step)) {
                return false;
            }
            const fake::Trace& trace = fake.trace();  // each look stats the activity log
            fake::Trace actual;
            for (std::size_t k = seen; k < trace.size(); ++k) {
                actual.push_back(projected(trace[k]));
            }
            seen = trace.size();
            if (!check(fake, trace, actual, model.takeExpected(), model)) {
                return false;
            }
        }
        fake::resetLauncherState();
        return true;
    }

  private:
    bool apply(fake::FakePlatform& fake, Reference& model, const Step& step) {
        if (step.action == Action::run) {
            fake.runFor(static_cast<double>(step.value) / 1000.0);
            model.runUntil(model.now() + step.value * 1'000'000);
            return true;
        }
        if (step.action <= Action::replace &&
            step.request >= fake.requests().size()) {  // an answer
            return failed("request #" + std::to_string(step.request) + " was never submitted");
        }
        switch (step.action) {
            case Action::complete:
                fake.answerFinished(step.request, step.value);
                break;
            case Action::fail:
                fake.answerFailed(step.request, step.text);
                break;
            case Action::approve:
                fake.answerNeedsApproval(step.request);
                break;
            case Action::replace:
                fake.answerReplacement(step.request, step.text, step.other);
                break;
            case Action::load:
                fake.pressLoadButton();
                break;
            case Action::disable:
                fake.pressDisableButton();
                break;
            case Action::quit:
                fake.userQuits();
                break;
            case Action::run:
                break;
        }
        model.post(step);
        return true;
    }

    // `whole` is the trace so far, `actual` what the last step added to it.
    bool check(fake::FakePlatform& fake, const fake::Trace& whole, const fake::Trace& actual,
               const fake::Trace& expected, const Reference& model) {
        std::ostringstream why;
        if (actual != expected) {
            why << "events differ from the model\n  expected:\n"
                << fake::describe(expected) << "  actual:\n"
                << fake::describe(actual);
        }
        if (nanos(fake.now()) != model.now()) {
            why << "clock at " << fake.now() << " s, the model says " << seconds(model.now())
                << " s\n";
        }
        if (fake.ended() != model.ended()) {
            why << "ended is " << fake.ended() << ", the model says " << model.ended() << "\n";
        }
        if (launcher::keepRunning != model.keepRunning()) {
            why << "keepRunning is " << launcher::keepRunning << ", the model says "
                << model.keepRunning() << "\n";
        }
        if (launcher::commandLineMode != commandLine(mode_) ||
            launcher::interactiveInstall != (mode_ == Mode::installInteractive)) {
            why << "commandLineMode " << launcher::commandLineMode << " / interactiveInstall "
                << launcher::interactiveInstall << " do not match the mode\n";
        }
        if (fake.scheduledTimerIds() != model.aliveTimers()) {
            why << "live timers differ from the model's\n";
        }
        const std::int64_t held = model.heldTimer();
        if (held == 0 ? launcher::exitTimer != nullptr
                      : launcher::exitTimer.get() != fake.timer(held).get()) {
            why << "exitTimer should " << (held == 0 ? "be empty" : "hold timer #")
                << (held == 0 ? "" : std::to_string(held)) << "\n";
        }
        why << traceInvariants(whole, fake::address(*fake.delegate()));
        keepRunningSeen_ = keepRunningSeen_ || launcher::keepRunning;
        if (keepRunningSeen_ && !launcher::keepRunning) {
            why << "keepRunning was cleared\n";
        }
        return why.str().empty() ||
               failed("after " +
                      (steps_ == 0 ? std::string("the launch") : "step " + std::to_string(steps_)) +
                      ": " + why.str());
    }

    // What holds of the whole trace, whatever the model predicts.
    std::string traceInvariants(const fake::Trace& trace, const void* app) const {
        std::ostringstream why;
        std::map<std::int64_t, double> scheduledAt;
        std::set<std::int64_t> invalidated;
        std::set<std::int64_t> fired;
        for (std::size_t i = 0; i < trace.size(); ++i) {
            const fake::Event& e = trace[i];
            if (e.sink == Sink::terminate) {
                if (i + 1 != trace.size()) {
                    why << "events after terminate\n";
                }
                if (e.object == app && (i == 0 || trace[i - 1].sink != Sink::timerFired ||
                                        trace[i - 1].time != e.time || launcher::keepRunning)) {
                    why << "terminate not sent by a timer firing while keepRunning is false\n";
                }
            } else if (e.sink == Sink::timerScheduled) {
                if (!commandLine(mode_)) {
                    why << "a timer exists in " << modeName(mode_) << "\n";
                }
                scheduledAt[e.number] = e.time;
            } else if (e.sink == Sink::timerInvalidated) {
                invalidated.insert(e.number);
            } else if (e.sink == Sink::timerFired) {
                if (!fired.insert(e.number).second || invalidated.count(e.number) != 0 ||
                    nanos(e.time) < nanos(scheduledAt[e.number]) + exitDelay) {
                    why << "timer #" << e.number << " fired early, twice or after invalidation\n";
                }
            }
        }
        return why.str();
    }

    bool failed(const std::string& why) {
        ADD_FAILURE() << "seed " << seed_ << " (" << modeName(mode_)
                      << "), replay with VELTRIN_PROPERTY_SEED=" << seed_ << "\n"
                      << why;
        fake::resetLauncherState();
        return false;
    }

    std::uint64_t seed_;
    Mode mode_;
    Generator generator_;
    std::size_t steps_ = 0;
    bool keepRunningSeen_ = false;
};

// Runs this mode's share of the sequences, or the one seed asked for.
void runMode(Mode mode) {
    const auto index = static_cast<std::uint64_t>(mode);
    if (const auto seed = environmentNumber("VELTRIN_PROPERTY_SEED")) {
        if (*seed % modeCount != index) {
            GTEST_SKIP() << "seed " << *seed << " belongs to another mode";
        }
        Sequence(*seed).run();
        return;
    }
    const std::uint64_t total =
        environmentNumber("VELTRIN_PROPERTY_SEQUENCES").value_or(defaultSequences);
    const std::uint64_t share = (total + modeCount - 1 - index) / modeCount;
    int failures = 0;
    for (std::uint64_t i = 0; i < share && failures < 3; ++i) {
        failures += Sequence(baseSeed + i * modeCount + index).run() ? 0 : 1;
    }
}

class StateRules : public ::testing::TestWithParam<Mode> {};

TEST_P(StateRules, HoldInEverySequence) {
    runMode(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Modes, StateRules,
                         ::testing::Values(Mode::install, Mode::uninstall, Mode::installInteractive,
                                           Mode::interactive, Mode::unsupportedRelease),
                         [](const auto& testInfo) {
                             return std::to_string(static_cast<int>(testInfo.param));
                         });

}  // namespace
