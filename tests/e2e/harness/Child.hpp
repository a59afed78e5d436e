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
    bool exited = false;  // false: ended by a signal, also the harness's SIGKILL
    int code = -1;
    int signal = 0;
    Clock::time_point at{};
    bool ok() const { return exited && code == 0; }
};

class Child {
  public:
    // Runs argv[0] (a path, or a name looked up on the harness's PATH) with
    // exactly `environment`; standard input is /dev/null, standard error goes to
    // `stderrPath`. The child leads its own process group. Returns nullptr and
    // sets `error` when it cannot start.
    static std::unique_ptr<Child> spawn(const std::vector<std::string>& argv,
                                        const Environment& environment,
                                        const std::string& stderrPath, std::string& error);

    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    // Kills whatever is left of the group, then reaps the child.
    ~Child();

    pid_t pid() const { return pid_; }
    Clock::time_point started() const { return started_; }

    // The first complete line (line feed included) that starts with `prefix`,
    // waiting at most `timeout` for it.
    std::optional<OutputLine> waitForLine(std::string_view prefix, Seconds timeout);

    // The exit status if the child ends within `timeout`, else nothing (it keeps
    // running).
    std::optional<ExitStatus> waitForExit(Seconds timeout);

    // Waits for the end; past `timeout` the whole group is killed with SIGKILL.
    ExitStatus finish(Seconds timeout);

    void sendSignal(int signal);

    // Everything read from standard output so far; after an exit, all of it.
    std::string output() const;
    std::vector<OutputLine> lines() const;

  private:
    Child(pid_t pid, int stdoutFd, Clock::time_point started);

    pid_t pid_;
    int stdoutFd_;
    Clock::time_point started_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string bytes_;
    std::vector<OutputLine> lines_;
    bool outputClosed_ = false;
    std::optional<ExitStatus> exit_;

    std::thread reader_;
    std::thread waiter_;
};

}  // namespace e2e
