#include "Child.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace e2e {

std::unique_ptr<Child> Child::spawn(const std::vector<std::string>& argv,
                                    const Environment& environment, const std::string& stderrPath,
                                    std::string& error) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        error = std::string("pipe2: ") + std::strerror(errno);
        return nullptr;
    }

    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    std::vector<std::string> envStrings;
    for (const auto& [name, value] : environment) {
        envStrings.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (std::string& entry : envStrings) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Its own group, so that a kill on timeout also reaches anything it started;
    // default signal handling, whatever the test process inherited.
    sigset_t noSignals;
    sigemptyset(&noSignals);
    sigset_t allSignals;
    sigfillset(&allSignals);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setsigmask(&attributes, &noSignals);
    posix_spawnattr_setsigdefault(&attributes, &allSignals);
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    const Clock::time_point started = Clock::now();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, args[0], &actions, &attributes, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(pipeFds[1]);
    if (rc != 0) {
        close(pipeFds[0]);
        error = "cannot start " + argv[0] + ": " + std::strerror(rc);
        return nullptr;
    }
    return std::unique_ptr<Child>(new Child(pid, pipeFds[0], started));
}

Child::Child(pid_t pid, int stdoutFd, Clock::time_point started)
    : pid_(pid), stdoutFd_(stdoutFd), started_(started) {
    reader_ = std::thread([this] { readOutput(); });
    waiter_ = std::thread([this] { awaitExit(); });
}

Child::~Child() {
    {
        std::unique_lock lock(mutex_);
        if (!exit_) {
            lock.unlock();
            killGroup();
        }
    }
    waiter_.join();
    // Reaped only now: until then the pid and its group cannot be reused, so a
    // kill can never reach a stranger.
    waitpid(pid_, nullptr, 0);
    reader_.join();
    close(stdoutFd_);
}

void Child::readOutput() {
    std::string partial;
    Clock::time_point partialSince{};
    char buffer[4096];
    for (;;) {
        pollfd descriptor{stdoutFd_, POLLIN, 0};
        const int ready = poll(&descriptor, 1, 100);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready == 0) {
            // A grandchild may hold the pipe open after the child has gone.
            std::lock_guard lock(mutex_);
            if (exit_ && secondsBetween(exit_->at, Clock::now()) > 2.0) {
                break;
            }
            continue;
        }
        const ssize_t count = read(stdoutFd_, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        const Clock::time_point now = Clock::now();
        std::lock_guard lock(mutex_);
        bytes_.append(buffer, static_cast<std::size_t>(count));
        for (ssize_t i = 0; i < count; ++i) {
            if (partial.empty()) {
                partialSince = now;
            }
            partial.push_back(buffer[i]);
            if (buffer[i] == '\n') {
                lines_.push_back({std::move(partial), partialSince});
                partial.clear();
            }
        }
        changed_.notify_all();
    }
    std::lock_guard lock(mutex_);
    if (!partial.empty()) {
        lines_.push_back({std::move(partial), partialSince});
    }
    outputClosed_ = true;
    changed_.notify_all();
}

void Child::awaitExit() {
    siginfo_t info{};
    int rc = 0;
    do {
        rc = waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT);
    } while (rc != 0 && errno == EINTR);
    ExitStatus status;
    status.at = Clock::now();
    if (rc == 0) {
        status.exited = info.si_code == CLD_EXITED;
        if (status.exited) {
            status.code = info.si_status;
        } else {
            status.signal = info.si_status;
        }
    }
    std::lock_guard lock(mutex_);
    status.killedByHarness = killed_;
    exit_ = status;
    changed_.notify_all();
}

void Child::killGroup() {
    {
        std::lock_guard lock(mutex_);
        killed_ = true;
    }
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
}

std::optional<Clock::time_point> Child::waitForLine(std::string_view line, Seconds timeout) {
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(timeout);
    std::unique_lock lock(mutex_);
    std::optional<Clock::time_point> found;
    changed_.wait_until(lock, deadline, [&] {
        for (const OutputLine& candidate : lines_) {
            if (candidate.text == line) {
                found = candidate.arrived;
                return true;
            }
        }
        return outputClosed_;
    });
    return found;
}

std::optional<ExitStatus> Child::waitForExit(Seconds timeout) {
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(timeout);
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [&] { return exit_.has_value(); });
    if (!exit_) {
        return std::nullopt;
    }
    // The rest of the output belongs to the run: let the reader drain it.
    changed_.wait_until(lock, Clock::now() + std::chrono::seconds(3),
                        [&] { return outputClosed_; });
    return exit_;
}

ExitStatus Child::finish(Seconds timeout) {
    if (auto status = waitForExit(timeout)) {
        return *status;
    }
    killGroup();
    auto status = waitForExit(Seconds(10));
    return status.value_or(ExitStatus{false, -1, SIGKILL, true, Clock::now()});
}

void Child::sendSignal(int signal) {
    std::lock_guard lock(mutex_);
    if (!exit_) {
        kill(pid_, signal);
    }
}

std::string Child::output() const {
    std::lock_guard lock(mutex_);
    return bytes_;
}

std::vector<OutputLine> Child::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

}  // namespace e2e
