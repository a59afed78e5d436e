// A child process seen from outside: its standard output line by line with the
// moment each line arrived, its exit status with the moment it ended, and a hard
// limit on every wait so that nothing can hang the suite.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace e2e {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

inline double secondsBetween(Clock::time_point from, Clock::time_point to) {
    return Seconds(to - from).count();
}

// The complete environment of a child, built explicitly.
using Environment = std::map<std::string, std::string>;

struct OutputLine {
    std::string text;  // with its line feed, when it had one
    Clock::time_point arrived;
};

struct ExitStatus {
    bool exited = false;  // false: ended by a signal
    int code = -1;
    int signal = 0;
    bool killedByHarness = false;
    Clock::time_point at{};
};

class Child {
  public:
    // Runs argv[0] (an absolute path) with exactly `environment`; standard input
    // is /dev/null, standard error goes to `stderrPath`. The child leads its own
    // process group. Returns nullptr and sets `error` when it cannot start.
    static std::unique_ptr<Child> spawn(const std::vector<std::string>& argv,
                                        const Environment& environment,
                                        const std::string& stderrPath, std::string& error);

    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    // A child still running is killed (the whole group) and reaped.
    ~Child();

    pid_t pid() const { return pid_; }
    Clock::time_point started() const { return started_; }

    // Arrival time of the first complete line equal to `line` (its line feed
    // included), waiting at most `timeout` for it.
    std::optional<Clock::time_point> waitForLine(std::string_view line, Seconds timeout);

    // The exit status if the child ends within `timeout`, else nothing (it keeps
    // running).
    std::optional<ExitStatus> waitForExit(Seconds timeout);

    // Waits for the end; past `timeout` the whole group is killed with SIGKILL
    // and the status says so.
    ExitStatus finish(Seconds timeout);

    void sendSignal(int signal);

    // Everything read from standard output so far; after an exit, all of it.
    std::string output() const;
    std::vector<OutputLine> lines() const;

  private:
    Child(pid_t pid, int stdoutFd, Clock::time_point started);
    void readOutput();
    void awaitExit();
    void killGroup();

    pid_t pid_;
    int stdoutFd_;
    Clock::time_point started_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string bytes_;
    std::vector<OutputLine> lines_;
    bool outputClosed_ = false;
    std::optional<ExitStatus> exit_;
    bool killed_ = false;

    std::thread reader_;
    std::thread waiter_;
};

}  // namespace e2e
