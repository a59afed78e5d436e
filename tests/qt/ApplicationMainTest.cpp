// applicationMain as the launcher gets it: the layout's delegate is connected
// before the launch, and every way out (timer, Quit button, closing the window)
// tells the delegate once and returns 0. One application per process: ctest
// runs each case in a process of its own.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <cstdlib>
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
    void setWindow(std::shared_ptr<platform::Window> window) override { outlet(window); }
    void setQuitButton(std::shared_ptr<platform::Button> button) override { outlet(button); }
    void setMessageBox(std::shared_ptr<platform::TextField> field) override { outlet(field); }
    void setMacOSMessageBox(std::shared_ptr<platform::TextField> field) override { outlet(field); }
    void loadDriverWithSender(const void* /*sender*/) override { events += "load;"; }
    void disableDriverWithSender(const void* /*sender*/) override { events += "disable;"; }

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
    template <typename Outlet>
    void outlet(const std::shared_ptr<Outlet>& value) {
        outlets_ += value ? 1 : 0;
    }
    int outlets_ = 0;
};

QWidget* launcherWindow() {
    return QApplication::topLevelWidgets().value(0);
}

int runApplication(std::vector<std::string> arguments = {"launcher"}) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    return platform::applicationMain(static_cast<int>(arguments.size()), argv.data());
}

TEST(ApplicationMain, AnExitTimerEndsItOnceWithStatusZero) {
    onLaunch = [](platform::TimerTarget& target) {
        platform::scheduledTimerWithTimeInterval(0.005, target, false);
    };
    EXPECT_EQ(runApplication(), 0);
    EXPECT_EQ(events, "launch(4 outlets);fire;willTerminate;");
}

TEST(ApplicationMain, TheQuitButtonEndsIt) {
    onLaunch = [](platform::TimerTarget&) {
        launcherWindow()->findChild<QPushButton*>(QStringLiteral("quitButton"))->click();
    };
    EXPECT_EQ(runApplication(), 0);
    EXPECT_EQ(events, "launch(4 outlets);willTerminate;");
}

TEST(ApplicationMain, ClosingTheWindowEndsIt) {
    onLaunch = [](platform::TimerTarget&) { launcherWindow()->close(); };
    EXPECT_EQ(runApplication(), 0);
    EXPECT_EQ(events, "launch(4 outlets);willTerminate;");
}

TEST(ApplicationMain, TheButtonsReachTheDelegateAndTimersLeftOverDoNotOutliveIt) {
    onLaunch = [](platform::TimerTarget& target) {
        QWidget* window = launcherWindow();
        window->findChild<QPushButton*>(QStringLiteral("loadButton"))->click();
        window->findChild<QPushButton*>(QStringLiteral("disableButton"))->click();
        platform::scheduledTimerWithTimeInterval(3600.0, target, false);
        platform::mainQueue().async([] { platform::terminate(nullptr); });
    };
    EXPECT_EQ(runApplication(), 0);
    EXPECT_EQ(events, "launch(4 outlets);load;disable;willTerminate;");
    // A worker that answers after the end finds the queue closed, not a
    // destroyed application.
    std::thread([] { platform::mainQueue().async([] { events += "late;"; }); }).join();
    EXPECT_EQ(events, "launch(4 outlets);load;disable;willTerminate;");
}

// Qt takes the options it knows (-reverse) out of argv; the launcher reports
// the command line as it was given, bytes that are not UTF-8 included.
TEST(ApplicationMain, TheArgumentsAreTheCommandLineAsGivenBeforeQtSawIt) {
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
