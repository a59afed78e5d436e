// The fixture of the scenario tests: a fresh fake platform and a clean launcher
// state for every test, and the pieces that most expected traces share.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "DextIdentifier.hpp"  // generated
#include "fake/FakePlatform.hpp"
#include "fake/LauncherReset.hpp"
#include "veltrin_Driverkit_Launcher/AppDelegate.hpp"

namespace fake {
// So that a failing EXPECT_EQ on two traces prints them one event a line.
inline void PrintTo(const Trace& trace, std::ostream* out) {
    *out << "\n" << describe(trace);
}
}  // namespace fake

class LauncherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::resetLauncherState();
        const char* realHome = std::getenv("HOME");  // never the real home directory
        ASSERT_TRUE(realHome == nullptr || fake.home() != realHome);
    }
    void TearDown() override { fake::resetLauncherState(); }

    launcher::AppDelegate& app() {
        auto* delegate = dynamic_cast<launcher::AppDelegate*>(fake.delegate());
        if (delegate == nullptr) {
            throw std::logic_error("the launcher has not been launched");
        }
        return *delegate;
    }
    // Addresses as the trace keeps them.
    const void* appAddress() { return fake::address(app()); }
    const void* queueAddress() { return fake::address(platform::mainQueue()); }

    std::string fileURL() const { return "file://" + fake.home() + "/veltrinLogFile.txt"; }
    static std::string dext() { return std::string(launcher::dextIdentifier); }

    // The activity-log stamp of virtual second s (start 05/12/2026 07:41:39, s < 16 h).
    static std::string stamp(int s) {
        const int t = 7 * 3600 + 41 * 60 + 39 + s;
        char text[32];
        std::snprintf(text, sizeof text, "05/12/2026 %02d:%02d:%02d", t / 3600, t / 60 % 60,
                      t % 60);
        return text;
    }
    static std::string line(int s, const std::string& text) {
        return stamp(s) + ":" + text + "\r\n";
    }

    static std::string programPath() { return std::string(fake::FakePlatform::programPath); }

    // Steps 1 to 6 of the launch sequence on a supported release, at t = 0.
    fake::Trace supportedLaunchStart() {
        return {
            fake::Stdout(0, "Running on Ventura or greater\n"),
            fake::Release(0,
                          "This version only runs on macOS Ventura and above. If you upgrade, "
                          "please check for a new version"),
            fake::Log(0, "file URL = %s", {fileURL()}),
            fake::Key(0, "\r"),
        };
    }

    // A command-line launch up to its exit timer; `logged`: the activity log takes the lines.
    fake::Trace commandLineLaunch(const std::string& flag, const std::string& start,
                                  const std::string& status, platform::RequestKind kind,
                                  bool logged = true) {
        const auto written = [&](int s, const std::string& text) {
            return logged ? fake::Trace{fake::ActivityLog(s, line(s, text))} : fake::Trace{};
        };
        const fake::Trace restart =
            flag == "-installInteractive" ? fake::Trace{fake::Restart(1)} : fake::Trace{};
        return concat(
            {supportedLaunchStart(),
             {fake::Log(0, start)},
             written(0, start),
             {fake::Status(0, status), fake::Submit(1, kind, dext(), appAddress(), queueAddress())},
             restart,
             {fake::Log(1, "Info:Command arguments=")},
             written(1, "Info:Command arguments="),
             {fake::Stdout(1, "[\"" + programPath() + "\", \"" + flag + "\"]\n"),
              fake::Scheduled(1, 1, 5.0, appAddress())}});
    }
    fake::Trace installLaunch(bool logged = true) {
        return commandLineLaunch("-install", "Start:installing driver\n", "installing driver",
                                 platform::RequestKind::activation, logged);
    }

    // The three reports of each answer, in the order the launcher gives them, at second s.
    static fake::Trace succeeded(int s) {
        const std::string text =
            "Success:System extension operation successful. Please restart your computer.";
        return {fake::Log(s, text), fake::Status(s, text), fake::ActivityLog(s, line(s, text))};
    }
    static fake::Trace failed(int s, const std::string& description) {
        return {
            fake::ActivityLog(s, line(s, "Error:System extension request failed: " + description)),
            fake::Log(s, "Error:System extension request failed: %@", {description}),
            fake::Status(s, "System extension request failed: " + description)};
    }
    static fake::Trace approval(int s, const std::string& identifier) {
        return {fake::ActivityLog(
                    s, line(s, "Info:System Extension " + identifier + " requires user approval")),
                fake::Log(s, "Info:System Extension %@ requires user approval", {identifier}),
                fake::Status(s, "Extension " + identifier + " requires user approval")};
    }
    static fake::Trace replacing(int s, const std::string& identifier, const std::string& from,
                                 const std::string& to) {
        const std::string text = identifier + " version " + from + " with version " + to;
        return {fake::ActivityLog(s, line(s, "Info:Replacing extension " + text)),
                fake::Log(s, "Info:Replacing extension %@ version %@ with version %@",
                          {identifier, from, to}),
                fake::Status(s, "Replacing extension " + text)};
    }

    static fake::Trace concat(std::initializer_list<fake::Trace> parts) {
        fake::Trace all;
        for (const auto& part : parts) {
            all.insert(all.end(), part.begin(), part.end());
        }
        return all;
    }

    fake::FakePlatform fake;
};
