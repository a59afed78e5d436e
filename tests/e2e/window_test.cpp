// The real window under a private X server, driven by real key presses through
// XTEST (xdotool): what a user at the keyboard gets. Keys rather than mouse
// positions, so that a change of the layout's sizes does not break the cases;
// the focus order Load, Disable, Quit is the layout's.
#include <algorithm>
#include <csignal>
#include <string>

#include "E2eTest.hpp"

namespace e2e {
namespace {

using namespace std::chrono_literals;

class Window : public E2eTest {
  protected:
    static void SetUpTestSuite() {
        E2eTest::SetUpTestSuite();
        const std::string xvfb = findProgram("Xvfb");
        ASSERT_NE(xvfb, "") << "Xvfb is missing (Debian package xvfb)";
        ASSERT_NE(findProgram("xdotool"), "") << "xdotool is missing (Debian package xdotool)";
        xDirectory_ = makeScratchDirectory("veltrin-e2e-x");
        std::string error;
        // -displayfd: the server picks a free display and names it on stdout.
        server_ = Child::spawn(
            {xvfb, "-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp", "-noreset"},
            {{"PATH", "/usr/bin:/bin"}}, (xDirectory_ / "xvfb.stderr").string(), error);
        ASSERT_TRUE(server_) << error;
        const auto deadline = Clock::now() + 10s;
        while (display_.empty() && Clock::now() < deadline) {
            const auto lines = server_->lines();
            if (!lines.empty() && lines.front().text.back() == '\n') {
                display_ = ":" + lines.front().text.substr(0, lines.front().text.size() - 1);
            } else if (server_->waitForExit(Seconds(0.02))) {
                break;
            }
        }
        ASSERT_NE(display_, "") << "Xvfb named no display";
    }

    static void TearDownTestSuite() {
        if (server_) {
            server_->sendSignal(SIGTERM);
            server_->finish(5s);
            server_.reset();
        }
        std::filesystem::remove_all(xDirectory_);
        E2eTest::TearDownTestSuite();
    }

    Environment windowEnvironment() const {
        auto env = environment();
        env.erase("QT_QPA_PLATFORM");
        env["DISPLAY"] = display_;
        return env;
    }

    std::string xdotool(const std::vector<std::string>& args) {
        std::vector<std::string> argv{findProgram("xdotool")};
        argv.insert(argv.end(), args.begin(), args.end());
        std::string error;
        auto child = Child::spawn(argv, {{"DISPLAY", display_}},
                                  (scratch() / "xdotool.stderr").string(), error);
        if (!child) {
            ADD_FAILURE() << error;
            return {};
        }
        const ExitStatus status = child->finish(15s);
        EXPECT_TRUE(status.exited && status.code == 0) << "xdotool failed";
        return child->output();
    }

    // Starts the launcher in interactive use, waits until its launch sequence is
    // done and its window has the keyboard focus.
    std::unique_ptr<Child> openWindow() {
        auto child = launch({}, windowEnvironment());
        if (!child) {
            return nullptr;
        }
        if (!child->waitForLine(argumentReport({}), 10s)) {
            ADD_FAILURE() << "no argument report: " << child->output();
            showStderr("launcher");
            return child;
        }
        const std::string found =
            xdotool({"search", "--sync", "--onlyvisible", "--pid", std::to_string(child->pid())});
        const std::string window = found.substr(0, found.find('\n'));
        EXPECT_NE(window, "") << "no visible window of the launcher";
        xdotool({"windowfocus", "--sync", window});
        return child;
    }

    static inline std::filesystem::path xDirectory_;
    static inline std::unique_ptr<Child> server_;
    static inline std::string display_;
};

TEST_F(Window, ReturnQuitsWhicheverButtonHasTheFocus) {
    createEmptyLog();
    const std::time_t from = std::time(nullptr);
    auto child = openWindow();
    ASSERT_TRUE(child);
    ASSERT_FALSE(HasFailure());
    // Load holds the focus now: Return must still mean Quit, not Load.
    xdotool({"key", "Return"});
    const auto pressed = Clock::now();
    const ExitStatus status = child->finish(10s);
    EXPECT_TRUE(status.exited && status.code == 0) << status.signal;
    EXPECT_LT(secondsBetween(pressed, status.at), 2.0);
    EXPECT_EQ(child->output(), supportedReleaseLine + argumentReport({}));
    expectLog({"Info:Command arguments="}, from, std::time(nullptr));
}

TEST_F(Window, LoadAndDisableSubmitTheirRequests) {
    createEmptyLog();
    const std::time_t from = std::time(nullptr);
    auto child = openWindow();
    ASSERT_TRUE(child);
    ASSERT_FALSE(HasFailure());

    xdotool({"key", "space"});
    ASSERT_TRUE(waitForLogText(approvalText, 10s)) << "Load submitted no activation\n" << readLog();
    xdotool({"key", "Tab", "space"});
    ASSERT_TRUE(waitForLogText(successText, 10s)) << "Disable submitted no deactivation\n"
                                                  << readLog();
    // Interactive use: no exit timer, the window stays until the user quits.
    EXPECT_FALSE(child->waitForExit(1s));
    xdotool({"key", "Return"});
    const ExitStatus status = child->finish(10s);
    EXPECT_TRUE(status.exited && status.code == 0) << status.signal;
    EXPECT_EQ(child->output(), supportedReleaseLine + argumentReport({}));
    // The deactivation removes the extension whose activation waits for
    // approval, so that one fails too; the two answers come from two workers,
    // in either order.
    auto texts = logTexts(from, std::time(nullptr));
    ASSERT_EQ(texts.size(), 4u) << ::testing::PrintToString(texts);
    std::sort(texts.begin() + 2, texts.end());
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "Info:Command arguments=", approvalText,
                         failurePrefix + "The request for " + dextIdentifier +
                             " was canceled while it waited for approval: the extension was "
                             "removed or the service was reset.",
                         successText}));
}

}  // namespace
}  // namespace e2e
