// The request answers in each of the three command-line modes
// and in interactive use, and their combinations, as traces with virtual times.
#include <cstdint>
#include <limits>

#include "LauncherTest.hpp"
#include "veltrin_Driverkit_Launcher/LauncherState.hpp"

using fake::ActivityLog;
using fake::Answer;
using fake::Fired;
using fake::Invalidated;
using fake::Log;
using fake::Scheduled;
using fake::Status;
using fake::Terminate;

namespace {

enum class Mode { install, uninstall, installInteractive, interactive };

const char* modeName(Mode mode) {
    switch (mode) {
        case Mode::install:
            return "install";
        case Mode::uninstall:
            return "uninstall";
        case Mode::installInteractive:
            return "installInteractive";
        case Mode::interactive:
            return "interactive";
    }
    return "?";
}

constexpr Mode allModes[] = {Mode::install, Mode::uninstall, Mode::installInteractive,
                             Mode::interactive};

// Starts the launcher in `mode` with one request submitted (in interactive use by
// the load button at t = 0), runs to t = 2 and forgets the trace so far. In a
// command-line mode the launch timer (#1) fires at t = 6.
class CallbackTest : public LauncherTest {
  protected:
    void startIn(Mode mode) {
        fake.createActivityLog();
        switch (mode) {
            case Mode::install:
                fake.launch({"-install"});
                break;
            case Mode::uninstall:
                fake.launch({"-uninstall"});
                break;
            case Mode::installInteractive:
                fake.launch({"-installInteractive"});
                break;
            case Mode::interactive:
                fake.launch({});
                fake.pressLoadButton();
                break;
        }
        fake.runUntil(2.0);
        ASSERT_EQ(fake.requests().size(), 1u);
        fake.clearTrace();
    }
    static bool commandLine(Mode mode) { return mode != Mode::interactive; }
};

// ---------------------------------------------------------------- completion: every outcome in
// every mode

struct Outcome {
    platform::Result result;
    const char* decimal;  // R as the three sinks must show it
};

class OutcomeTest : public CallbackTest,
                    public ::testing::WithParamInterface<std::tuple<Outcome, Mode>> {};

TEST_P(OutcomeTest, ReportsOnThreeSinksAndArrangesTheExit) {
    const auto [outcome, mode] = GetParam();
    startIn(mode);
    fake.answerFinished(0, outcome.result);
    fake.runUntilNoTasksRemain();

    fake::Trace expected;
    const void* app = appAddress();
    if (outcome.result == 0) {
        expected = succeeded(2);
        if (commandLine(mode)) {
            expected.insert(expected.end(),
                            {Scheduled(3, 2, 5.0, app), Fired(6, 1), Terminate(6, app)});
        }
    } else if (outcome.result == 1) {
        expected = {
            Log(2,
                "Success:System extension operation will complete after reboot. Please restart "
                "your computer."),
            Status(2,
                   "Success:System extension  operation will complete after reboot. Please restart "
                   "your computer."),
            ActivityLog(2,
                        "05/12/2026 07:41:41:Success:System extension operation will complete "
                        "after reboot. Please restart your computer.\r\n"),
        };
        if (commandLine(mode)) {
            expected.insert(expected.end(),
                            {Scheduled(3, 2, 5.0, app), Fired(6, 1), Terminate(6, app)});
        }
    } else {
        const std::string r = outcome.decimal;
        expected = {
            ActivityLog(2, "05/12/2026 07:41:41:Error:Unexpected result " + r +
                               " for system extension request\r\n"),
            Log(2, "Error:Unexpected result %d for system extension request", {outcome.result}),
            Status(2, "Error:Unexpected result " + r + " for system extension request"),
        };
        if (mode == Mode::install || mode == Mode::uninstall) {
            // the timer step comes before the pause on this branch
            expected.insert(expected.end(),
                            {Scheduled(2, 2, 5.0, app), Fired(6, 1), Terminate(6, app)});
        } else if (mode == Mode::installInteractive) {
            expected.insert(expected.end(), {Scheduled(2, 2, 5.0, app), Fired(6, 1), Fired(7, 2)});
        }
    }
    EXPECT_EQ(fake.trace(), expected);

    const bool unexpected = outcome.result != 0 && outcome.result != 1;
    EXPECT_EQ(launcher::keepRunning, unexpected && mode == Mode::installInteractive);
    EXPECT_EQ(fake.ended(), commandLine(mode) && !launcher::keepRunning);
    if (commandLine(mode)) {
        EXPECT_EQ(launcher::exitTimer, fake.timer(2));
    } else {
        EXPECT_EQ(launcher::exitTimer, nullptr);
        EXPECT_EQ(fake.timer(1), nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, OutcomeTest,
    ::testing::Combine(
        ::testing::Values(Outcome{0, "0"}, Outcome{1, "1"}, Outcome{2, "2"}, Outcome{-1, "-1"},
                          Outcome{std::numeric_limits<std::int64_t>::min(), "-9223372036854775808"},
                          Outcome{std::numeric_limits<std::int64_t>::max(), "9223372036854775807"}),
        ::testing::ValuesIn(allModes)),
    [](const auto& testInfo) {
        const Outcome& outcome = std::get<0>(testInfo.param);
        std::string name =
            std::string("R_") + outcome.decimal + "_" + modeName(std::get<1>(testInfo.param));
        for (char& c : name) {
            c = c == '-' ? 'm' : c;
        }
        return name;
    });

// ---------------------------------------------------------------- failure, approval, replacement
// in every mode

class ModeTest : public CallbackTest, public ::testing::WithParamInterface<Mode> {};

TEST_P(ModeTest, Failure) {
    const Mode mode = GetParam();
    startIn(mode);
    fake.answerFailed(0, "The operation couldn\xE2\x80\x99t be completed.");
    fake.runUntilNoTasksRemain();

    const void* app = appAddress();
    fake::Trace expected = failed(2, "The operation couldn\xE2\x80\x99t be completed.");
    if (mode == Mode::install || mode == Mode::uninstall) {
        // the pause comes before the timer step
        expected.insert(expected.end(),
                        {Scheduled(3, 2, 5.0, app), Fired(6, 1), Terminate(6, app)});
    } else if (mode == Mode::installInteractive) {
        expected.insert(expected.end(), {Scheduled(3, 2, 5.0, app), Fired(6, 1), Fired(8, 2)});
    }
    EXPECT_EQ(fake.trace(), expected);
    EXPECT_EQ(launcher::keepRunning, mode == Mode::installInteractive);
    EXPECT_EQ(fake.ended(), mode == Mode::install || mode == Mode::uninstall);
    EXPECT_EQ(launcher::exitTimer, commandLine(mode) ? fake.timer(2) : nullptr);
}

TEST_P(ModeTest, Approval) {
    const Mode mode = GetParam();
    startIn(mode);
    fake.answerNeedsApproval(0);
    fake.runUntilNoTasksRemain();

    fake::Trace expected = approval(2, dext());
    if (commandLine(mode)) {
        expected.push_back(Invalidated(2, 1));
    }
    EXPECT_EQ(fake.trace(), expected);
    EXPECT_EQ(launcher::exitTimer, nullptr);
    EXPECT_FALSE(fake.ended());
    EXPECT_EQ(fake.pendingTaskCount(), 0u);
    EXPECT_DOUBLE_EQ(fake.now(), 2.0);  // no pause
}

// Newer, equal and older offered versions alike.
TEST_P(ModeTest, ReplacementIsAlwaysAnsweredWithReplace) {
    const Mode mode = GetParam();
    startIn(mode);
    fake.answerReplacement(0, "1.0.0", "1.2.0");
    fake.answerReplacement(0, "1.2.0", "1.2.0");
    fake.answerReplacement(0, "1.2.0", "1.0.0");
    fake.runUntilNoTasksRemain();

    const void* app = appAddress();
    fake::Trace expected = concat({replacing(2, dext(), "1.0.0", "1.2.0"),
                                   {Answer(3, 1)},
                                   replacing(3, dext(), "1.2.0", "1.2.0"),
                                   {Answer(4, 1)},
                                   replacing(4, dext(), "1.2.0", "1.0.0"),
                                   {Answer(5, 1)}});
    if (commandLine(mode)) {
        expected.insert(expected.end(), {Fired(6, 1), Terminate(6, app)});
    }
    EXPECT_EQ(fake.trace(), expected);
    EXPECT_FALSE(launcher::keepRunning);
}

INSTANTIATE_TEST_SUITE_P(Modes, ModeTest, ::testing::ValuesIn(allModes), [](const auto& testInfo) {
    return std::string(modeName(testInfo.param));
});

// ---------------------------------------------------------------- combinations

// After an approval no exit timer is held: later approvals only report, and a
// failure or an unexpected result (each waiting for the other's pause) arms none.
TEST_F(CallbackTest, ApprovalsThenFailureAndUnexpectedResultInInstallStayOpenWithNoTimer) {
    startIn(Mode::install);
    fake.answerNeedsApproval(0);
    fake.answerNeedsApproval(0);
    fake.runUntil(4.0);
    fake.answerFailed(0, "denied");
    fake.answerFinished(0, 7);
    fake.runUntilNoTasksRemain();
    EXPECT_EQ(fake.trace(),
              concat({approval(2, dext()),
                      {Invalidated(2, 1)},
                      approval(2, dext()),
                      failed(4, "denied"),
                      {
                          ActivityLog(5,
                                      "05/12/2026 07:41:44:Error:Unexpected result 7 for system "
                                      "extension request\r\n"),
                          Log(5, "Error:Unexpected result %d for system extension request",
                              {std::int64_t{7}}),
                          Status(5, "Error:Unexpected result 7 for system extension request"),
                      }}));
    EXPECT_FALSE(fake.ended());
    EXPECT_EQ(fake.pendingTaskCount(), 0u);
    EXPECT_EQ(launcher::exitTimer, nullptr);
    EXPECT_DOUBLE_EQ(fake.now(), 6.0);  // the two pauses
}

TEST_F(CallbackTest, ApprovalThenCompletionInUninstallEndsSixSecondsAfterTheCompletionBegan) {
    startIn(Mode::uninstall);
    fake.answerNeedsApproval(0);
    fake.runUntil(40.0);
    fake.answerFinished(0, platform::RequestResult::completed);
    fake.runUntilNoTasksRemain();
    const void* app = appAddress();
    EXPECT_EQ(fake.trace(),
              concat({approval(2, dext()),
                      {Invalidated(2, 1)},
                      succeeded(40),
                      {Scheduled(41, 2, 5.0, app), Fired(46, 2), Terminate(46, app)}}));
}

// -installInteractive after a failure: every timer fires, replaced or not, and
// finds keepRunning set; a timer that has fired still counts as held (a later
// failure arms a new one, an approval invalidates it harmlessly); nothing clears
// keepRunning, not even a success.
TEST_F(CallbackTest, KeepRunningOutlivesEveryTimerAndEveryLaterAnswer) {
    startIn(Mode::installInteractive);
    fake.answerFailed(0, "x");
    fake.runUntil(10.0);
    fake.answerFailed(0, "late");
    fake.runUntil(20.0);
    fake.answerFinished(0, platform::RequestResult::completed);
    fake.runUntil(30.0);
    fake.answerNeedsApproval(0);
    fake.runUntilNoTasksRemain();
    const void* app = appAddress();
    EXPECT_EQ(fake.trace(), concat({
                                failed(2, "x"),
                                {Scheduled(3, 2, 5.0, app), Fired(6, 1), Fired(8, 2)},
                                failed(10, "late"),
                                {Scheduled(11, 3, 5.0, app), Fired(16, 3)},
                                succeeded(20),
                                {Scheduled(21, 4, 5.0, app), Fired(26, 4)},
                                approval(30, dext()),
                                {Invalidated(30, 4)},
                            }));
    EXPECT_TRUE(launcher::keepRunning);
    EXPECT_FALSE(fake.ended());
    ASSERT_NE(fake.timer(4), nullptr);
    EXPECT_EQ(fake.timer(4)->state(), fake::FakeTimer::State::fired);
    EXPECT_EQ(launcher::exitTimer, nullptr);
}

}  // namespace
