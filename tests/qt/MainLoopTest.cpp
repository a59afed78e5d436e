// Timers, the main queue and the pause on the real Qt loop. Short real timers
// of a few milliseconds; only lower bounds of time are asserted.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <functional>
#include <limits>
#include <thread>
#include <vector>

#include "platform/DispatchQueue.hpp"
#include "platform/Timer.hpp"

namespace {

struct RecordingTarget final : platform::TimerTarget {
    void fireTimer() override {
        ++fired;
        elapsedAtFire.push_back(clock.nsecsElapsed());
        if (onFire) {
            onFire();
        }
    }
    QElapsedTimer clock;
    int fired = 0;
    std::vector<qint64> elapsedAtFire;
    std::function<void()> onFire;
};

// Runs the loop for a while, so that whatever is due has its chance to run.
void runLoopFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

TEST(Timers, NeverFireBeforeTheirTimeEvenForFractionsOfAMillisecond) {
    for (const double seconds : {0.0015, 0.004, 0.0201}) {
        RecordingTarget target;
        target.clock.start();
        auto timer = platform::scheduledTimerWithTimeInterval(seconds, target, false);
        runLoopFor(static_cast<int>(seconds * 1000) + 30);
        ASSERT_EQ(target.fired, 1) << seconds;
        EXPECT_GE(target.elapsedAtFire[0], static_cast<qint64>(seconds * 1e9)) << seconds;
    }
}

TEST(Timers, ATimerWhoseReferenceIsDroppedStillFiresOnce) {
    RecordingTarget target;
    target.clock.start();
    platform::scheduledTimerWithTimeInterval(0.002, target, false);
    runLoopFor(30);
    EXPECT_EQ(target.fired, 1);
}

TEST(Timers, AnInvalidatedTimerNeverFiresAndTheOthersStillDo) {
    RecordingTarget cancelled;
    RecordingTarget kept;
    auto first = platform::scheduledTimerWithTimeInterval(0.002, cancelled, false);
    auto second = platform::scheduledTimerWithTimeInterval(0.004, kept, false);
    first->invalidate();
    first->invalidate();
    runLoopFor(30);
    EXPECT_EQ(cancelled.fired, 0);
    EXPECT_EQ(kept.fired, 1);
}

TEST(Timers, InvalidatingATimerInsideItsOwnCallbackIsHarmless) {
    RecordingTarget target;
    std::shared_ptr<platform::Timer> timer;
    target.onFire = [&] { timer->invalidate(); };
    timer = platform::scheduledTimerWithTimeInterval(0.001, target, false);
    runLoopFor(20);
    EXPECT_EQ(target.fired, 1);
}

// Qt hands the id of a finished timer to the next one; the old timer's
// invalidate must not reach the new one.
TEST(Timers, InvalidatingAFiredTimerLeavesLaterTimersAlone) {
    QEventLoop loop;
    RecordingTarget early;
    early.onFire = [&] { loop.quit(); };
    auto fired = platform::scheduledTimerWithTimeInterval(0.001, early, false);
    loop.exec();
    ASSERT_EQ(early.fired, 1);
    // Scheduled while the id of the fired timer is the first one free.
    RecordingTarget late;
    auto pending = platform::scheduledTimerWithTimeInterval(0.005, late, false);
    fired->invalidate();
    runLoopFor(30);
    EXPECT_EQ(late.fired, 1);
}

TEST(MainQueue, WorkFromManyThreadsRunsOnTheMainThreadInTheOrderEachPostedIt) {
    constexpr int threads = 4;
    constexpr int perThread = 500;
    std::vector<std::vector<int>> seen(threads);
    int offMainThread = 0;
    const auto mainThread = std::this_thread::get_id();
    std::vector<std::thread> posters;
    for (int t = 0; t < threads; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                platform::mainQueue().async([&, t, i] {
                    offMainThread += std::this_thread::get_id() != mainThread ? 1 : 0;
                    seen[static_cast<std::size_t>(t)].push_back(i);
                });
            }
        });
    }
    for (auto& poster : posters) {
        poster.join();
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(offMainThread, 0);
    for (const auto& sequence : seen) {
        ASSERT_EQ(sequence.size(), static_cast<std::size_t>(perThread));
        for (int i = 0; i < perThread; ++i) {
            EXPECT_EQ(sequence[static_cast<std::size_t>(i)], i);
        }
    }
}

TEST(Pause, BlocksTheMainThreadWithoutRunningPostedWorkOrDueTimers) {
    bool posted = false;
    RecordingTarget target;
    auto timer = platform::scheduledTimerWithTimeInterval(0.001, target, false);
    platform::mainQueue().async([&] { posted = true; });
    QElapsedTimer clock;
    clock.start();
    platform::sleepForTimeInterval(0.02);
    EXPECT_GE(clock.nsecsElapsed(), 20'000'000);
    EXPECT_FALSE(posted);
    EXPECT_EQ(target.fired, 0);
    runLoopFor(10);
    EXPECT_TRUE(posted);
    EXPECT_EQ(target.fired, 1);
}

// A hang here is caught by the test's time limit.
TEST(Pause, NoTimeToWaitReturns) {
    platform::sleepForTimeInterval(0.0);
    platform::sleepForTimeInterval(-5.0);
    platform::sleepForTimeInterval(std::numeric_limits<double>::quiet_NaN());
}

}  // namespace
