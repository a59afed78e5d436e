// Timers, the main queue and the pause on the real Qt loop, and the key of the
// quit button. Short real timers of a few milliseconds: the earliest moment is
// asserted exactly, the latest only with a margin a busy machine keeps.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <cstdlib>
#include <functional>
#include <numeric>
#include <thread>
#include <vector>

#include "platform/Application.hpp"
#include "platform/DispatchQueue.hpp"
#include "platform/Timer.hpp"
#include "platform/qt/Outlets.hpp"

namespace {

struct RecordingTarget final : platform::TimerTarget {
    RecordingTarget() { clock.start(); }
    void fireTimer() override {
        firedAfter.push_back(clock.nsecsElapsed());
        onFire();
    }
    QElapsedTimer clock;
    std::vector<qint64> firedAfter;
    std::function<void()> onFire = [] {};
};

void runLoopFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// Never early, and once, also when the logic drops its reference; invalidate
// stops only its own timer, whenever it is called.
TEST(Timers, FireOnceNeverEarlyAndInvalidateStopsOnlyTheirOwn) {
    // Under a millisecond, and just short of the next one: an interval rounded down
    // fires at once or almost a millisecond early, which even a busy machine shows.
    for (const double seconds : {0.0009, 0.0019, 0.0201}) {
        RecordingTarget target;
        platform::scheduledTimerWithTimeInterval(seconds, target, false);
        runLoopFor(static_cast<int>(seconds * 1000) + 30);
        ASSERT_EQ(target.firedAfter.size(), 1u) << seconds;
        EXPECT_GE(target.firedAfter[0], static_cast<qint64>(seconds * 1e9)) << seconds;
    }
    RecordingTarget cancelled;
    RecordingTarget kept;
    RecordingTarget selfInvalidating;
    auto first = platform::scheduledTimerWithTimeInterval(0.002, cancelled, false);
    platform::scheduledTimerWithTimeInterval(0.004, kept, false);
    auto third = platform::scheduledTimerWithTimeInterval(0.001, selfInvalidating, false);
    selfInvalidating.onFire = [&] { third->invalidate(); };
    first->invalidate();
    first->invalidate();
    runLoopFor(30);
    EXPECT_EQ((std::vector{cancelled.firedAfter.size(), kept.firedAfter.size(),
                           selfInvalidating.firedAfter.size()}),
              (std::vector<std::size_t>{0, 1, 1}));
}

// Work from other threads runs on the main thread in the order each posted it;
// the pause blocks that thread: neither posted work nor a due timer runs before
// it ends.
TEST(MainQueue, WorkFromOtherThreadsRunsOnTheMainThreadInOrderButNotDuringAPause) {
    std::vector<std::vector<int>> seen(2);
    auto post = [&seen, mainThread = std::this_thread::get_id()](std::size_t thread) {
        for (int i = 0; i < 500; ++i) {
            platform::dispatchAsync(platform::mainQueue(), [&seen, mainThread, thread, i] {
                seen[thread].push_back(std::this_thread::get_id() == mainThread ? i : -1);
            });
        }
    };
    std::thread first(post, 0);
    std::thread second(post, 1);
    first.join();
    second.join();
    RecordingTarget target;
    platform::scheduledTimerWithTimeInterval(0.001, target, false);
    platform::sleepForTimeInterval(0.02);
    EXPECT_GE(target.clock.nsecsElapsed(), 20'000'000);
    EXPECT_EQ(seen, std::vector<std::vector<int>>(2));
    EXPECT_TRUE(target.firedAfter.empty());

    runLoopFor(10);
    EXPECT_EQ(target.firedAfter.size(), 1u);
    std::vector<int> inOrder(500);
    std::iota(inOrder.begin(), inOrder.end(), 0);
    EXPECT_EQ(seen, std::vector<std::vector<int>>(2, inOrder));
}

// The carriage return is the Return key alone, not the keypad's Enter.
TEST(QuitButton, CarriageReturnBindsTheReturnKeyOnly) {
    QWidget window;
    auto* button = new QPushButton(&window);
    platform::qt::QtButton(button).setKeyEquivalent("\r");
    QList<QKeySequence> keys;
    for (const QShortcut* shortcut : window.findChildren<QShortcut*>()) {
        keys.append(shortcut->key());
    }
    EXPECT_EQ(keys, QList<QKeySequence>{QKeySequence(Qt::Key_Return)});
    EXPECT_TRUE(button->isDefault());
}

}  // namespace

// No test here runs applicationMain, so there is no layout delegate.
std::unique_ptr<platform::ApplicationDelegate> platform::instantiateLayoutDelegate() {
    return nullptr;
}

// One QApplication for the whole run, on the offscreen platform, and a system bus
// that cannot be the machine's.
int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent", 1);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
