// The launcher in the hands of a careless caller: output nobody reads, standard
// descriptors left closed, no runtime directory. It still quits on request and
// keeps its output where it belongs.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <thread>

#include "E2eTest.hpp"

namespace e2e {
namespace {

using namespace std::chrono_literals;

class Robustness : public E2eTest {
  public:
    // Starts the launcher with standard output on `out` (-1: closed) and
    // standard input and error closed when `closeOthers`.
    pid_t spawnRaw(const std::vector<std::string>& arguments, int out, bool closeOthers) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (out >= 0) {
            posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
        } else {
            posix_spawn_file_actions_addclose(&actions, STDOUT_FILENO);
        }
        if (closeOthers) {
            posix_spawn_file_actions_addclose(&actions, STDIN_FILENO);
            posix_spawn_file_actions_addclose(&actions, STDERR_FILENO);
        }
        std::vector<std::string> texts{launcherPath};
        texts.insert(texts.end(), arguments.begin(), arguments.end());
        std::vector<std::string> variables;
        for (const auto& [name, value] : environment()) {
            variables.push_back(name + "=" + value);
        }
        std::vector<char*> argv, envp;
        for (auto& text : texts)
            argv.push_back(text.data());
        for (auto& text : variables)
            envp.push_back(text.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        pid_t pid = -1;
        EXPECT_EQ(
            posix_spawn(&pid, launcherPath.c_str(), &actions, nullptr, argv.data(), envp.data()),
            0);
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }

    // The wait status within `timeout`, or -1 after killing it.
    static int reap(pid_t pid, Seconds timeout) {
        int status = 0;
        for (const auto until = Clock::now() + timeout; Clock::now() < until;) {
            if (::waitpid(pid, &status, WNOHANG) == pid)
                return status;
            std::this_thread::sleep_for(10ms);
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return -1;
    }
};

TEST_F(Robustness, AQuitSignalEndsALauncherBlockedOnAPipeNobodyReads) {
    const std::vector<std::string> many(20000, "argument");
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        int ends[2];
        ASSERT_EQ(::pipe(ends), 0);
        const pid_t pid = spawnRaw(many, ends[1], false);
        std::this_thread::sleep_for(2s);  // long enough to fill the pipe and block
        ::kill(pid, signal);
        EXPECT_EQ(reap(pid, 5s), 0) << strsignal(signal);
        ::close(ends[0]);
        ::close(ends[1]);
    }
}

TEST_F(Robustness, ClosedStandardDescriptorsAreNullNotTheToolkitsFiles) {
    const pid_t pid = spawnRaw({}, -1, true);
    std::this_thread::sleep_for(2s);
    for (const char* fd : {"0", "1", "2"}) {
        std::error_code error;
        EXPECT_EQ(
            std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/fd/" + fd, error),
            "/dev/null")
            << fd;
    }
    ::kill(pid, SIGTERM);
    EXPECT_EQ(reap(pid, 10s), 0);
}

TEST_F(Robustness, APlainRunWithoutARuntimeDirectoryIsQuietOnStandardError) {
    auto env = environment();
    env.erase("XDG_RUNTIME_DIR");
    auto child = start({launcherPath}, env, "plain");
    ASSERT_TRUE(child && child->waitForLine("Running", 10s));
    child->sendSignal(SIGTERM);
    EXPECT_TRUE(child->finish(10s).ok());
    EXPECT_EQ(readFile(scratch() / "plain.stderr"), "");
}

}  // namespace
}  // namespace e2e
