// The launcher binary on the offscreen platform it picks by itself: the
// command line reaches the report byte for byte, each line is readable while
// the launcher is still open, and SIGINT or SIGTERM end it like the Quit button.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using std::chrono::steady_clock;
constexpr auto patience = std::chrono::seconds(20);

// Spawned directly, not through QProcess, which would re-encode the arguments
// as UTF-8 text and could not pass a byte that is not.
class RunningLauncher {
  public:
    explicit RunningLauncher(const std::vector<std::string>& arguments) {
        std::vector<std::string> environment;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string variable = *entry;
            const std::string name = variable.substr(0, variable.find('='));
            if (name != "DISPLAY" && name != "WAYLAND_DISPLAY" && name != "QT_QPA_PLATFORM" &&
                name != "HOME" && name != "XDG_STATE_HOME" && name != "DBUS_SYSTEM_BUS_ADDRESS") {
                environment.push_back(variable);
            }
        }
        const std::string scratch = scratch_.path().toStdString();
        environment.push_back("HOME=" + scratch);
        environment.push_back("XDG_STATE_HOME=" + scratch + "/state");
        environment.push_back("DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent");

        std::vector<std::string> argv{VELTRIN_LAUNCHER_PATH};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        spawn(argv, environment);
    }
    RunningLauncher(const RunningLauncher&) = delete;
    RunningLauncher& operator=(const RunningLauncher&) = delete;
    ~RunningLauncher() {
        if (pid_ > 0 && !finished_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0) {
            ::close(output_);
        }
    }

    // Standard output up to and including its `count`th line, read while the
    // launcher keeps running; what came so far if the lines do not come.
    std::string firstLines(long count) {
        const auto deadline = steady_clock::now() + patience;
        std::string text;
        while (std::count(text.begin(), text.end(), '\n') < count &&
               steady_clock::now() < deadline) {
            pollfd readable{output_, POLLIN, 0};
            if (::poll(&readable, 1, 100) <= 0) {
                continue;
            }
            char chunk[4096];
            const ssize_t got = ::read(output_, chunk, sizeof chunk);
            if (got <= 0) {
                break;
            }
            text.append(chunk, static_cast<std::size_t>(got));
        }
        return text;
    }

    bool stillRunning() { return ::waitpid(pid_, &status_, WNOHANG) == 0; }
    void send(int signal) { ::kill(pid_, signal); }

    bool endsWithStatusZero() {
        const auto deadline = steady_clock::now() + patience;
        while (steady_clock::now() < deadline) {
            if (::waitpid(pid_, &status_, WNOHANG) == pid_) {
                finished_ = true;
                return WIFEXITED(status_) && WEXITSTATUS(status_) == 0;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

  private:
    void spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment) {
        std::vector<char*> args;
        for (const std::string& argument : argv) {
            args.push_back(const_cast<char*>(argument.c_str()));
        }
        args.push_back(nullptr);
        std::vector<char*> variables;
        for (const std::string& variable : environment) {
            variables.push_back(const_cast<char*>(variable.c_str()));
        }
        variables.push_back(nullptr);

        int ends[2];
        ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        const int error =
            ::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), variables.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(ends[1]);
        output_ = ends[0];
        ASSERT_EQ(error, 0) << std::strerror(error);
    }

    QTemporaryDir scratch_;
    pid_t pid_ = -1;
    int output_ = -1;
    int status_ = 0;
    bool finished_ = false;
};

const std::string launcher = VELTRIN_LAUNCHER_PATH;

class QuitSignal : public ::testing::TestWithParam<int> {};

TEST_P(QuitSignal, EndsTheOpenLauncherWithStatusZero) {
    RunningLauncher running({});
    ASSERT_EQ(running.firstLines(2), "Running on Ventura or greater\n[\"" + launcher + "\"]\n");
    ASSERT_TRUE(running.stillRunning());
    running.send(GetParam());
    EXPECT_TRUE(running.endsWithStatusZero());
}

INSTANTIATE_TEST_SUITE_P(SigintAndSigterm, QuitSignal, ::testing::Values(SIGINT, SIGTERM));

// Qt takes the options it knows (-reverse) out of argv; the report shows the
// command line as it was given, including bytes that are not UTF-8.
TEST(LauncherCommandLine, IsReportedAsGivenBeforeQtSeesIt) {
    RunningLauncher running({"\xff", "-reverse", "%s%n", ""});
    EXPECT_EQ(running.firstLines(2), "Running on Ventura or greater\n[\"" + launcher +
                                         "\", \"\\x{FF}\", \"-reverse\", \"%s%n\", \"\"]\n");
    running.send(SIGTERM);
    EXPECT_TRUE(running.endsWithStatusZero());
}

}  // namespace
