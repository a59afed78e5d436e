// applicationMain as the launcher gets it, with a scripted delegate: every way
// out tells the delegate once and returns 0, work posted after the end is
// dropped, and the arguments are the command line as given. One application per
// process: ctest runs each case in a process of its own.
#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
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

class ScriptedDelegate final : public platform::ApplicationDelegate, public platform::TimerTarget {
  public:
    void setWindow(std::shared_ptr<platform::Window> value) override { outlets_ += value ? 1 : 0; }
    void setQuitButton(std::shared_ptr<platform::Button> value) override {
        outlets_ += value ? 1 : 0;
    }
    void setMessageBox(std::shared_ptr<platform::TextField> value) override {
        outlets_ += value ? 1 : 0;
    }
    void setMacOSMessageBox(std::shared_ptr<platform::TextField> value) override {
        outlets_ += value ? 1 : 0;
    }
    void loadDriverWithSender(const void* /*sender*/) override {}
    void disableDriverWithSender(const void* /*sender*/) override {}
    void applicationDidFinishLaunching() override {
        events += "launch(" + std::to_string(outlets_) + " outlets);";
        onLaunch(*this);
    }
    void fireTimer() override {
        events += "fire;";
        platform::terminate(this);
        platform::terminate(this);
    }
    void applicationWillTerminate() override { events += "willTerminate;"; }

  private:
    int outlets_ = 0;
};

int runApplication(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    return platform::applicationMain(static_cast<int>(arguments.size()), argv.data());
}

struct WayOut {
    const char* name;
    std::function<void(platform::TimerTarget&)> onLaunch;
    const char* events;
};

class ApplicationMain : public ::testing::TestWithParam<WayOut> {};

TEST_P(ApplicationMain, EndsOnceWithStatusZeroAndDropsLaterWork) {
    onLaunch = GetParam().onLaunch;
    EXPECT_EQ(runApplication({"launcher"}), 0);
    EXPECT_EQ(events, GetParam().events);
    // A worker that answers after the end finds the queue closed, not a
    // destroyed application.
    std::thread([] { platform::mainQueue().async([] { events += "late;"; }); }).join();
    EXPECT_EQ(events, GetParam().events);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, ApplicationMain,
    ::testing::Values(
        // The delegate terminates twice from its timer; a longer timer is left over.
        WayOut{"ExitTimer",
               [](platform::TimerTarget& target) {
                   platform::scheduledTimerWithTimeInterval(0.005, target, false);
                   platform::scheduledTimerWithTimeInterval(3600.0, target, false);
               },
               "launch(4 outlets);fire;willTerminate;"},
        // Linux keeps no menu to quit from: closing the window is the user's quit.
        WayOut{"ClosingTheWindow",
               [](platform::TimerTarget&) { QApplication::topLevelWidgets().value(0)->close(); },
               "launch(4 outlets);willTerminate;"}),
    [](const auto& param) { return std::string(param.param.name); });

// Qt takes the options it knows (-reverse) out of argv; the launcher reports
// the command line as it was given, bytes that are not UTF-8 included.
TEST(ApplicationArguments, AreTheCommandLineAsGivenBeforeQtSawIt) {
    const std::vector<std::string> given{"launcher", "\xff\xfe", "-reverse", "", "-install"};
    std::vector<std::string> seen;
    onLaunch = [&seen](platform::TimerTarget&) {
        seen = platform::processArguments();
        platform::terminate(nullptr);
    };
    EXPECT_EQ(runApplication(given), 0);
    EXPECT_EQ(seen, given);
}

}  // namespace

std::unique_ptr<platform::ApplicationDelegate> platform::instantiateLayoutDelegate() {
    return std::make_unique<ScriptedDelegate>();
}
