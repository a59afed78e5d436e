// The launch sequence, the gate and the typical runs
// of a command-line install, as whole traces with virtual times.
#include <algorithm>
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

    const void* app = appAddress();
    const fake::Trace expected =
        concat({installLaunch(),
                approval(3, dext()),
                {Invalidated(3, 1)},
                succeeded(20),
                {Scheduled(21, 2, 5.0, app), Fired(26, 2), Terminate(26, app)}});
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
    // For -install this is the run without approval, ending 6.0 s after start.
    const fake::Trace expected =
        concat({commandLineLaunch(row.flag, row.logText, row.statusText, row.kind),
                {Fired(6, 1), Terminate(6, appAddress())}});
    EXPECT_EQ(fake.trace(), expected);
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
    const char* name;
    std::optional<RequestKind> kind;  // none: interactive use
    bool interactiveInstall;
    std::vector<std::string> arguments;  // the whole argv, program path included
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
    const auto count = [&](fake::Sink sink) {
        return std::count_if(fake.trace().begin(), fake.trace().end(),
                             [&](const fake::Event& event) { return event.sink == sink; });
    };
    EXPECT_EQ(count(fake::Sink::restart), selection.interactiveInstall ? 1 : 0);
    EXPECT_EQ(count(fake::Sink::timerScheduled), commandLine ? 1 : 0);
}

const std::string path(fake::FakePlatform::programPath);
constexpr auto activation = RequestKind::activation;
constexpr auto deactivation = RequestKind::deactivation;
constexpr auto none = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    Flags, FlagSelectionTest,
    ::testing::Values(
        Selection{"UninstallThenInstall", activation, false, {path, "-uninstall", "-install"}},
        Selection{"InstallThenUninstall", activation, false, {path, "-install", "-uninstall"}},
        Selection{
            "InstallAndInteractive", activation, false, {path, "-install", "-installInteractive"}},
        Selection{
            "InteractiveAndInstall", activation, false, {path, "-installInteractive", "-install"}},
        Selection{"InteractiveAndUninstall",
                  deactivation,
                  false,
                  {path, "-installInteractive", "-uninstall"}},
        Selection{"FlagLast", deactivation, false, {path, "a", "b", "c", "-uninstall"}},
        Selection{"FlagInTheMiddle", activation, true, {path, "x", "-installInteractive", "y"}},
        Selection{"FlagAsProgramPath", deactivation, false, {"-uninstall"}},
        Selection{"InstallAsProgramPathWins", activation, false, {"-install", "-uninstall"}},
        Selection{"OtherCase", none, false, {path, "-Install"}},
        Selection{"UpperCase", none, false, {path, "-INSTALL"}},
        Selection{"OtherCaseInteractive", none, false, {path, "-installinteractive"}},
        Selection{"DoubledDash", none, false, {path, "--install"}},
        Selection{"DoubledDashUninstall", none, false, {path, "--uninstall"}},
        Selection{"Suffix", none, false, {path, "-install2"}},
        Selection{"TrailingBlank", none, false, {path, "-install "}},
        Selection{"LeadingBlank", none, false, {path, " -install"}},
        Selection{"SuffixInteractive", none, false, {path, "-installInteractiveX"}},
        Selection{"Shortened", none, false, {path, "-uninstal"}},
        Selection{"NoDash", none, false, {path, "install"}},
        Selection{"WithValue", none, false, {path, "-install=1"}},
        Selection{"ProgramPathOnly", none, false, {path}},
        Selection{"NoArgumentsAtAll", none, false, {}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// ---------------------------------------------------------------- the gate

struct UnsupportedRelease {
    long major, minor, patch;
    const char* name;
};

class UnsupportedReleaseTest : public LauncherTest,
                               public ::testing::WithParamInterface<UnsupportedRelease> {};

TEST_P(UnsupportedReleaseTest, InstallShowsTheMessageAndDoesNothingElse) {
    const UnsupportedRelease& release = GetParam();
    fake.setRelease(release.major, release.minor, release.patch);
    fake.createActivityLog();
    fake.launch({"-install"});
    fake.runUntilNoTasksRemain();

    const std::string name = release.name;
    EXPECT_EQ(fake.trace(),
              (fake::Trace{
                  Stdout(0, "Running on " + name + "\n"),
                  Stdout(0, "This driver was not built for macOS " + name + ". Exiting\n"),
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

INSTANTIATE_TEST_SUITE_P(Releases, UnsupportedReleaseTest,
                         ::testing::Values(UnsupportedRelease{12, 7, 6, "Monterey"},
                                           UnsupportedRelease{12, 0, 0, "Monterey"},
                                           UnsupportedRelease{12, 99, 99, "Monterey"},
                                           UnsupportedRelease{11, 7, 0, "Big Sur"},
                                           UnsupportedRelease{11, 3, 0, "Big Sur"}));

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
