// The launch sequence, the gate and the typical runs
// of a command-line install, as whole traces with virtual times.
#include <optional>

#include "LauncherTest.hpp"
#include "veltrin_Driverkit_Launcher/LauncherState.hpp"

using fake::ActivityLog;
using fake::Fired;
using fake::Invalidated;
using fake::Key;
using fake::Log;
using fake::Release;
using fake::Restart;
using fake::Scheduled;
using fake::Status;
using fake::Stdout;
using fake::Submit;
using fake::Terminate;
using platform::RequestKind;

namespace {

// ---------------------------------------------------------------- the typical run

TEST_F(LauncherTest, TypicalInstallRunWithApprovalEndsSixSecondsAfterCompletionBegan) {
    fake.createActivityLog();
    fake.launch({"-install"});
    EXPECT_DOUBLE_EQ(fake.now(), 1.0);  // the launch pause

    fake.runUntil(3.0);
    fake.answerNeedsApproval(0);
    fake.runUntil(20.0);  // the user takes their time: nothing ends the application
    EXPECT_FALSE(fake.ended());
    fake.answerFinished(0, platform::RequestResult::completed);
    fake.runUntilNoTasksRemain();

    const fake::Trace expected = concat(
        {supportedLaunchStart(),
         {
             Log(0, "Start:installing driver\n"),
             ActivityLog(0, stamp(0) + ":Start:installing driver\n\r\n"),
             Status(0, "installing driver"),
             Submit(1, RequestKind::activation, dext(), appAddress(), queueAddress()),
             Log(1, "Info:Command arguments="),
             ActivityLog(1, stamp(1) + ":Info:Command arguments=\r\n"),
             Stdout(1, "[\"" + programPath() + "\", \"-install\"]\n"),
             Scheduled(1, 1, 5.0, appAddress()),
             ActivityLog(
                 3, stamp(3) + ":Info:System Extension " + dext() + " requires user approval\r\n"),
             Log(3, "Info:System Extension %@ requires user approval", {dext()}),
             Status(3, "Extension " + dext() + " requires user approval"),
             Invalidated(3, 1),
             Log(20,
                 "Success:System extension operation successful. Please restart your computer."),
             Status(20,
                    "Success:System extension operation successful. Please restart your computer."),
             ActivityLog(20, stamp(20) + ":Success:System extension operation successful. Please "
                                         "restart your computer.\r\n"),
             Scheduled(21, 2, 5.0, appAddress()),
             Fired(26, 2),
             Terminate(26, appAddress()),
         }});
    EXPECT_EQ(fake.trace(), expected);
    EXPECT_TRUE(fake.ended());
    EXPECT_DOUBLE_EQ(fake.now(), 26.0);  // 6.0 s after the completion began

    EXPECT_EQ(fake.activityLogBytes(),
              "05/12/2026 07:41:39:Start:installing driver\n\r\n"
              "05/12/2026 07:41:40:Info:Command arguments=\r\n"
              "05/12/2026 07:41:42:Info:System Extension " +
                  dext() +
                  " requires user approval\r\n"
                  "05/12/2026 07:41:59:Success:System extension operation successful. Please "
                  "restart your computer.\r\n");
}

// ---------------------------------------------------------------- the mode table

struct ModeRow {
    const char* flag;
    const char* logText;
    const char* statusText;
    RequestKind kind;
    bool interactiveInstall;
};

class ModeTableTest : public LauncherTest, public ::testing::WithParamInterface<ModeRow> {};

TEST_P(ModeTableTest, RunsTheRowAndEndsAtTheLaunchTimer) {
    const ModeRow& row = GetParam();
    fake.createActivityLog();
    fake.launch({row.flag});

    EXPECT_TRUE(launcher::commandLineMode);
    EXPECT_EQ(launcher::interactiveInstall, row.interactiveInstall);
    EXPECT_FALSE(launcher::keepRunning);
    EXPECT_EQ(launcher::exitTimer, fake.timer(1));
    ASSERT_TRUE(launcher::logFileURL.has_value());
    EXPECT_EQ(launcher::logFileURL->path(), fake.home() + "/veltrinLogFile.txt");
    EXPECT_EQ(fake.quitButton()->keyEquivalent(), "\r");

    fake.runUntilNoTasksRemain();
    fake::Trace expected = concat({supportedLaunchStart(),
                                   {
                                       Log(0, row.logText),
                                       ActivityLog(0, stamp(0) + ":" + row.logText + "\r\n"),
                                       Status(0, row.statusText),
                                       Submit(1, row.kind, dext(), appAddress(), queueAddress()),
                                   }});
    if (row.interactiveInstall) {
        expected.push_back(Restart(1));  // after the submission
    }
    const fake::Trace rest{
        Log(1, "Info:Command arguments="),
        ActivityLog(1, stamp(1) + ":Info:Command arguments=\r\n"),
        Stdout(1, "[\"" + programPath() + "\", \"" + row.flag + "\"]\n"),
        Scheduled(1, 1, 5.0, appAddress()),
        Fired(6, 1),
        Terminate(6, appAddress()),
    };
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(fake.trace(),
              expected);  // -install: the run without approval, ending 6.0 s after start
    EXPECT_EQ(launcher::exitTimer, fake.timer(1));  // fireTimer leaves it as it was
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ModeTableTest,
    ::testing::Values(ModeRow{"-install", "Start:installing driver\n", "installing driver",
                              RequestKind::activation, false},
                      ModeRow{"-uninstall", "Start:uninstalling driver\n", "uninstalling driver",
                              RequestKind::deactivation, false},
                      ModeRow{"-installInteractive", "Start:installing driver interactive\n",
                              "installing driver interactive", RequestKind::activation, true}),
    [](const auto& testInfo) { return std::string(testInfo.param.flag + 1); });

// ---------------------------------------------------------------- flag selection

struct Selection {
    std::vector<std::string> arguments;  // the whole argv, program path included
    std::optional<RequestKind> kind;     // none: interactive use
    bool interactiveInstall;
    const char* name;
};

class FlagSelectionTest : public LauncherTest, public ::testing::WithParamInterface<Selection> {};

TEST_P(FlagSelectionTest, SelectsTheExpectedMode) {
    const Selection& selection = GetParam();
    std::vector<std::string> storage = selection.arguments;
    std::vector<char*> argv;
    for (std::string& argument : storage) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    platform::applicationMain(static_cast<int>(storage.size()), argv.data());

    const bool commandLine = selection.kind.has_value();
    EXPECT_EQ(launcher::commandLineMode, commandLine);
    EXPECT_EQ(launcher::interactiveInstall, selection.interactiveInstall);
    ASSERT_EQ(fake.requests().size(), commandLine ? 1u : 0u);
    if (commandLine) {
        EXPECT_EQ(fake.requests()[0]->kind(), *selection.kind);
    }
    std::size_t restarts = 0;
    std::size_t scheduled = 0;
    for (const fake::Event& event : fake.trace()) {
        restarts += event.sink == fake::Sink::restart ? 1 : 0;
        scheduled += event.sink == fake::Sink::timerScheduled ? 1 : 0;
    }
    EXPECT_EQ(restarts, selection.interactiveInstall ? 1u : 0u);
    EXPECT_EQ(scheduled, commandLine ? 1u : 0u);
}

const std::string path =
    "/Applications/veltrin_Driverkit_Launcher.app/Contents/MacOS/veltrin_Driverkit_Launcher";

INSTANTIATE_TEST_SUITE_P(
    Flags, FlagSelectionTest,
    ::testing::Values(
        Selection{{path, "-uninstall", "-install"},
                  RequestKind::activation,
                  false,
                  "UninstallThenInstall"},
        Selection{{path, "-install", "-uninstall"},
                  RequestKind::activation,
                  false,
                  "InstallThenUninstall"},
        Selection{{path, "-install", "-installInteractive"},
                  RequestKind::activation,
                  false,
                  "InstallAndInteractive"},
        Selection{{path, "-installInteractive", "-install"},
                  RequestKind::activation,
                  false,
                  "InteractiveAndInstall"},
        Selection{{path, "-installInteractive", "-uninstall"},
                  RequestKind::deactivation,
                  false,
                  "InteractiveAndUninstall"},
        Selection{
            {path, "a", "b", "c", "-uninstall"}, RequestKind::deactivation, false, "FlagLast"},
        Selection{{path, "x", "-installInteractive", "y"},
                  RequestKind::activation,
                  true,
                  "FlagInTheMiddle"},
        Selection{{"-uninstall"}, RequestKind::deactivation, false, "FlagAsProgramPath"},
        Selection{
            {"-install", "-uninstall"}, RequestKind::activation, false, "InstallAsProgramPathWins"},
        Selection{{path, "-Install"}, std::nullopt, false, "OtherCase"},
        Selection{{path, "-INSTALL"}, std::nullopt, false, "UpperCase"},
        Selection{{path, "-installinteractive"}, std::nullopt, false, "OtherCaseInteractive"},
        Selection{{path, "--install"}, std::nullopt, false, "DoubledDash"},
        Selection{{path, "--uninstall"}, std::nullopt, false, "DoubledDashUninstall"},
        Selection{{path, "-install2"}, std::nullopt, false, "Suffix"},
        Selection{{path, "-install "}, std::nullopt, false, "TrailingBlank"},
        Selection{{path, " -install"}, std::nullopt, false, "LeadingBlank"},
        Selection{{path, "-installInteractiveX"}, std::nullopt, false, "SuffixInteractive"},
        Selection{{path, "-uninstal"}, std::nullopt, false, "Shortened"},
        Selection{{path, "install"}, std::nullopt, false, "NoDash"},
        Selection{{path, "-install=1"}, std::nullopt, false, "WithValue"},
        Selection{{path}, std::nullopt, false, "ProgramPathOnly"},
        Selection{{}, std::nullopt, false, "NoArgumentsAtAll"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// ---------------------------------------------------------------- the gate

struct UnsupportedRelease {
    long major, minor, patch;
    const char* firstLine;
    const char* secondLine;
};

class UnsupportedReleaseTest : public LauncherTest,
                               public ::testing::WithParamInterface<UnsupportedRelease> {};

TEST_P(UnsupportedReleaseTest, InstallShowsTheMessageAndDoesNothingElse) {
    const UnsupportedRelease& release = GetParam();
    fake.setRelease(release.major, release.minor, release.patch);
    fake.createActivityLog();
    fake.launch({"-install"});
    fake.runUntilNoTasksRemain();

    EXPECT_EQ(fake.trace(), (fake::Trace{
                                Stdout(0, release.firstLine),
                                Stdout(0, release.secondLine),
                                Release(0, "This is an unsupported operating System"),
                            }));
    EXPECT_FALSE(launcher::logFileURL.has_value());
    EXPECT_FALSE(launcher::commandLineMode);
    EXPECT_EQ(launcher::exitTimer, nullptr);
    EXPECT_TRUE(fake.requests().empty());
    EXPECT_EQ(fake.quitButton()->keyEquivalent(), "");
    EXPECT_EQ(fake.messageBox()->stringValue(), "");
    EXPECT_EQ(fake.activityLogBytes(), "");
    EXPECT_FALSE(fake.ended());  // no exit, although the gate said "Exiting"
    EXPECT_EQ(fake.pendingTaskCount(), 0u);
    EXPECT_DOUBLE_EQ(fake.now(), 0.0);  // and no pause
}

INSTANTIATE_TEST_SUITE_P(
    Releases, UnsupportedReleaseTest,
    ::testing::Values(UnsupportedRelease{12, 7, 6, "Running on Monterey\n",
                                         "This driver was not built for macOS Monterey. Exiting\n"},
                      UnsupportedRelease{12, 0, 0, "Running on Monterey\n",
                                         "This driver was not built for macOS Monterey. Exiting\n"},
                      UnsupportedRelease{11, 7, 0, "Running on Big Sur\n",
                                         "This driver was not built for macOS Big Sur. Exiting\n"},
                      UnsupportedRelease{11, 3, 0, "Running on Big Sur\n",
                                         "This driver was not built for macOS Big Sur. Exiting\n"},
                      UnsupportedRelease{
                          12, 99, 99, "Running on Monterey\n",
                          "This driver was not built for macOS Monterey. Exiting\n"}),
    [](const auto& testInfo) {
        return "R" + std::to_string(testInfo.param.major) + "_" +
               std::to_string(testInfo.param.minor) + "_" + std::to_string(testInfo.param.patch);
    });

class SupportedReleaseTest
    : public LauncherTest,
      public ::testing::WithParamInterface<platform::OperatingSystemVersion> {};

// No flag: interactive use, on the lowest supported release and later ones.
TEST_P(SupportedReleaseTest, NoFlagIsInteractiveUse) {
    fake.setRelease(GetParam().major, GetParam().minor, GetParam().patch);
    fake.createActivityLog();
    fake.launch({});
    fake.runUntilNoTasksRemain();

    EXPECT_EQ(fake.trace(), concat({supportedLaunchStart(),
                                    {
                                        Log(0, "Info:Command arguments="),
                                        ActivityLog(0, stamp(0) + ":Info:Command arguments=\r\n"),
                                        Stdout(0, "[\"" + programPath() + "\"]\n"),
                                    }}));
    EXPECT_FALSE(launcher::commandLineMode);
    EXPECT_FALSE(launcher::interactiveInstall);
    EXPECT_EQ(launcher::exitTimer, nullptr);
    EXPECT_TRUE(fake.requests().empty());
    EXPECT_FALSE(fake.ended());
    EXPECT_EQ(fake.pendingTaskCount(), 0u);
    EXPECT_EQ(fake.activityLogBytes(), "05/12/2026 07:41:39:Info:Command arguments=\r\n");
}

INSTANTIATE_TEST_SUITE_P(Releases, SupportedReleaseTest,
                         ::testing::Values(platform::OperatingSystemVersion{13, 0, 0},
                                           platform::OperatingSystemVersion{15, 1, 0},
                                           platform::OperatingSystemVersion{26, 0, 1}));

TEST_F(LauncherTest, LocationReportIsSkippedWhenTheDefaultTypeIsDisabled) {
    fake.setOsLogDefaultTypeEnabled(false);
    fake.launch({"-uninstall"});
    for (const fake::Event& event : fake.trace()) {
        EXPECT_NE(event.text, "file URL = %s");
    }
    EXPECT_EQ(fake.trace()[2], Key(0, "\r"));
    EXPECT_EQ(fake.trace()[3], Log(0, "Start:uninstalling driver\n"));
}

TEST_F(LauncherTest, LocationReportOfAHomeWithABlankAndNonAscii) {
    fake.setHomeDirectoryName("J\xC3\xBCrgen M%20ller");
    fake.createActivityLog();
    fake.launch({});
    const std::string root = fake.home().substr(0, fake.home().rfind('/'));
    EXPECT_EQ(fake.trace()[2],
              Log(0, "file URL = %s",
                  {"file://" + root + "/J%C3%BCrgen%20M%2520ller/veltrinLogFile.txt"}));
    EXPECT_EQ(launcher::logFileURL->path(), fake.home() + "/veltrinLogFile.txt");
    EXPECT_EQ(fake.activityLogBytes(), "05/12/2026 07:41:39:Info:Command arguments=\r\n");
}

// ---------------------------------------------------------------- user actions

// Each press submits one request and reports nothing, also while the exit timer is pending.
TEST_F(LauncherTest, EveryButtonPressSubmitsOneRequest) {
    fake.launch({"-uninstall"});
    fake.clearTrace();
    fake.pressLoadButton();
    fake.pressDisableButton();
    fake.pressDisableButton();
    fake.runUntil(2.0);
    EXPECT_EQ(fake.trace(),
              (fake::Trace{
                  Submit(1, RequestKind::activation, dext(), appAddress(), queueAddress()),
                  Submit(1, RequestKind::deactivation, dext(), appAddress(), queueAddress()),
                  Submit(1, RequestKind::deactivation, dext(), appAddress(), queueAddress()),
              }));
}

TEST_F(LauncherTest, TheUserCanQuitAlsoWhenKeepRunningIsSet) {
    fake.launch({"-installInteractive"});
    fake.answerFailed(0, "denied");
    fake.runUntil(30.0);
    ASSERT_TRUE(launcher::keepRunning);
    EXPECT_FALSE(fake.ended());
    fake.clearTrace();
    fake.userQuits();
    fake.runUntilIdle();
    EXPECT_EQ(fake.trace(), (fake::Trace{Terminate(30, fake::address(*fake.quitButton()))}));
    EXPECT_TRUE(fake.ended());
}

}  // namespace
