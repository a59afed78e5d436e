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
    RecordingTarget() { clock.start(); }
    void fireTimer() override {
        firedAfter.push_back(clock.nsecsElapsed());
        if (onFire) {
            onFire();
        }
    }
    QElapsedTimer clock;
    std::vector<qint64> firedAfter;
    std::function<void()> onFire;
};

// Runs the loop for a while, so that whatever is due has its chance to run.
void runLoopFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// The logic may drop its reference to a timer that must still fire.
TEST(Timers, FireOnceAndNeverBeforeTheirTimeEvenWhenTheirReferenceIsDropped) {
    for (const double seconds : {0.0015, 0.004, 0.0201}) {
        RecordingTarget target;
        platform::scheduledTimerWithTimeInterval(seconds, target, false);
        runLoopFor(static_cast<int>(seconds * 1000) + 30);
        ASSERT_EQ(target.firedAfter.size(), 1u) << seconds;
        EXPECT_GE(target.firedAfter[0], static_cast<qint64>(seconds * 1e9)) << seconds;
    }
}

TEST(Timers, InvalidateStopsOnlyItsOwnTimerWhenEverItIsCalled) {
    RecordingTarget cancelled;
    RecordingTarget kept;
    RecordingTarget selfInvalidating;
    auto first = platform::scheduledTimerWithTimeInterval(0.002, cancelled, false);
    auto second = platform::scheduledTimerWithTimeInterval(0.004, kept, false);
    std::shared_ptr<platform::Timer> third;
    selfInvalidating.onFire = [&] { third->invalidate(); };
    third = platform::scheduledTimerWithTimeInterval(0.001, selfInvalidating, false);
    first->invalidate();
    first->invalidate();
    runLoopFor(30);
    EXPECT_EQ(cancelled.firedAfter.size(), 0u);
    EXPECT_EQ(kept.firedAfter.size(), 1u);
    EXPECT_EQ(selfInvalidating.firedAfter.size(), 1u);

    // Qt hands the id of a finished timer to the next one; the old timer's
    // invalidate must not reach the new one.
    RecordingTarget late;
    auto pending = platform::scheduledTimerWithTimeInterval(0.005, late, false);
    second->invalidate();
    third->invalidate();
    runLoopFor(30);
    EXPECT_EQ(late.firedAfter.size(), 1u);
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
    std::vector<int> inOrder(perThread);
    for (int i = 0; i < perThread; ++i) {
        inOrder[static_cast<std::size_t>(i)] = i;
    }
    for (const auto& sequence : seen) {
        EXPECT_EQ(sequence, inOrder);
    }
}

// A hang here is caught by the test's time limit.
TEST(Pause, BlocksTheMainThreadWithoutRunningPostedWorkOrDueTimers) {
    platform::sleepForTimeInterval(0.0);
    platform::sleepForTimeInterval(-5.0);
    platform::sleepForTimeInterval(std::numeric_limits<double>::quiet_NaN());
    bool posted = false;
    RecordingTarget target;
    platform::scheduledTimerWithTimeInterval(0.001, target, false);
    platform::mainQueue().async([&] { posted = true; });
    QElapsedTimer clock;
    clock.start();
    platform::sleepForTimeInterval(0.02);
    EXPECT_GE(clock.nsecsElapsed(), 20'000'000);
    EXPECT_FALSE(posted);
    EXPECT_TRUE(target.firedAfter.empty());
    runLoopFor(10);
    EXPECT_TRUE(posted);
    EXPECT_EQ(target.firedAfter.size(), 1u);
}

}  // namespace
