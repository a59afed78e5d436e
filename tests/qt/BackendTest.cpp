// What only the Qt backend does, on the real Qt loop: timers, the main queue, the
// pause, the quit button's key, the home directory of both Linux builds
// (platform/posix) and the system log as syslog receives it. Short real timers of a
// few milliseconds: the earliest moment is asserted exactly, the latest only with a
// margin a busy machine keeps.
#include <gtest/gtest.h>
#include <pwd.h>
#include <syslog.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <functional>
#include <ranges>
#include <thread>
#include <vector>

#include "platform/Application.hpp"
#include "platform/DispatchQueue.hpp"
#include "platform/Host.hpp"
#include "platform/Timer.hpp"
#include "platform/UnifiedLog.hpp"
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

// Never early, and once unless asked to repeat, also when the logic drops its
// reference; invalidate stops only its own timer, whenever it is called.
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
    RecordingTarget cancelled, kept, selfInvalidating, repeating;
    auto repeatingTimer = platform::scheduledTimerWithTimeInterval(0.001, repeating, true);
    repeating.onFire = [&] {
        if (repeating.firedAfter.size() == 3)
            repeatingTimer->invalidate();
    };
    auto first = platform::scheduledTimerWithTimeInterval(0.002, cancelled, false);
    platform::scheduledTimerWithTimeInterval(0.004, kept, false);
    auto third = platform::scheduledTimerWithTimeInterval(0.001, selfInvalidating, false);
    selfInvalidating.onFire = [&] { third->invalidate(); };
    first->invalidate();
    first->invalidate();
    runLoopFor(30);
    EXPECT_EQ((std::vector{cancelled.firedAfter.size(), kept.firedAfter.size(),
                           selfInvalidating.firedAfter.size(), repeating.firedAfter.size()}),
              (std::vector<std::size_t>{0, 1, 1, 3}));
}

// Work from another thread runs on the main thread in the order it was posted;
// the pause blocks that thread: neither posted work nor a due timer runs before
// it ends.
TEST(MainQueue, WorkFromAnotherThreadRunsOnTheMainThreadInOrderButNotDuringAPause) {
    std::vector<int> seen;
    std::thread([&seen, mainThread = std::this_thread::get_id()] {
        for (int i = 0; i < 100; ++i) {
            platform::dispatchAsync(platform::mainQueue(), [&seen, mainThread, i] {
                seen.push_back(std::this_thread::get_id() == mainThread ? i : -1);
            });
        }
    }).join();
    RecordingTarget target;
    platform::scheduledTimerWithTimeInterval(0.001, target, false);
    platform::sleepForTimeInterval(0.02);
    EXPECT_GE(target.clock.nsecsElapsed(), 20'000'000);
    EXPECT_TRUE(seen.empty() && target.firedAfter.empty());
    runLoopFor(10);
    EXPECT_EQ(target.firedAfter.size(), 1u);
    EXPECT_TRUE(std::ranges::equal(seen, std::views::iota(0, 100)));
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

TEST(HomeDirectory, IsAnAbsoluteHomeElseThePasswordDatabase) {
    const passwd* entry = ::getpwuid(::getuid());
    const std::string database = entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "/";
    ASSERT_EQ(database.front(), '/');
    for (const char* home :
         {"/tmp/some where/ü", "", "relative/dir", static_cast<const char*>(nullptr)}) {
        static_cast<void>(home != nullptr ? ::setenv("HOME", home, 1) : ::unsetenv("HOME"));
        EXPECT_EQ(platform::homeDirectoryForCurrentUser(),
                  home != nullptr && home[0] == '/' ? home : database)
            << (home != nullptr ? home : "unset");
    }
}

std::vector<std::string> logged;

TEST(UnifiedLog, IsSyslogOfUserNoticesWithTheTextAsAnArgumentNeverAsTheFormat) {
    platform::osLog("Error:System extension request failed: %@", {"50%s %n of it"});
    platform::osLog("Start:installing driver\n", {});
    const std::string notice = std::to_string(LOG_NOTICE) + " %s ";
    EXPECT_EQ(logged, (std::vector<std::string>{
                          "openlog " + std::string(program_invocation_short_name) + ' ' +
                              std::to_string(LOG_PID) + ' ' + std::to_string(LOG_USER),
                          notice + "Error:System extension request failed: 50%s %n of it",
                          notice + "Start:installing driver\n"}));
}

}  // namespace

// This executable's own, which the linker takes before the C library's: what the
// backend hands the system log, recorded. Only "%s" is read as a format here.
extern "C" void openlog(const char* ident, int option, int facility) {
    logged.push_back("openlog " + std::string(ident) + ' ' + std::to_string(option) + ' ' +
                     std::to_string(facility));
}

extern "C" void syslog(int priority, const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    logged.push_back(std::to_string(priority) + ' ' + format + ' ' +
                     (std::string(format) == "%s" ? va_arg(arguments, const char*) : ""));
    va_end(arguments);
}

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
