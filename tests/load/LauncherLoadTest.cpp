// Several launchers against one stand-in state at once while sysextctl changes
// that state under them. Which answer each request gets depends on how the
// processes interleave, so the checks are what must hold whatever the order:
// every request gets exactly one final answer of a kind the service gives, every
// launcher ends (by itself, or on SIGTERM where it rightly stays open) with
// status 0, and the state stays readable and consistent.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "Scratch.hpp"

namespace {

using e2e::Clock;
using e2e::Seconds;
namespace fs = std::filesystem;

const std::string dext = VELTRIN_LOAD_DEXT_IDENTIFIER;
const std::string successText =
    "Success:System extension operation successful. Please restart your computer.";
const std::string afterRebootText =
    "Success:System extension operation will complete after reboot. Please restart your "
    "computer.";
const std::string approvalText = "Info:System Extension " + dext + " requires user approval";
const std::string replacingPrefix = "Info:Replacing extension " + dext + " version ";
const std::string failurePrefix = "Error:System extension request failed: ";
// Failures the service gives for the races and commands of this test. Anything
// else (a state it could not read or lock, a crashed worker) is a fault.
const std::vector<std::string> expectedFailures = {
    "System policy forbids the extension " + dext + ".",
    "The extension " + dext + " is not installed, so there is nothing to deactivate",
    "The request for " + dext + " was superseded by a newer request",
    "The request for " + dext + " was canceled while it waited for approval",
};

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The texts of an activity log's lines, without their stamps. A "Start:" text
// keeps its own line feed, as the launcher writes it.
std::vector<std::string> logTexts(const std::string& bytes) {
    static const std::regex stamp(R"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d:)");
    std::vector<std::string> texts;
    std::size_t position = 0;
    while (position < bytes.size()) {
        std::size_t end = bytes.find("\r\n", position);
        if (end == std::string::npos) {
            end = bytes.size();
        }
        const std::string line = bytes.substr(position, end - position);
        position = end + 2;
        texts.push_back(std::regex_search(line, stamp) ? line.substr(20) : "<unstamped> " + line);
    }
    return texts;
}

// What a run's log says about its one request.
struct Answer {
    bool approval = false;
    bool replacement = false;
    std::string final;  // empty while unanswered
    bool failed() const { return startsWith(final, failurePrefix); }
    // After an approval, a failure leaves an installer open: there is no exit
    // timer left to end it.
    bool staysOpen() const { return approval && failed(); }
};

Answer answerOf(const std::vector<std::string>& texts) {
    Answer answer;
    for (const std::string& text : texts) {
        if (text == approvalText) {
            answer.approval = true;
        } else if (startsWith(text, replacingPrefix)) {
            answer.replacement = true;
        } else if (text == successText || text == afterRebootText ||
                   startsWith(text, failurePrefix)) {
            answer.final = text;
        }
    }
    return answer;
}

struct Launch {
    std::string flag;
    fs::path home;
    std::unique_ptr<e2e::Child> child;
    std::optional<e2e::ExitStatus> status;
    bool quit = false;
    fs::path log() const { return home / "veltrinLogFile.txt"; }
};

// One command of sysextctl at a moment of a wave, seconds after its start.
// Empty args: a burst of developer-mode toggles, each read back at once, for as
// long as `burst` lasts. Only sysextctl changes that setting, so a value that
// does not read back was lost to a request worker's update of the same file.
struct Control {
    double at;
    std::vector<std::string> args;
    double burst = 0;
};

class LauncherLoadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(scratch_.ok());
        scratch_.makeRuntimeDirectory();
    }
    void TearDown() override {
        if (HasFailure()) {
            scratch_.keep();
        }
    }

    // sysextctl must succeed; its standard output.
    std::string sysextctl(const std::vector<std::string>& args) {
        std::vector<std::string> argv{VELTRIN_LOAD_SYSEXTCTL};
        argv.insert(argv.end(), args.begin(), args.end());
        const fs::path err = scratch_.root() / "sysextctl.stderr";
        std::string error;
        auto child =
            e2e::Child::spawn(argv, scratch_.environment(scratch_.root()), err.string(), error);
        if (!child) {
            ADD_FAILURE() << error;
            return {};
        }
        const e2e::ExitStatus status = child->finish(Seconds(20));
        ++commands_;
        EXPECT_TRUE(status.exited && status.code == 0)
            << "sysextctl " << args[0] << ": code " << status.code << ", signal " << status.signal
            << ": " << readFile(err);
        if (args[0] == "list") {
            expectListIsConsistent(child->output());
        }
        return child->output();
    }

    // One line per slot: at most one running (or waiting) version and at most
    // one waiting to be removed, per identifier, each in a state the service knows.
    void expectListIsConsistent(const std::string& list) {
        static const std::regex shape(
            R"(^(\S+) \d+(\.\d+)* \(\S+\) \[(activated enabled|activated waiting for user|activated waiting for reboot|terminated waiting to uninstall on reboot)\]$)");
        std::set<std::pair<std::string, bool>> slots;
        std::istringstream lines(list);
        std::string line;
        while (std::getline(lines, line)) {
            std::smatch match;
            if (!std::regex_match(line, match, shape)) {
                ADD_FAILURE() << "sysextctl list printed \"" << line << "\"";
                continue;
            }
            const bool removal = match[3] == "terminated waiting to uninstall on reboot";
            EXPECT_TRUE(slots.insert({match[1], removal}).second)
                << "identifier listed twice in one slot:\n"
                << list;
        }
    }

    // Starts the launchers a little apart, plays the controls, then waits for
    // every run to end, quitting with SIGTERM those that rightly stay open.
    std::vector<Launch> wave(const std::string& name, const std::vector<std::string>& flags,
                             const std::vector<Control>& controls) {
        std::vector<Launch> runs;
        const auto start = Clock::now();
        const auto at = [&](double seconds) {
            std::this_thread::sleep_until(
                start + std::chrono::duration_cast<Clock::duration>(Seconds(seconds)));
        };
        for (std::size_t i = 0; i < flags.size(); ++i) {
            at(0.15 * static_cast<double>(i));
            Launch run;
            run.flag = flags[i];
            run.home = scratch_.root() / (name + "-" + std::to_string(i) + flags[i]);
            fs::create_directories(run.home);
            std::ofstream(run.log(), std::ios::binary).close();
            std::string error;
            run.child =
                e2e::Child::spawn({VELTRIN_LOAD_LAUNCHER, flags[i]}, scratch_.environment(run.home),
                                  (run.home / "stderr").string(), error);
            if (!run.child) {
                ADD_FAILURE() << error;
                return runs;
            }
            runs.push_back(std::move(run));
        }
        for (const Control& control : controls) {
            at(control.at);
            if (!control.args.empty()) {
                sysextctl(control.args);
                continue;
            }
            const auto end =
                Clock::now() + std::chrono::duration_cast<Clock::duration>(Seconds(control.burst));
            for (bool on = true; Clock::now() < end; on = !on) {
                sysextctl({"developer", on ? "on" : "off"});
                EXPECT_EQ(sysextctl({"developer"}), on ? "on\n" : "off\n")
                    << "a change to the state was lost";
            }
            sysextctl({"developer", "off"});
        }

        // A request answered at the last moment still ends its run within
        // about 7 s (the pause and the exit timer); the rest is the machine's share.
        const auto deadline = Clock::now() + std::chrono::seconds(25);
        for (;;) {
            bool running = false;
            for (Launch& run : runs) {
                if (run.status) {
                    continue;
                }
                run.status = run.child->waitForExit(Seconds(0));
                if (run.status) {
                    continue;
                }
                running = true;
                if (!run.quit && answerOf(logTexts(readFile(run.log()))).staysOpen()) {
                    run.child->sendSignal(SIGTERM);
                    run.quit = true;
                }
            }
            if (!running || Clock::now() > deadline) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        for (Launch& run : runs) {
            if (!run.status) {
                ADD_FAILURE() << name << " " << run.flag << " still running 25 s after the "
                              << "last control; its log:\n"
                              << readFile(run.log());
                run.status = run.child->finish(Seconds(0));
            }
        }
        return runs;
    }

    // Each run's log holds its start, its arguments and exactly one final answer.
    void expectEveryRequestAnswered(const std::string& name, const std::vector<Launch>& runs) {
        for (const Launch& run : runs) {
            SCOPED_TRACE(name + " " + run.flag + " in " + run.home.string());
            ++launchers_;
            const std::vector<std::string> texts = logTexts(readFile(run.log()));
            const std::string start = run.flag == "-install" ? "Start:installing driver\n"
                                                             : "Start:uninstalling driver\n";
            ASSERT_GE(texts.size(), 3u) << "log too short";
            EXPECT_EQ(texts[0], start);
            EXPECT_EQ(texts[1], "Info:Command arguments=");
            int finals = 0;
            for (std::size_t i = 2; i < texts.size(); ++i) {
                const std::string& text = texts[i];
                const bool last = i + 1 == texts.size();
                if (text == successText || text == afterRebootText) {
                    ++finals;
                } else if (startsWith(text, failurePrefix)) {
                    ++finals;
                    const std::string description = text.substr(failurePrefix.size());
                    bool known = false;
                    for (const std::string& expected : expectedFailures) {
                        known = known || startsWith(description, expected);
                    }
                    EXPECT_TRUE(known) << "unexpected failure: " << description;
                } else {
                    EXPECT_FALSE(last) << "no final answer after \"" << text << "\"";
                    EXPECT_TRUE(text == approvalText || startsWith(text, replacingPrefix))
                        << "unexpected line \"" << text << "\"";
                }
            }
            EXPECT_EQ(finals, 1) << "final answers in the log";

            const Answer answer = answerOf(texts);
            EXPECT_FALSE(run.flag == "-uninstall" && (answer.approval || answer.replacement));
            EXPECT_EQ(run.quit, answer.staysOpen());
            ASSERT_TRUE(run.status);
            EXPECT_TRUE(run.status->exited && run.status->code == 0)
                << "code " << run.status->code << ", signal " << run.status->signal
                << ", killed by the test " << run.status->killedByHarness;
            const std::string out = run.child->output();
            EXPECT_TRUE(startsWith(out, "Running on Ventura or greater\n")) << out;

            ++requests_;
            static const char* const failureNames[] = {"forbidden", "not installed", "superseded",
                                                       "canceled"};
            std::string kind = answer.final == successText       ? "completed"
                               : answer.final == afterRebootText ? "completes after reboot"
                                                                 : "failed";
            for (std::size_t i = 0; i < expectedFailures.size(); ++i) {
                if (startsWith(answer.final, failurePrefix + expectedFailures[i])) {
                    kind += std::string(" (") + failureNames[i] + ")";
                }
            }
            if (std::getenv("VELTRIN_LOAD_VERBOSE") != nullptr) {
                const auto lines = run.child->lines();
                std::cout << name << " " << run.flag << " submitted at "
                          << (lines.size() > 1
                                  ? e2e::secondsBetween(run.child->started(), lines[1].arrived)
                                  : -1.0)
                          << " s after its start: " << kind << "\n";
            }
            ++outcomes_[run.flag + " " + kind + (answer.approval ? ", after approval" : "") +
                        (answer.replacement ? ", after replacement" : "") +
                        (run.quit ? ", quit" : "")];
        }
    }

    // Nothing waits for approval once every request is answered, and the file
    // still reads back.
    void expectStateSettled() {
        sysextctl({"list"});
        const std::string state = readFile(scratch_.root() / "state" / "veltrin-sysext" / "state");
        EXPECT_EQ(state.find("\npending "), std::string::npos) << state;
        EXPECT_TRUE(state.size() >= 4 && state.substr(state.size() - 4) == "end\n") << state;
    }

    load::Scratch scratch_;
    int launchers_ = 0;
    int requests_ = 0;
    int commands_ = 0;
    std::map<std::string, int> outcomes_;
};

TEST_F(LauncherLoadTest, LaunchersAndSysextctlShareOneState) {
    const auto started = Clock::now();

    // Not approved yet: installs wait, supersede and cancel each other until
    // the approval comes; the removal finds a version that only waits.
    auto first = wave("first", {"-install", "-install", "-uninstall", "-install"},
                      {{0.3, {"list"}},
                       {0.6, {"busy", dext, "on"}},
                       {1.0, {"list"}},
                       {1.4, {"policy", dext, "allow"}},
                       {1.6, {"list"}},
                       {1.9, {"busy", dext, "off"}},
                       {2.2, {"list"}},
                       {2.25, {}, 1.0},
                       {3.3, {"approve", dext}},
                       {3.5, {"list"}},
                       {3.8, {"busy", dext, "on"}},
                       {4.0, {"list"}},
                       {4.5, {"busy", dext, "off"}}});
    expectEveryRequestAnswered("first", first);
    expectStateSettled();

    // Approved, with replacement asked every time: replacements, removals
    // that wait for a restart, a policy that forbids for a moment, and a restart.
    sysextctl({"developer", "on"});
    auto second = wave("second", {"-install", "-uninstall", "-install", "-install"},
                       {{0.3, {"busy", dext, "on"}},
                        {0.8, {"list"}},
                        {1.22, {"policy", dext, "deny"}},
                        {1.38, {"policy", dext, "allow"}},
                        {1.6, {"list"}},
                        {2.2, {"busy", dext, "off"}},
                        {2.5, {"list"}},
                        {3.0, {"approve", dext}},
                        {3.5, {"reboot"}},
                        {4.0, {"list"}}});
    expectEveryRequestAnswered("second", second);
    sysextctl({"developer", "off"});
    expectStateSettled();

    // Forgotten again, six at once: more installs racing for one approval.
    sysextctl({"reset"});
    auto third =
        wave("third", {"-install", "-uninstall", "-install", "-install", "-uninstall", "-install"},
             {{0.5, {"list"}},
              {1.3, {"busy", dext, "on"}},
              {1.7, {"list"}},
              {1.75, {}, 1.0},
              {2.8, {"approve", dext}},
              {3.0, {"list"}},
              {3.2, {"busy", dext, "off"}},
              {3.4, {"list"}}});
    expectEveryRequestAnswered("third", third);
    expectStateSettled();

    const double seconds = e2e::secondsBetween(started, Clock::now());
    std::cout << "launcher load: " << launchers_ << " launcher processes (4, 4 and 6 at once), "
              << requests_ << " requests, " << commands_ << " sysextctl commands, " << seconds
              << " s = " << static_cast<double>(requests_) / seconds << " requests/s\n";
    for (const auto& [outcome, count] : outcomes_) {
        std::cout << "  " << count << " x " << outcome << "\n";
    }
}

}  // namespace
