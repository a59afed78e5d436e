// The launcher object: construction, fireTimer, applicationWillTerminate,
// and a layout that leaves outlets unconnected.
#include <algorithm>

#include "LauncherTest.hpp"
#include "veltrin_Driverkit_Launcher/LauncherState.hpp"

namespace {

TEST_F(LauncherTest, OutletsAreEmptyUntilTheLayoutConnectsAllFour) {
    const launcher::AppDelegate delegate;
    EXPECT_EQ(delegate.window(), nullptr);
    EXPECT_EQ(delegate.quitButton(), nullptr);
    EXPECT_EQ(delegate.messageBox(), nullptr);
    EXPECT_EQ(delegate.macOSMessageBox(), nullptr);
    fake.launch({});
    EXPECT_NE(app().window(), nullptr);
    EXPECT_EQ(app().quitButton().get(), fake.quitButton());
    EXPECT_EQ(app().messageBox().get(), fake.messageBox());
    EXPECT_EQ(app().macOSMessageBox().get(), fake.macOSMessageBox());
}

// fireTimer does nothing at all while keepRunning is set, and otherwise sends
// terminate once with the delegate as sender; applicationWillTerminate, which
// terminate delivers, touches no sink and no state.
TEST_F(LauncherTest, FireTimerTerminatesOnlyWithoutKeepRunning) {
    fake.createActivityLog();
    fake.launch({"-install"});
    fake.clearTrace();
    const std::string logBefore = *fake.activityLogBytes();
    const auto timerBefore = launcher::exitTimer;

    launcher::keepRunning = true;
    app().fireTimer();
    EXPECT_TRUE(fake.trace().empty());
    EXPECT_FALSE(fake.ended());
    EXPECT_EQ(fake.timer(1)->state(), fake::FakeTimer::State::scheduled);

    launcher::keepRunning = false;
    app().fireTimer();
    EXPECT_EQ(fake.trace(), (fake::Trace{fake::Terminate(1, appAddress())}));
    EXPECT_TRUE(fake.ended());
    EXPECT_EQ(*fake.activityLogBytes(), logBefore);
    EXPECT_EQ(launcher::exitTimer, timerBefore);
    EXPECT_TRUE(launcher::commandLineMode);
    EXPECT_FALSE(launcher::keepRunning);
    EXPECT_EQ(fake.messageBox()->stringValue(), "installing driver");
}

TEST_F(LauncherTest, MissingMessageBoxDoesNotCrashAndTheOtherSinksStillGetTheReport) {
    fake.setOutlets(
        {.window = true, .quitButton = true, .messageBox = false, .macOSMessageBox = true});
    fake.createActivityLog();
    fake.launch({"-install"});
    fake.answerFailed(0, "gone");
    fake.answerFinished(0, 5);
    fake.answerNeedsApproval(0);
    fake.answerReplacement(0, "1", "2");
    fake.runUntilNoTasksRemain();

    for (const fake::Event& event : fake.trace()) {
        EXPECT_NE(event.sink, fake::Sink::messageBox) << event;
    }
    const std::string log = *fake.activityLogBytes();
    EXPECT_NE(log.find(":Start:installing driver\n\r\n"), std::string::npos);
    EXPECT_NE(log.find(":Error:System extension request failed: gone\r\n"), std::string::npos);
    EXPECT_NE(log.find(":Error:Unexpected result 5 for system extension request\r\n"),
              std::string::npos);
    EXPECT_NE(log.find(":Info:System Extension " + dext() + " requires user approval\r\n"),
              std::string::npos);
    EXPECT_NE(log.find(":Info:Replacing extension " + dext() + " version 1 with version 2\r\n"),
              std::string::npos);
    const fake::Trace& trace = fake.trace();
    EXPECT_NE(std::find(trace.begin(), trace.end(), fake::Answer(4, 1)), trace.end());
    EXPECT_EQ(trace.back(), fake::Terminate(6, appAddress()));
}

TEST_F(LauncherTest, MissingReleaseLineAndQuitButtonDoNotCrash) {
    fake.setOutlets(
        {.window = false, .quitButton = false, .messageBox = true, .macOSMessageBox = false});
    fake.launch({"-uninstall"});
    fake.runUntilNoTasksRemain();
    EXPECT_TRUE(fake.ended());
    for (const fake::Event& event : fake.trace()) {
        EXPECT_NE(event.sink, fake::Sink::macOSMessageBox);
        EXPECT_NE(event.sink, fake::Sink::keyEquivalent);
    }
}

}  // namespace
