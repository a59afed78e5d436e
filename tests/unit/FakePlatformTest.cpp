// The fake platform itself: the clock, the loop, timers, the trace. The other
// tests lean on it, so it gets its own checks.
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "LauncherTest.hpp"
#include "platform/Host.hpp"
#include "platform/Timer.hpp"

namespace {

using fake::Fired;
using fake::Invalidated;
using fake::Scheduled;

struct CountingTarget final : platform::TimerTarget {
    int fired = 0;
    void fireTimer() override { ++fired; }
};

std::string dateTime(const platform::LocalDateTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d/%02d/%04d %02d:%02d:%02d", t.day, t.month, t.year, t.hour,
                  t.minute, t.second);
    return text;
}

TEST(FakeClock, StartsAtTheFixedDateAndFollowsVirtualTime) {
    fake::FakePlatform fake;
    EXPECT_EQ(dateTime(platform::currentLocalDateTime()), "05/12/2026 07:41:39");
    platform::sleepForTimeInterval(0.999);
    EXPECT_EQ(dateTime(platform::currentLocalDateTime()), "05/12/2026 07:41:39");  // floor
    platform::sleepForTimeInterval(0.001);
    EXPECT_EQ(dateTime(platform::currentLocalDateTime()), "05/12/2026 07:41:40");
    fake.advanceClock(3600.0 * 24 * 30);
    EXPECT_EQ(dateTime(platform::currentLocalDateTime()), "04/01/2027 07:41:40");
}

TEST(FakeClock, RollsOverDaysMonthsYearsAndLeapDays) {
    struct Case {
        platform::LocalDateTime start;
        double seconds;
        const char* expected;
    };
    const Case cases[] = {
        {{2026, 12, 31, 23, 59, 59}, 1, "01/01/2027 00:00:00"},
        {{2028, 2, 28, 23, 59, 59}, 1, "29/02/2028 00:00:00"},
        {{2027, 2, 28, 23, 59, 59}, 1, "01/03/2027 00:00:00"},
        {{2100, 2, 28, 12, 0, 0}, 86400, "01/03/2100 12:00:00"},
        {{2000, 2, 28, 12, 0, 0}, 86400, "29/02/2000 12:00:00"},
        {{2026, 4, 30, 23, 0, 0}, 3600, "01/05/2026 00:00:00"},
        {{1999, 12, 31, 23, 59, 30}, 31, "01/01/2000 00:00:01"},
    };
    for (const Case& c : cases) {
        fake::FakePlatform fake;
        fake.setStartDateTime(c.start);
        platform::sleepForTimeInterval(c.seconds);
        EXPECT_EQ(dateTime(platform::currentLocalDateTime()), c.expected);
    }
}

TEST(FakeLoop, SleepRunsNothing) {
    fake::FakePlatform fake;
    CountingTarget target;
    platform::scheduledTimerWithTimeInterval(1.0, target, false);
    int posted = 0;
    platform::mainQueue().async([&] { ++posted; });
    platform::sleepForTimeInterval(10.0);
    EXPECT_EQ(target.fired, 0);
    EXPECT_EQ(posted, 0);
    fake.runUntilIdle();  // both are due now
    EXPECT_EQ(target.fired, 1);
    EXPECT_EQ(posted, 1);
    EXPECT_EQ(fake.now(), 10.0);
}

TEST(FakeLoop, TimersFireInTimeOrderTiesInScheduleOrderAndOnlyWhenTheLoopRuns) {
    fake::FakePlatform fake;
    std::vector<int> order;
    struct Target final : platform::TimerTarget {
        std::vector<int>* order;
        int n;
        Target(std::vector<int>* o, int i) : order(o), n(i) {}
        void fireTimer() override { order->push_back(n); }
    } a(&order, 1), b(&order, 2), c(&order, 3);
    platform::scheduledTimerWithTimeInterval(5.0, a, false);
    platform::scheduledTimerWithTimeInterval(2.0, b, false);
    platform::scheduledTimerWithTimeInterval(5.0, c, false);
    fake.runUntil(4.0);
    EXPECT_EQ(order, (std::vector<int>{2}));
    EXPECT_EQ(fake.now(), 4.0);
    fake.runFor(1.0);
    EXPECT_EQ(order, (std::vector<int>{2, 1, 3}));
    EXPECT_EQ(fake.trace(), (fake::Trace{
        Scheduled(0, 1, 5.0, fake::address(a)),
        Scheduled(0, 2, 2.0, fake::address(b)),
        Scheduled(0, 3, 5.0, fake::address(c)),
        Fired(2, 2),
        Fired(5, 1),
        Fired(5, 3),
    }));
}

TEST(FakeLoop, InvalidatedTimerNeverFiresAndInvalidatingAFiredOneIsHarmless) {
    fake::FakePlatform fake;
    CountingTarget target;
    auto cancelled = platform::scheduledTimerWithTimeInterval(1.0, target, false);
    auto kept = platform::scheduledTimerWithTimeInterval(2.0, target, false);
    cancelled->invalidate();
    fake.runFor(10.0);
    EXPECT_EQ(target.fired, 1);
    kept->invalidate();
    kept->invalidate();
    fake.runFor(10.0);
    EXPECT_EQ(target.fired, 1);
    EXPECT_EQ(fake.trace(), (fake::Trace{
        Scheduled(0, 1, 1.0, fake::address(target)),
        Scheduled(0, 2, 2.0, fake::address(target)),
        Invalidated(0, 1),
        Fired(2, 2),
        Invalidated(10, 2),
        Invalidated(10, 2),
    }));
}

TEST(FakeLoop, TheLoopKeepsATimerAliveWhenTheCallerDropsIt) {
    fake::FakePlatform fake;
    CountingTarget target;
    platform::scheduledTimerWithTimeInterval(1.0, target, false).reset();
    fake.runFor(2.0);
    EXPECT_EQ(target.fired, 1);
}

TEST(FakeLoop, RepeatingTimerFiresEveryInterval) {
    fake::FakePlatform fake;
    CountingTarget target;
    auto timer = platform::scheduledTimerWithTimeInterval(2.0, target, true);
    fake.runFor(7.0);
    EXPECT_EQ(target.fired, 3);
    timer->invalidate();
    fake.runFor(7.0);
    EXPECT_EQ(target.fired, 3);
}

TEST(FakeLoop, PostedWorkRunsInOrderBeforeLaterTimersAndAfterEarlierOnes) {
    fake::FakePlatform fake;
    std::vector<std::string> order;
    struct Target final : platform::TimerTarget {
        std::vector<std::string>* order;
        explicit Target(std::vector<std::string>* o) : order(o) {}
        void fireTimer() override { order->push_back("timer"); }
    } target(&order);
    platform::scheduledTimerWithTimeInterval(1.0, target, false);
    platform::mainQueue().async([&] {
        order.push_back("first");
        platform::sleepForTimeInterval(2.0);  // blocks: the timer is late
    });
    platform::mainQueue().async([&] { order.push_back("second"); });
    fake.runUntilIdle();
    EXPECT_EQ(order, (std::vector<std::string>{"first", "second", "timer"}));
    EXPECT_EQ(fake.trace().back(), Fired(2, 1));  // fired late, when the loop got it
}

TEST(FakeLoop, RunUntilNoTasksRemainStopsAtTheBound) {
    fake::FakePlatform fake;
    CountingTarget target;
    platform::scheduledTimerWithTimeInterval(1.0, target, true);
    fake.runUntilNoTasksRemain(10.5);
    EXPECT_EQ(target.fired, 10);
    EXPECT_EQ(fake.pendingTaskCount(), 1u);
}

TEST(FakeLoop, AfterTerminateNothingRuns) {
    fake::FakePlatform fake;
    CountingTarget target;
    platform::scheduledTimerWithTimeInterval(1.0, target, false);
    int posted = 0;
    platform::mainQueue().async([&] { platform::terminate(&posted); });
    platform::mainQueue().async([&] { ++posted; });
    fake.runFor(5.0);
    EXPECT_TRUE(fake.ended());
    EXPECT_EQ(posted, 0);
    EXPECT_EQ(target.fired, 0);
    EXPECT_EQ(fake.now(), 0.0);
    EXPECT_EQ(fake.trace(), (fake::Trace{Scheduled(0, 1, 1.0, fake::address(target)),
                                         fake::Terminate(0, &posted)}));
}

TEST(FakeHost, ReleaseComparisonIsByMajorMinorPatch) {
    fake::FakePlatform fake;
    fake.setRelease(12, 7, 6);
    EXPECT_TRUE(platform::isOperatingSystemAtLeastVersion({12, 0, 0}));
    EXPECT_TRUE(platform::isOperatingSystemAtLeastVersion({12, 7, 6}));
    EXPECT_FALSE(platform::isOperatingSystemAtLeastVersion({12, 7, 7}));
    EXPECT_FALSE(platform::isOperatingSystemAtLeastVersion({13, 0, 0}));
    EXPECT_TRUE(platform::isOperatingSystemAtLeastVersion({11, 99, 99}));
}

TEST(FakeHost, HomeIsAFreshTemporaryDirectoryRemovedAfterwards) {
    std::string home;
    {
        fake::FakePlatform fake;
        home = platform::homeDirectoryForCurrentUser();
        EXPECT_TRUE(std::filesystem::is_directory(home));
        EXPECT_TRUE(std::filesystem::is_empty(home));
        const char* realHome = std::getenv("HOME");
        EXPECT_TRUE(realHome == nullptr || home != realHome);
        fake.createActivityLog("x");
    }
    EXPECT_FALSE(std::filesystem::exists(home));
}

TEST(FakeTrace, ActivityLogWritesAppearInOrderWithTheTimeOfTheWrite) {
    fake::FakePlatform fake;
    fake.createActivityLog("old");
    platform::writeStandardOutput("a");
    std::ofstream(fake.activityLogPath(), std::ios::app) << "line";
    platform::sleepForTimeInterval(1.0);
    platform::writeStandardOutput("b");
    EXPECT_EQ(fake.trace(), (fake::Trace{fake::Stdout(0, "a"), fake::ActivityLog(0, "line"),
                                         fake::Stdout(1, "b")}));
}

TEST(FakeTrace, UnifiedLogKeepsFormatAndTypedArgumentsApart) {
    fake::FakePlatform fake;
    const std::string text = "%d";
    platform::osLog("x %@ %d", {std::string_view(text), std::int64_t{-3}});
    EXPECT_EQ(fake.trace(), (fake::Trace{fake::Log(0, "x %@ %d", {"%d", std::int64_t{-3}})}));
    EXPECT_NE(fake.trace()[0], fake::Log(0, "x %@ %d", {"%d", "-3"}));
}

}  // namespace
