// The real launcher against the stand-in service. Its command-line modes, also
// in a hostile environment: what a script sees on standard output (and when),
// what the activity log holds, and when and how the process ends. Its window
// under a private X server, driven by real key presses through XTEST
// (xdotool): what a user at the keyboard gets. Keys rather than mouse
// positions, so that a change of the layout's sizes does not break the case;
// the focus order Load, Disable, Quit is the layout's.
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include "E2eTest.hpp"

namespace e2e {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class CommandLine : public E2eTest {
  public:
    // Lets one launcher run install the extension and get it approved, as a user
    // would, then quits it: the state that later runs find. Its activity log
    // stays out of the measured run's.
    void installActive(const fs::path& launcher = launcherPath) {
        auto env = environment();
        env["HOME"] = (scratch() / "setup-home").string();
        fs::create_directories(scratch() / "setup-home");
        const auto setupLog = scratch() / "setup-home" / "veltrinLogFile.txt";
        std::ofstream(setupLog, std::ios::binary);
        auto child = start({launcher.string(), "-install"}, env, "setup");
        ASSERT_TRUE(child);
        ASSERT_TRUE(waitForLogText(approvalText, 15s, setupLog)) << readFile(setupLog);
        control({"approve", dextIdentifier});
        ASSERT_TRUE(waitForLogText(successText, 15s, setupLog)) << readFile(setupLog);
        child->sendSignal(SIGTERM);
        ASSERT_TRUE(child->finish(10s).ok());
    }

    // A copy of the launcher with its own bundle beside it, as an older release
    // of the application would bring.
    fs::path launcherWithBundle(const std::string& shortVersion, const std::string& build) {
        const auto directory = scratch() / ("release-" + shortVersion + "-" + build);
        fs::create_directories(directory / (dextIdentifier + ".dext"));
        const auto copy = directory / fs::path(launcherPath).filename();
        fs::copy_file(launcherPath, copy);
        if (const auto layout = fs::path(launcherPath).parent_path() / "Resources";
            fs::exists(layout)) {
            fs::copy(layout, directory / "Resources", fs::copy_options::recursive);
        }
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

    // Runs the launcher with `flag`: it must end by itself about 6 s after its
    // start, or after the moment `during` returns, with the activity log holding
    // its start, its arguments and `log` (empty: it has no log to write).
    void expectEndsByItself(const std::string& flag, std::vector<std::string> log,
                            std::optional<Environment> env = {},
                            const std::function<std::optional<Clock::time_point>()>& during = {}) {
        if (!log.empty()) {
            createEmptyLog();
            log.insert(log.begin(), {flag == "-install" ? "Start:installing driver\n"
                                                        : "Start:uninstalling driver\n",
                                     "Info:Command arguments="});
        }
        const std::time_t from = std::time(nullptr);
        auto child = launch({flag}, env);
        ASSERT_TRUE(child);
        const auto counted = during ? during() : std::nullopt;
        const ExitStatus status = child->finish(15s);
        expectEndsAbout6sAfter(status, counted.value_or(child->started()),
                               counted ? "the completion" : "the start");
        expectSupportedOutput(*child, {flag}, status);
        if (!log.empty()) {
            expectLog(log, from);
        }
    }

    // An older release of the application installed its own version; this
    // build's launcher replaces it, whatever the order of the two versions.
    void expectReplaces(const std::string& shortVersion, const std::string& build) {
        const std::string installed = dextIdentifier + " " + shortVersion + " (" + build + ")";
        ASSERT_NO_FATAL_FAILURE(installActive(launcherWithBundle(shortVersion, build)));
        ASSERT_TRUE(listed(installed));
        expectEndsByItself(
            "-install",
            {replacingPrefix + shortVersion + " with version " + dextVersion, successText});
        EXPECT_FALSE(listed(installed));
        EXPECT_TRUE(listed(dextIdentifier + " " + dextVersion));
    }

    // `child` still runs `sinceStart` after its start, and quits on SIGTERM.
    static void expectStaysOpenThenQuitsOnSigterm(Child& child, Seconds sinceStart) {
        const Seconds left = sinceStart - (Clock::now() - child.started());
        ASSERT_FALSE(child.waitForExit(std::max(left, Seconds(0)))) << "ended by itself";
        child.sendSignal(SIGTERM);
        const auto quitAt = Clock::now();
        const ExitStatus status = child.finish(10s);
        EXPECT_TRUE(status.ok()) << status.signal;
        EXPECT_LT(secondsBetween(quitAt, status.at), 2.0);
    }

    bool listed(const std::string& text) {
        return control({"list"}).find(text) != std::string::npos;
    }
};

TEST_F(CommandLine, InstallWaitsForApprovalAndEndsAbout6sAfterCompletion) {
    expectEndsByItself("-install", {approvalText, successText}, {}, [&] {
        EXPECT_TRUE(waitForLogText(approvalText, 10s)) << readLog();
        // The user takes a while; the launch timer must not end the run meanwhile.
        std::this_thread::sleep_for(1500ms);
        control({"approve", dextIdentifier});
        const auto completed = waitForLogText(successText, 10s);
        EXPECT_TRUE(completed) << readLog();
        return completed;
    });
    EXPECT_TRUE(listed(dextIdentifier));
}

TEST_F(CommandLine, InstallOfTheActiveVersionCompletesAtOnce) {
    ASSERT_NO_FATAL_FAILURE(installActive());
    expectEndsByItself("-install", {successText});
}

TEST_F(CommandLine, InstallReplacesAnOlderVersion) {
    expectReplaces("0.9.1", "7");
}

TEST_F(CommandLine, InstallReplacesTheSameVersionOfAnotherBuild) {
    expectReplaces(dextVersion, "9999");
}

TEST_F(CommandLine, UninstallWhileBusyCompletesAfterReboot) {
    ASSERT_NO_FATAL_FAILURE(installActive());
    control({"busy", dextIdentifier, "on"});
    expectEndsByItself("-uninstall", {afterRebootText});
    EXPECT_TRUE(listed("terminated waiting to uninstall on reboot"));
    control({"reboot"});
    EXPECT_FALSE(listed(dextIdentifier));
}

// The backend chooses offscreen by itself, and needs no bus unless it asks for
// a restart.
TEST_F(CommandLine, UninstallOfNothingFailsWithoutDisplayOrSystemBus) {
    auto env = environment();
    env.erase("QT_QPA_PLATFORM");
    env["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=" + (scratch() / "no-bus").string();
    expectEndsByItself("-uninstall", {failurePrefix + notInstalledDescription}, env);
}

// Faults of the activity log: the run still ends as a script expects, and the
// launcher creates nothing it was not asked to.
TEST_F(CommandLine, HomeThatDoesNotExistIsLeftAlone) {
    auto env = environment();
    env["HOME"] = (scratch() / "no-such-home").string();
    expectEndsByItself("-uninstall", {}, env);
    EXPECT_FALSE(fs::exists(scratch() / "no-such-home"));
}

TEST_F(CommandLine, HomeUnsetFallsBackWithoutCreatingTheLog) {
    const fs::path fallbackLog = fs::path(getpwuid(getuid())->pw_dir) / "veltrinLogFile.txt";
    if (fs::exists(fallbackLog)) {
        GTEST_SKIP() << "the run would append to the real activity log " << fallbackLog;
    }
    auto env = environment();
    env.erase("HOME");
    expectEndsByItself("-uninstall", {}, env);
    EXPECT_FALSE(fs::exists(fallbackLog));
}

TEST_F(CommandLine, LogFileThatIsADirectoryIsSkipped) {
    fs::create_directory(logPath());
    expectEndsByItself("-uninstall", {});
    EXPECT_TRUE(fs::is_directory(logPath()));
    EXPECT_TRUE(fs::is_empty(logPath()));
}

TEST_F(CommandLine, LogFileOnAFullDiskIsSkipped) {
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full on this machine";
    }
    fs::create_symlink("/dev/full", logPath());
    expectEndsByItself("-uninstall", {});
    EXPECT_EQ(fs::read_symlink(logPath()), "/dev/full");
}

TEST_F(CommandLine, InteractiveInstallDeniedStaysOpenAfterAskingForRestart) {
    control({"policy", dextIdentifier, "deny"});
    createEmptyLog();
    const std::time_t from = std::time(nullptr);
    bus()->takeRecordedCalls();
    auto child = launch({"-installInteractive"});
    ASSERT_TRUE(child);
    ASSERT_TRUE(waitForLogText(failurePrefix + deniedDescription, 10s)) << readLog();
    // Past both exit timers (launch at ~6 s, failure at ~7 s).
    expectStaysOpenThenQuitsOnSigterm(*child, 8.5s);
    EXPECT_EQ(child->output(), supportedReleaseLine + argumentReport({"-installInteractive"}));
    expectLog({"Start:installing driver interactive\n",
               "Info:Command arguments=", failurePrefix + deniedDescription},
              from);
    EXPECT_EQ(bus()->takeRecordedCalls(),
              std::vector<std::string>{"Reboot interactive=true authorization=allowed"});
}

TEST_F(CommandLine, UnsupportedReleaseSaysSoAndStaysOpenWithoutLogging) {
    control({"release", "12.7.6"});
    createEmptyLog();
    auto child = launch({"-install"});
    ASSERT_TRUE(child);
    ASSERT_TRUE(child->waitForLine("This driver was not built for macOS Monterey. Exiting\n", 5s))
        << child->output();
    // No exit timer may exist: it would have ended the run at about 6 s.
    expectStaysOpenThenQuitsOnSigterm(*child, 7s);
    EXPECT_EQ(child->output(),
              "Running on Monterey\nThis driver was not built for macOS Monterey. Exiting\n");
    EXPECT_EQ(readLog(), "");
    EXPECT_FALSE(listed(dextIdentifier)) << "nothing may be requested";
}

// The harness's promise that a case which may ask for a restart reaches only the
// recorder: if this guard lets a wrong bus through, a test could restart the
// machine it runs on.
TEST_F(CommandLine, RestartGuardAdmitsOnlyThePrivateBusWithTheRecorder) {
    const std::vector<std::string> argv{launcherPath, "-installInteractive"};
    const auto at = [](const std::string& address) {
        return Environment{{"DBUS_SYSTEM_BUS_ADDRESS", address}};
    };
    EXPECT_NE(restartGuardViolation(argv, {}, bus()), "");
    EXPECT_NE(restartGuardViolation(argv, at("unix:path=/run/dbus/system_bus_socket"), bus()), "");
    EXPECT_NE(restartGuardViolation(argv, at(bus()->address()), nullptr), "");
    // A flag that loses to -install still counts: the guard does not second-guess
    // the launcher's own choice of mode.
    EXPECT_NE(restartGuardViolation({launcherPath, "-install", "-installInteractive"},
                                    at("unix:path=/nowhere"), bus()),
              "");
    EXPECT_EQ(restartGuardViolation(argv, at(bus()->address()), bus()), "");
    EXPECT_EQ(restartGuardViolation({launcherPath, "-install"}, {}, nullptr), "");

    // The recorder writes down what it was asked, not a constant line.
    bus()->takeRecordedCalls();
    auto call = start(
        {"dbus-send", "--bus=" + bus()->address(), "--print-reply", "--dest=org.freedesktop.login1",
         "/org/freedesktop/login1", "org.freedesktop.login1.Manager.Reboot", "boolean:false"},
        environment(), "dbus-send");
    ASSERT_TRUE(call);
    ASSERT_TRUE(call->finish(10s).ok());
    EXPECT_EQ(bus()->takeRecordedCalls(),
              std::vector<std::string>{"Reboot interactive=false authorization=not-allowed"});
}

class Window : public E2eTest {
  protected:
    static void SetUpTestSuite() {
        E2eTest::SetUpTestSuite();
        xDirectory_ = makeScratchDirectory("veltrin-e2e-x");
        std::string error;
        // Debian package xvfb. -displayfd: the server picks a free display and
        // names it on standard output.
        server_ = Child::spawn({"Xvfb", "-displayfd", "1", "-screen", "0", "800x600x24",
                                "-nolisten", "tcp", "-noreset"},
                               {{"PATH", "/usr/bin:/bin"}}, (xDirectory_ / "xvfb.stderr").string(),
                               error);
        ASSERT_TRUE(server_) << error;
        const auto line = server_->waitForLine("", 10s);
        ASSERT_TRUE(line) << "Xvfb named no display";
        display_ = ":" + line->text.substr(0, line->text.size() - 1);
    }

    static void TearDownTestSuite() {
        server_.reset();
        std::filesystem::remove_all(xDirectory_);
        E2eTest::TearDownTestSuite();
    }

    // Debian package xdotool.
    std::string xdotool(const std::vector<std::string>& args) {
        std::vector<std::string> argv{"xdotool"};
        argv.insert(argv.end(), args.begin(), args.end());
        auto child = start(argv, {{"PATH", "/usr/bin:/bin"}, {"DISPLAY", display_}}, "xdotool");
        EXPECT_TRUE(child && child->finish(15s).ok()) << "xdotool failed";
        return child ? child->output() : "";
    }

    static inline std::filesystem::path xDirectory_;
    static inline std::unique_ptr<Child> server_;
    static inline std::string display_;
};

TEST_F(Window, LoadAndDisableSubmitAndReturnQuitsWhileAnotherButtonHasTheFocus) {
    createEmptyLog();
    const std::time_t from = std::time(nullptr);
    auto env = environment();
    env.erase("QT_QPA_PLATFORM");
    env["DISPLAY"] = display_;
    auto child = launch({}, env);
    ASSERT_TRUE(child);
    // The launch sequence is done, the window shown and given the keyboard.
    ASSERT_TRUE(child->waitForLine(argumentReport({}), 10s)) << child->output();
    // By title: GNUstep sets no _NET_WM_PID, and the display is this suite's own.
    const std::string found =
        xdotool({"search", "--sync", "--onlyvisible", "--name", "^Veltrin Driverkit Launcher$"});
    const std::string window = found.substr(0, found.find('\n'));
    ASSERT_NE(window, "") << "no visible window of the launcher";
    xdotool({"windowfocus", "--sync", window});

    // Load holds the focus.
    xdotool({"key", "space"});
    ASSERT_TRUE(waitForLogText(approvalText, 10s)) << "Load submitted no activation\n" << readLog();
    xdotool({"key", "Tab", "space"});
    ASSERT_TRUE(waitForLogText(successText, 10s)) << "Disable submitted no deactivation\n"
                                                  << readLog();
    // Interactive use: no exit timer, the window stays until the user quits.
    EXPECT_FALSE(child->waitForExit(1s));
    // Disable holds the focus now: Return must still mean Quit, not Disable.
    xdotool({"key", "Return"});
    const auto pressed = Clock::now();
    const ExitStatus status = child->finish(10s);
    EXPECT_TRUE(status.ok()) << status.signal;
    EXPECT_LT(secondsBetween(pressed, status.at), 2.0);
    EXPECT_EQ(child->output(), supportedReleaseLine + argumentReport({}));
    // The deactivation removes the extension whose activation waits for
    // approval, so that one fails too; the two answers come from two workers,
    // in either order. Nothing more: Return submitted nothing.
    auto texts = logTexts(logPath(), from, std::time(nullptr));
    ASSERT_EQ(texts.size(), 4u) << ::testing::PrintToString(texts);
    std::sort(texts.begin() + 2, texts.end());
    EXPECT_EQ(texts, (std::vector<std::string>{"Info:Command arguments=", approvalText,
                                               failurePrefix + canceledDescription, successText}));
}

}  // namespace
}  // namespace e2e
