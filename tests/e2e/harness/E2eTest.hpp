// What every end-to-end and load case shares: a scratch home and state directory
// of its own, the private system bus of its suite, and the ways to run the
// launcher and sysextctl and to read what they left behind.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "Child.hpp"
#include "PrivateBus.hpp"

namespace e2e {

// The Linux build's launcher, or the binary VELTRIN_E2E_APP names (the GNUstep
// build, run on the X display VELTRIN_E2E_DISPLAY).
inline const std::string launcherPath = std::getenv("VELTRIN_E2E_APP") != nullptr
                                            ? std::getenv("VELTRIN_E2E_APP")
                                            : VELTRIN_E2E_LAUNCHER;
inline const std::string dextIdentifier = VELTRIN_E2E_DEXT_IDENTIFIER;
inline const std::string dextVersion = VELTRIN_E2E_DEXT_VERSION;

// Standard output of a supported release, before the argument report.
inline const std::string supportedReleaseLine = "Running on Ventura or greater\n";

// Activity-log texts of the service's answers to the build's extension.
inline const std::string successText =
    "Success:System extension operation successful. Please restart your computer.";
inline const std::string afterRebootText =
    "Success:System extension operation will complete after reboot. Please restart your "
    "computer.";
inline const std::string approvalText =
    "Info:System Extension " + dextIdentifier + " requires user approval";
inline const std::string replacingPrefix =
    "Info:Replacing extension " + dextIdentifier + " version ";
inline const std::string failurePrefix = "Error:System extension request failed: ";
inline const std::string deniedDescription =
    "System policy forbids the extension " + dextIdentifier +
    ". Allow it with \"sysextctl policy " + dextIdentifier + " allow\" and try again.";
inline const std::string notInstalledDescription =
    "The extension " + dextIdentifier +
    " is not installed, so there is nothing to deactivate (\"sysextctl list\" shows what is "
    "installed).";
inline const std::string canceledDescription =
    "The request for " + dextIdentifier +
    " was canceled while it waited for approval: the extension was removed or the service was "
    "reset.";

// The argument report line for the launcher run with `flags`.
std::string argumentReport(const std::vector<std::string>& flags);

std::filesystem::path makeScratchDirectory(const std::string& prefix);
std::string readFile(const std::filesystem::path& path);

// The texts of an activity log's lines, checking that each ends in CR LF and
// bears a stamp between `from` and `to` (wall clock, local time).
std::vector<std::string> logTexts(const std::filesystem::path& log, std::time_t from,
                                  std::time_t to);

class E2eTest : public ::testing::Test {
  public:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    static PrivateBus* bus() { return bus_.get(); }

    // HOME, XDG_* and the system bus pointed into the scratch directory,
    // offscreen Qt, no display and no session bus.
    Environment environment() const;

    // Starts the launcher with `flags`. Refuses (test failure, nullptr) a run that
    // could reach a real restart request.
    std::unique_ptr<Child> launch(const std::vector<std::string>& flags,
                                  std::optional<Environment> environment = {});
    // Starts `argv` with `environment`, its standard error in the scratch
    // directory's `name`.stderr; a test failure when it cannot start.
    std::unique_ptr<Child> start(const std::vector<std::string>& argv,
                                 const Environment& environment, const std::string& name);
    // Runs sysextctl, which must succeed; its standard output.
    std::string control(const std::vector<std::string>& args);

    std::filesystem::path scratch() const { return root_; }
    std::filesystem::path home() const { return root_ / "home"; }
    std::filesystem::path logPath() const { return home() / "veltrinLogFile.txt"; }
    void createEmptyLog() const { std::ofstream(logPath(), std::ios::binary); }
    std::string readLog() const { return readFile(logPath()); }
    // When a line holding `text` is first seen in the activity log (`log`, when
    // not the scratch home's).
    std::optional<Clock::time_point> waitForLogText(const std::string& text, Seconds timeout,
                                                    const std::filesystem::path& log = {}) const;
    // The activity log holds exactly these texts, stamped between `from` and now.
    void expectLog(const std::vector<std::string>& texts, std::time_t from) const;

    // A run that ended by itself, status 0, about 6 s after `from` (the launch
    // pause and the exit timer; generous bounds, the machine is shared).
    void expectEndsAbout6sAfter(const ExitStatus& status, Clock::time_point from,
                                const char* fromWhat) const;

  private:
    static std::filesystem::path suiteRoot_;
    static std::unique_ptr<PrivateBus> bus_;
    std::filesystem::path root_;
    int launches_ = 0;
};

}  // namespace e2e
