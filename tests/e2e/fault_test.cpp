// A run in a hostile environment still ends the way a script expects: the whole
// report on standard output, exit status 0, about 6 s after the start; and the
// launcher creates nothing it was not asked to.
#include <pwd.h>
#include <unistd.h>

#include <filesystem>

#include "E2eTest.hpp"

namespace e2e {
namespace {

using namespace std::chrono_literals;

class Fault : public E2eTest {
  protected:
    // -uninstall of nothing: a failure answer, so writes to the activity log
    // happen before and after the request, and the run still ends by itself.
    void expectNormalUninstallRun(const Environment& env) {
        auto child = launch({"-uninstall"}, env);
        ASSERT_TRUE(child);
        const ExitStatus status = child->finish(15s);
        expectEndsAbout6sAfter(status, child->started(), "the start");
        EXPECT_EQ(child->output(), supportedReleaseLine + argumentReport({"-uninstall"}));
        if (HasFailure()) {
            showStderr("launcher");
        }
    }
};

TEST_F(Fault, HomeThatDoesNotExistIsLeftAlone) {
    auto env = environment();
    const auto nowhere = scratch() / "no-such-home";
    env["HOME"] = nowhere.string();
    expectNormalUninstallRun(env);
    EXPECT_FALSE(std::filesystem::exists(nowhere));
}

TEST_F(Fault, HomeUnsetFallsBackWithoutCreatingTheLog) {
    const passwd* user = getpwuid(getuid());
    ASSERT_NE(user, nullptr);
    const std::filesystem::path fallbackLog =
        std::filesystem::path(user->pw_dir) / "veltrinLogFile.txt";
    if (std::filesystem::exists(fallbackLog)) {
        GTEST_SKIP() << "the run would append to the real activity log " << fallbackLog;
    }
    auto env = environment();
    env.erase("HOME");
    expectNormalUninstallRun(env);
    EXPECT_FALSE(std::filesystem::exists(fallbackLog));
}

TEST_F(Fault, LogFileThatIsADirectoryIsSkipped) {
    std::filesystem::create_directory(logPath());
    expectNormalUninstallRun(environment());
    EXPECT_TRUE(std::filesystem::is_directory(logPath()));
    EXPECT_TRUE(std::filesystem::is_empty(logPath()));
}

TEST_F(Fault, LogFileOnAFullDiskIsSkipped) {
    if (!std::filesystem::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full on this machine";
    }
    std::filesystem::create_symlink("/dev/full", logPath());
    expectNormalUninstallRun(environment());
    EXPECT_EQ(std::filesystem::read_symlink(logPath()), "/dev/full");
}

TEST_F(Fault, NoDisplayAndNoSystemBus) {
    auto env = environment();
    // The backend must choose offscreen by itself, and must not need the bus
    // unless it asks for a restart.
    env.erase("QT_QPA_PLATFORM");
    env["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=" + (scratch() / "no-bus-here").string();
    createEmptyLog();
    const std::time_t from = std::time(nullptr);
    expectNormalUninstallRun(env);
    expectLog({"Start:uninstalling driver\n",
               "Info:Command arguments=", failurePrefix + notInstalledDescription},
              from, std::time(nullptr));
}

}  // namespace
}  // namespace e2e
