// The launcher's command-line modes, run for real against the stand-in service:
// what a script sees on standard output (and when), what the activity log holds,
// and when and how the process ends.
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include "E2eTest.hpp"

namespace e2e {
namespace {

using namespace std::chrono_literals;

class CommandLine : public E2eTest {
  protected:
    // Lets one launcher run install the extension and get it approved, as a user
    // would, then quits it: the state that later runs find.
    void installActive(const std::filesystem::path& launcher = launcherPath) {
        auto env = environment();
        // The setup run keeps its own log out of the measured run's log.
        env["HOME"] = (scratch() / "setup-home").string();
        std::filesystem::create_directories(scratch() / "setup-home");
        const auto setupLog = scratch() / "setup-home" / "veltrinLogFile.txt";
        std::ofstream(setupLog, std::ios::binary);
        std::vector<std::string> argv{launcher.string(), "-install"};
        std::string spawnError;
        auto child = Child::spawn(argv, env, (scratch() / "setup.stderr").string(), spawnError);
        ASSERT_TRUE(child) << spawnError;
        const auto deadline = Clock::now() + 15s;
        bool approved = false;
        for (;;) {
            std::ifstream in(setupLog, std::ios::binary);
            const std::string bytes{std::istreambuf_iterator<char>(in), {}};
            if (bytes.find(":" + successText + "\r\n") != std::string::npos) {
                break;
            }
            if (!approved && bytes.find(":" + approvalText + "\r\n") != std::string::npos) {
                control({"approve", dextIdentifier});
                approved = true;
            }
            ASSERT_LT(Clock::now(), deadline) << "setup install did not complete:\n" << bytes;
            std::this_thread::sleep_for(20ms);
        }
        child->sendSignal(SIGTERM);
        const ExitStatus status = child->finish(10s);
        ASSERT_TRUE(status.exited && status.code == 0);
    }

    // A copy of the launcher with its own bundle beside it, as an older release
    // of the application would bring.
    std::filesystem::path launcherWithBundle(const std::string& shortVersion,
                                             const std::string& build) {
        const auto directory = scratch() / ("release-" + shortVersion + "-" + build);
        std::filesystem::create_directories(directory / (dextIdentifier + ".dext"));
        const auto copy = directory / std::filesystem::path(launcherPath).filename();
        std::filesystem::copy_file(launcherPath, copy);
        std::ofstream(directory / (dextIdentifier + ".dext") / "Info", std::ios::binary)
            << "veltrin-dext-bundle 1\nidentifier " << dextIdentifier << "\nshort-version "
            << shortVersion << "\nbuild " << build << "\n";
        return copy;
    }

    // Standard output of a supported run, line by line as it happened: the
    // release line at once, the argument report after the 1 s pause, both
    // while the launcher still runs.
    void expectSupportedOutput(const Child& child, const std::vector<std::string>& flags,
                               const ExitStatus& status) {
        EXPECT_EQ(child.output(), supportedReleaseLine + argumentReport(flags));
        const auto lines = child.lines();
        ASSERT_EQ(lines.size(), 2u);
        const double release = secondsBetween(child.started(), lines[0].arrived);
        const double report = secondsBetween(child.started(), lines[1].arrived);
        EXPECT_LT(release, 1.5);
        EXPECT_GE(report - release, 0.9) << "the pause comes between the two lines";
        EXPECT_LT(report, 3.5);
        EXPECT_LT(lines[1].arrived, status.at - 2s) << "the report came only at the exit";
    }

    std::string list() { return control({"list"}); }

    void expectReplaces(const std::string& shortVersion, const std::string& build) {
        ASSERT_NO_FATAL_FAILURE(installActive(launcherWithBundle(shortVersion, build)));
        ASSERT_NE(list().find(dextIdentifier + " " + shortVersion), std::string::npos) << list();
        createEmptyLog();
        const std::time_t from = std::time(nullptr);
        auto child = launch({"-install"});
        ASSERT_TRUE(child);
        const ExitStatus status = child->finish(15s);

        expectEndsAbout6sAfter(status, child->started(), "the start");
        expectSupportedOutput(*child, {"-install"}, status);
        expectLog({"Start:installing driver\n", "Info:Command arguments=",
                   "Info:Replacing extension " + dextIdentifier + " version " + shortVersion +
                       " with version " + dextVersion,
                   successText},
                  from, std::time(nullptr));
        const std::string listed = list();
        EXPECT_NE(listed.find(dextIdentifier + " " + dextVersion), std::string::npos) << listed;
    }
};

TEST_F(CommandLine, InstallWaitsForApprovalAndEndsAbout6sAfterCompletion) {
    createEmptyLog();
    const std::time_t from = std::time(nullptr);
    auto child = launch({"-install"});
    ASSERT_TRUE(child);
    const auto asked = waitForLogText(approvalText, 10s);
    ASSERT_TRUE(asked) << readLog();
    // The user takes a while; the launch timer must not end the run meanwhile.
    std::this_thread::sleep_for(1500ms);
    control({"approve", dextIdentifier});
    const auto completed = waitForLogText(successText, 10s);
    ASSERT_TRUE(completed) << readLog();
    const ExitStatus status = child->finish(15s);

    expectEndsAbout6sAfter(status, *completed, "the completion");
    EXPECT_GT(secondsBetween(child->started(), status.at), 7.5) << "launch timer not canceled";
    expectSupportedOutput(*child, {"-install"}, status);
    expectLog({"Start:installing driver\n", "Info:Command arguments=", approvalText, successText},
              from, std::time(nullptr));
    EXPECT_NE(list().find(dextIdentifier), std::string::npos);
}

TEST_F(CommandLine, InstallOfTheActiveVersionCompletesAtOnce) {
    ASSERT_NO_FATAL_FAILURE(installActive());
    createEmptyLog();
    const std::time_t from = std::time(nullptr);
    auto child = launch({"-install"});
    ASSERT_TRUE(child);
    const ExitStatus status = child->finish(15s);

    expectEndsAbout6sAfter(status, child->started(), "the start");
    expectSupportedOutput(*child, {"-install"}, status);
    expectLog({"Start:installing driver\n", "Info:Command arguments=", successText}, from,
              std::time(nullptr));
}

// An older release of the application installed its own version; this build's
// launcher replaces it, whatever the order of the two versions.
TEST_F(CommandLine, InstallReplacesAnOlderVersion) {
    expectReplaces("0.9.1", "7");
}

TEST_F(CommandLine, InstallReplacesTheSameVersionOfAnotherBuild) {
    expectReplaces(dextVersion, "9999");
}

TEST_F(CommandLine, UninstallWhileBusyCompletesAfterReboot) {
    ASSERT_NO_FATAL_FAILURE(installActive());
    control({"busy", dextIdentifier, "on"});
    createEmptyLog();
    const std::time_t from = std::time(nullptr);
    auto child = launch({"-uninstall"});
    ASSERT_TRUE(child);
    const ExitStatus status = child->finish(15s);

    expectEndsAbout6sAfter(status, child->started(), "the start");
    expectSupportedOutput(*child, {"-uninstall"}, status);
    expectLog({"Start:uninstalling driver\n", "Info:Command arguments=", afterRebootText}, from,
              std::time(nullptr));
    EXPECT_NE(list().find("terminated waiting to uninstall on reboot"), std::string::npos);
    control({"reboot"});
    const std::string listed = list();
    EXPECT_EQ(listed.find(dextIdentifier), std::string::npos) << listed;
}

TEST_F(CommandLine, UninstallOfNothingFailsAndEnds) {
    createEmptyLog();
    const std::time_t from = std::time(nullptr);
    auto child = launch({"-uninstall"});
    ASSERT_TRUE(child);
    const ExitStatus status = child->finish(15s);

    expectEndsAbout6sAfter(status, child->started(), "the start");
    expectSupportedOutput(*child, {"-uninstall"}, status);
    expectLog({"Start:uninstalling driver\n",
               "Info:Command arguments=", failurePrefix + notInstalledDescription},
              from, std::time(nullptr));
}

TEST_F(CommandLine, InteractiveInstallDeniedStaysOpenAfterAskingForRestart) {
    control({"policy", dextIdentifier, "deny"});
    createEmptyLog();
    const std::time_t from = std::time(nullptr);
    auto child = launch({"-installInteractive"});
    ASSERT_TRUE(child);
    ASSERT_TRUE(waitForLogText(failurePrefix + deniedDescription, 10s)) << readLog();
    // Past both exit timers (launch at ~6 s, failure at ~7 s).
    ASSERT_TRUE(stillRunningAfter(*child, 8.5s));
    child->sendSignal(SIGTERM);
    const auto quitAt = Clock::now();
    const ExitStatus status = child->finish(10s);

    EXPECT_TRUE(status.exited && status.code == 0) << status.signal;
    EXPECT_LT(secondsBetween(quitAt, status.at), 2.0);
    EXPECT_EQ(child->output(), supportedReleaseLine + argumentReport({"-installInteractive"}));
    expectLog({"Start:installing driver interactive\n",
               "Info:Command arguments=", failurePrefix + deniedDescription},
              from, std::time(nullptr));
    EXPECT_EQ(bus()->recordedCalls(),
              std::vector<std::string>{"Reboot interactive=true authorization=allowed"});
}

TEST_F(CommandLine, UnsupportedReleaseSaysSoAndStaysOpenWithoutLogging) {
    control({"release", "12.7.6"});
    createEmptyLog();
    auto child = launch({"-install"});
    ASSERT_TRUE(child);
    const auto exiting =
        child->waitForLine("This driver was not built for macOS Monterey. Exiting\n", 5s);
    ASSERT_TRUE(exiting) << child->output();
    // No exit timer may exist: it would have ended the run at about 6 s.
    ASSERT_TRUE(stillRunningAfter(*child, 7s));
    EXPECT_EQ(child->output(),
              "Running on Monterey\nThis driver was not built for macOS Monterey. Exiting\n");
    EXPECT_EQ(readLog(), "");
    child->sendSignal(SIGTERM);
    const ExitStatus status = child->finish(10s);
    EXPECT_TRUE(status.exited && status.code == 0) << status.signal;
    EXPECT_EQ(list().find(dextIdentifier), std::string::npos) << "nothing may be requested";
}

}  // namespace
}  // namespace e2e
