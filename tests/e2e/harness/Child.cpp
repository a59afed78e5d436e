#include "Child.hpp"

#include <fcntl.h>
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
    std::vector<std::string> envStrings;
    for (const auto& [name, value] : environment) {
        envStrings.push_back(name + "=" + value);
    }
    const auto pointers = [](const std::vector<std::string>& strings) {
        std::vector<char*> result;
        for (const std::string& text : strings) {
            result.push_back(const_cast<char*>(text.c_str()));
        }
        result.push_back(nullptr);
        return result;
    };
    const std::vector<char*> args = pointers(argv);
    const std::vector<char*> envp = pointers(envStrings);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Its own group, so that a kill also reaches anything it started; default
    // signal handling, whatever the test process inherited.
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
    const int rc = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), envp.data());
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
    reader_ = std::thread([this] {
        char buffer[4096];
        ssize_t count = 0;
        while ((count = read(stdoutFd_, buffer, sizeof buffer)) > 0 ||
               (count < 0 && errno == EINTR)) {
            const Clock::time_point now = Clock::now();
            std::lock_guard lock(mutex_);
            for (ssize_t i = 0; i < count; ++i) {
                if (bytes_.empty() || bytes_.back() == '\n') {
                    lines_.push_back({"", now});
                }
                bytes_.push_back(buffer[i]);
                lines_.back().text.push_back(buffer[i]);
            }
            changed_.notify_all();
        }
        std::lock_guard lock(mutex_);
        outputClosed_ = true;
        changed_.notify_all();
    });
    waiter_ = std::thread([this] {
        siginfo_t info{};
        // WNOWAIT: the pid stays ours until the destructor reaps it.
        while (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) != 0 &&
               errno == EINTR) {
        }
        ExitStatus status;
        status.at = Clock::now();
        status.exited = info.si_code == CLD_EXITED;
        (status.exited ? status.code : status.signal) = info.si_status;
        std::lock_guard lock(mutex_);
        exit_ = status;
        changed_.notify_all();
    });
}

Child::~Child() {
    // The group cannot belong to a stranger before the reaping below; killing it
    // also closes any pipe a grandchild still holds.
    kill(-pid_, SIGKILL);
    waiter_.join();
    waitpid(pid_, nullptr, 0);
    reader_.join();
    close(stdoutFd_);
}

std::optional<OutputLine> Child::waitForLine(std::string_view prefix, Seconds timeout) {
    std::unique_lock lock(mutex_);
    std::optional<OutputLine> found;
    changed_.wait_for(lock, timeout, [&] {
        for (const OutputLine& line : lines_) {
            if (line.text.back() == '\n' && line.text.starts_with(prefix)) {
                found = line;
                return true;
            }
        }
        return outputClosed_;
    });
    return found;
}

std::optional<ExitStatus> Child::waitForExit(Seconds timeout) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, timeout, [&] { return exit_.has_value(); })) {
        return std::nullopt;
    }
    // The rest of the output belongs to the run: let the reader drain it.
    changed_.wait_for(lock, std::chrono::seconds(3), [&] { return outputClosed_; });
    return exit_;
}

ExitStatus Child::finish(Seconds timeout) {
    if (auto status = waitForExit(timeout)) {
        return *status;
    }
    kill(-pid_, SIGKILL);
    return waitForExit(Seconds(10)).value_or(ExitStatus{false, -1, SIGKILL, Clock::now()});
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
