// applicationMain as the launcher gets it, with a scripted delegate: every way
// out tells the delegate once and returns 0, work posted after the end is
// dropped, the arguments are the command line as given, and Qt's runtime
// directory is a private one. ctest runs each case in a process of its own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QWidget>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Application.hpp"
#include "platform/DispatchQueue.hpp"
#include "platform/Host.hpp"
#include "platform/Timer.hpp"

namespace {

std::string events;
std::function<void(platform::TimerTarget&)> onLaunch;

struct ScriptedDelegate final : platform::ApplicationDelegate, platform::TimerTarget {
    void setWindow(std::shared_ptr<platform::Window>) override {}
    void setQuitButton(std::shared_ptr<platform::Button>) override {}
    void setMessageBox(std::shared_ptr<platform::TextField>) override {}
    void setMacOSMessageBox(std::shared_ptr<platform::TextField>) override {}
    void loadDriverWithSender(const void* /*sender*/) override {}
    void disableDriverWithSender(const void* /*sender*/) override {}
    void applicationDidFinishLaunching() override { onLaunch(*this); }
    void fireTimer() override {
        events += "fire;";
        platform::terminate(*this);
        platform::terminate(*this);
    }
    void applicationWillTerminate() override { events += "willTerminate;"; }
};

// Runs applicationMain with `arguments`, `then` at the launch; the events the
// delegate saw, which must not change after the end.
std::string runWith(std::vector<std::string> arguments,
                    std::function<void(platform::TimerTarget&)> then) {
    // Where the runtime directory would be, one that everyone may write to.
    char temporary[] = "/tmp/veltrin-qt-test-XXXXXX";
    EXPECT_NE(::mkdtemp(temporary), nullptr);
    const std::string taken =
        std::string(temporary) + "/veltrin-runtime-" + std::to_string(::geteuid());
    EXPECT_EQ(::mkdir(taken.c_str(), 0700) | ::chmod(taken.c_str(), 0777), 0);
    ::setenv("TMPDIR", temporary, 1);
    ::unsetenv("XDG_RUNTIME_DIR");

    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    onLaunch = [&](platform::TimerTarget& target) {
        // Qt's own options (-platform, -reverse) are not Qt's here, and the
        // command line is reported as given, bytes that are not UTF-8 included.
        EXPECT_EQ(platform::processArguments(), arguments);
        then(target);
    };
    EXPECT_EQ(platform::applicationMain(static_cast<int>(arguments.size()), argv.data()), 0);
    // A worker that answers after the end finds the queue closed, not a destroyed application.
    const std::string seen = events;
    std::thread([] {
        platform::dispatchAsync(platform::mainQueue(), [] { events += "late;"; });
    }).join();
    EXPECT_EQ(events, seen);

    const std::string runtime =
        std::getenv("XDG_RUNTIME_DIR") ? std::getenv("XDG_RUNTIME_DIR") : "";
    struct stat made {};
    EXPECT_TRUE(runtime.starts_with(taken + "-") && ::lstat(runtime.c_str(), &made) == 0 &&
                (made.st_mode & 0777) == 0700)
        << runtime;
    std::filesystem::remove_all(temporary);
    return events;
}

// The delegate terminates twice from its timer; a longer timer is left over.
TEST(ApplicationMain, EndsOnceFromTheExitTimer) {
    EXPECT_EQ(runWith({"launcher", "-platform", "no-such-platform", "-install"},
                      [](platform::TimerTarget& target) {
                          platform::scheduledTimerWithTimeInterval(0.005, target, false);
                          platform::scheduledTimerWithTimeInterval(3600.0, target, false);
                      }),
              "fire;willTerminate;");
}

// Linux keeps no menu to quit from: closing the window is the user's quit.
TEST(ApplicationMain, EndsOnceWhenTheWindowIsClosed) {
    EXPECT_EQ(
        runWith({"launcher", "\xff\xfe", "-reverse", "", "-install"},
                [](platform::TimerTarget&) { QApplication::topLevelWidgets().value(0)->close(); }),
        "willTerminate;");
}

}  // namespace

std::unique_ptr<platform::ApplicationDelegate> platform::instantiateLayoutDelegate() {
    return std::make_unique<ScriptedDelegate>();
}
