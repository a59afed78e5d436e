// Load. Several processes appending to one activity log at once, each opening
// and closing the file for every line as the launcher does.
//
// Several launchers against one stand-in state at once while sysextctl changes
// that state under them. Which answer each request gets depends on how the
// processes interleave, so the checks are what must hold whatever the order:
// every request gets exactly one final answer of a kind the service gives, every
// launcher ends (by itself, or on SIGTERM where it rightly stays open) with
// status 0, and the state stays readable and consistent.
#include <csignal>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "E2eTest.hpp"

namespace e2e {
namespace {

namespace fs = std::filesystem;

// Failures the service gives for the races and commands of this test. Anything
// else (a state it could not read or lock, a crashed worker) is a fault.
const std::string expectedFailures[] = {
    deniedDescription, notInstalledDescription, canceledDescription,
    "The request for " + dextIdentifier + " was superseded by a newer request"};

struct Launch {
    std::string flag;
    fs::path log;
    std::unique_ptr<Child> child;
    std::optional<ExitStatus> status;
    bool quit = false;
};

class LauncherLoad : public E2eTest {
  protected:
    // sysextctl must succeed; what `list` prints must be consistent: one line
    // per slot, at most one running (or waiting) version and at most one
    // waiting to be removed, per identifier, each in a state the service knows.
    std::string sysextctl(const std::vector<std::string>& args) {
        ++commands_;
        const std::string out = control(args);
        if (args[0] != "list") {
            return out;
        }
        static const std::regex shape(
            R"(^(\S+) \d+(\.\d+)* \(\S+\) \[(activated enabled|activated waiting for user|activated waiting for reboot|terminated waiting to uninstall on reboot)\]$)");
        std::set<std::pair<std::string, bool>> slots;
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);) {
            std::smatch match;
            if (line == "nothing is installed") {
                continue;
            }
            if (!std::regex_match(line, match, shape)) {
                ADD_FAILURE() << "sysextctl list printed \"" << line << "\"";
                continue;
            }
            const bool removal = match[3] == "terminated waiting to uninstall on reboot";
            EXPECT_TRUE(slots.insert({match[1], removal}).second)
                << "identifier listed twice in one slot:\n"
                << out;
        }
        return out;
    }

    // Starts the launchers a little apart, plays the controls, waits for every
    // run to end, quitting with SIGTERM those that rightly stay open (a failure
    // after an approval leaves no exit timer), then checks every run and the state.
    // `controls`: sysextctl commands, each at a moment in seconds after the
    // wave's start, "*" standing for the identifier; "burst S": developer-mode
    // toggles, each read back at once, for S seconds. Only sysextctl changes that
    // setting, so a value that does not read back was lost to a request
    // worker's update of the same file.
    void wave(const std::string& name, const std::vector<std::string>& flags,
              const std::string& controls) {
        const std::time_t from = std::time(nullptr);
        std::vector<Launch> runs;
        const auto start = Clock::now();
        const auto at = [&](double seconds) {
            std::this_thread::sleep_until(
                start + std::chrono::duration_cast<Clock::duration>(Seconds(seconds)));
        };
        for (std::size_t i = 0; i < flags.size(); ++i) {
            at(0.15 * static_cast<double>(i));
            const fs::path home = scratch() / (name + "-" + std::to_string(i) + flags[i]);
            fs::create_directories(home);
            std::ofstream(home / "veltrinLogFile.txt", std::ios::binary);
            auto env = environment();
            env["HOME"] = home.string();
            auto child = launch({flags[i]}, env);
            ASSERT_TRUE(child);
            runs.push_back({flags[i], home / "veltrinLogFile.txt", std::move(child), {}, false});
        }
        std::istringstream script(controls);
        for (std::string step; std::getline(script, step, ';');) {
            std::istringstream words(step);
            double moment = 0;
            words >> moment;
            std::vector<std::string> args;
            for (std::string word; words >> word;) {
                args.push_back(word == "*" ? dextIdentifier : word);
            }
            at(moment);
            if (args[0] != "burst") {
                sysextctl(args);
                continue;
            }
            const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                Seconds(std::stod(args[1])));
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
        for (bool running = true; running && Clock::now() < deadline;) {
            running = false;
            for (Launch& run : runs) {
                if (!run.status && !(run.status = run.child->waitForExit(Seconds(0)))) {
                    running = true;
                    const std::string bytes = readFile(run.log);
                    if (!run.quit && bytes.find(":" + approvalText + "\r\n") != bytes.npos &&
                        bytes.find(":" + failurePrefix) != bytes.npos) {
                        run.child->sendSignal(SIGTERM);
                        run.quit = true;
                    }
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }

        // Each run's log holds its start, its arguments and one final answer,
        // last, with only approvals or replacements of an install between.
        for (Launch& run : runs) {
            SCOPED_TRACE(name + " " + run.flag + " in " + run.log.string());
            ++requests_;
            if (!run.status) {
                ADD_FAILURE() << "still running 25 s after the last control:\n"
                              << readFile(run.log);
                run.status = run.child->finish(Seconds(0));
            }
            const std::vector<std::string> texts = logTexts(run.log, from, std::time(nullptr));
            ASSERT_GE(texts.size(), 3u) << "log too short";
            EXPECT_EQ(texts[0], run.flag == "-install" ? "Start:installing driver\n"
                                                       : "Start:uninstalling driver\n");
            EXPECT_EQ(texts[1], "Info:Command arguments=");
            const std::string& answer = texts.back();
            EXPECT_TRUE(answer == successText || answer == afterRebootText ||
                        std::any_of(std::begin(expectedFailures), std::end(expectedFailures),
                                    [&](const std::string& known) {
                                        return answer.starts_with(failurePrefix + known);
                                    }))
                << "no final answer of a kind the service gives: " << answer;
            bool approval = false;
            for (std::size_t i = 2; i + 1 < texts.size(); ++i) {
                EXPECT_TRUE(run.flag == "-install" &&
                            (texts[i] == approvalText || texts[i].starts_with(replacingPrefix)))
                    << "unexpected line \"" << texts[i] << "\"";
                approval = approval || texts[i] == approvalText;
            }
            EXPECT_EQ(run.quit, approval && answer.starts_with(failurePrefix));
            EXPECT_TRUE(run.status->ok())
                << "code " << run.status->code << ", signal " << run.status->signal;
            EXPECT_TRUE(run.child->output().starts_with(supportedReleaseLine))
                << run.child->output();
        }

        // Nothing waits for approval once every request is answered, and the
        // file still reads back.
        sysextctl({"list"});
        const std::string state = readFile(scratch() / "state" / "veltrin-sysext" / "state");
        EXPECT_EQ(state.find("\npending "), state.npos) << state;
        EXPECT_TRUE(state.ends_with("end\n")) << state;
    }

    int requests_ = 0;
    int commands_ = 0;
};

TEST_F(LauncherLoad, LaunchersAndSysextctlShareOneState) {
    const auto started = Clock::now();
    // Not approved yet: installs wait, supersede and cancel each other until
    // the approval comes; the removal finds a version that only waits.
    wave("first", {"-install", "-install", "-uninstall", "-install"},
         "0.3 list; 0.6 busy * on; 1.0 list; 1.4 policy * allow; 1.6 list; 1.9 busy * off; "
         "2.2 list; 2.25 burst 1.0; 3.3 approve *; 3.5 list; 3.8 busy * on; 4.0 list; "
         "4.5 busy * off");
    // Approved, with replacement asked every time: replacements, removals
    // that wait for a restart, a policy that forbids for a moment, and a restart.
    sysextctl({"developer", "on"});
    wave("second", {"-install", "-uninstall", "-install", "-install"},
         "0.3 busy * on; 0.8 list; 1.22 policy * deny; 1.38 policy * allow; 1.6 list; "
         "2.2 busy * off; 2.5 list; 3.0 approve *; 3.5 reboot; 4.0 list");
    sysextctl({"developer", "off"});
    // Forgotten again, six at once: more installs racing for one approval.
    sysextctl({"reset"});
    wave("third", {"-install", "-uninstall", "-install", "-install", "-uninstall", "-install"},
         "0.5 list; 1.3 busy * on; 1.7 list; 1.75 burst 1.0; 2.8 approve *; 3.0 list; "
         "3.2 busy * off; 3.4 list");

    const double seconds = secondsBetween(started, Clock::now());
    std::cout << "launcher load: " << requests_ << " launcher processes (4, 4 and 6 at once), "
              << requests_ << " requests, " << commands_ << " sysextctl commands, " << seconds
              << " s = " << static_cast<double>(requests_) / seconds << " requests/s\n";
}

class ActivityLogLoad : public E2eTest {};

TEST_F(ActivityLogLoad, WritersAppendingAtOnceLoseNoLineAndKeepTheirOrder) {
    constexpr int writers = 4;
    constexpr int linesEach = 25000;
    createEmptyLog();
    std::vector<std::unique_ptr<Child>> children;
    const auto started = Clock::now();
    for (int i = 0; i < writers; ++i) {
        children.push_back(start({VELTRIN_LOAD_APPENDER, logPath().string(),
                                  "W" + std::to_string(i), std::to_string(linesEach)},
                                 environment(), "writer-" + std::to_string(i)));
        ASSERT_TRUE(children.back());
    }
    for (auto& child : children) {
        const ExitStatus status = child->finish(Seconds(120));
        ASSERT_TRUE(status.ok()) << "writer: code " << status.code << ", signal " << status.signal;
    }
    const double seconds = secondsBetween(started, Clock::now());

    // Every line: the appender's fixed stamp, its writer's tag, that writer's
    // next number and the padding, ended by CR LF.
    const std::string bytes = readLog();
    const std::string stamp = "05/12/2026 07:41:39:";
    const std::string padding(150, 'x');
    std::map<std::string, int> next;
    int broken = 0;
    std::istringstream lines(bytes);
    for (std::string line; std::getline(lines, line);) {
        const std::string tag = line.substr(std::min(stamp.size(), line.size()), 2);
        if (line != stamp + tag + ":" + std::to_string(next[tag]) + ":" + padding + "\r") {
            // Only the first few, so a broken file does not flood the output.
            if (++broken <= 5) {
                ADD_FAILURE() << "line out of place or damaged: \"" << line.substr(0, 60)
                              << "...\"";
            }
            continue;
        }
        ++next[tag];
    }
    int written = 0;
    for (int i = 0; i < writers; ++i) {
        EXPECT_EQ(next["W" + std::to_string(i)], linesEach) << "writer W" << i;
        written += next["W" + std::to_string(i)];
    }
    EXPECT_EQ(broken, 0);
    constexpr int expected = writers * linesEach;
    std::cout << "activity-log load: " << writers << " processes x " << linesEach
              << " lines; intact in order " << written << ", lost " << expected - written
              << ", damaged " << broken << "; " << bytes.size() << " bytes in " << seconds
              << " s = " << static_cast<long>(expected / seconds) << " lines/s\n";
    RecordProperty("lines_per_second", static_cast<int>(expected / seconds));
}

}  // namespace
}  // namespace e2e
