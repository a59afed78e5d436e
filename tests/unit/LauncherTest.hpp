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

    // A trace entry at second s.
    static std::string at(int s, const std::string& what) { return std::to_string(s) + " " + what; }
    static std::string submitted(int s, bool activation) {
        return at(s, std::string("Submit ") + (activation ? "activation " : "deactivation ") +
                         dext() + " app main");
    }

    // Steps 1 to 6 of the launch sequence on a supported release, at t = 0.
    fake::Trace supportedLaunchStart() {
        return {"0 Stdout Running on Ventura or greater\n",
                "0 Release This version only runs on macOS Ventura and above. If you upgrade, "
                "please check for a new version",
                "0 Log file URL = %s | " + fileURL(), "0 Key \r"};
    }

    // A command-line launch up to its exit timer; `logged`: the activity log takes the lines.
    fake::Trace commandLineLaunch(const std::string& flag, bool logged = true) {
        const std::string start = flag == "-install"     ? "Start:installing driver\n"
                                  : flag == "-uninstall" ? "Start:uninstalling driver\n"
                                                         : "Start:installing driver interactive\n";
        const auto written = [&](int s, const std::string& text) {
            return logged ? fake::Trace{at(s, "ActivityLog " + line(s, text))} : fake::Trace{};
        };
        return concat(
            {supportedLaunchStart(),
             {"0 Log " + start},
             written(0, start),
             {"0 Status " + start.substr(6, start.size() - 7), submitted(1, flag != "-uninstall")},
             flag == "-installInteractive" ? fake::Trace{"1 Restart"} : fake::Trace{},
             {"1 Log Info:Command arguments="},
             written(1, "Info:Command arguments="),
             {"1 Stdout [\"" + programPath() + "\", \"" + flag + "\"]\n", "1 Scheduled #1 5 app"}});
    }

    // The three reports of each answer, in the order the launcher gives them, at second s.
    static fake::Trace succeeded(int s) {
        const std::string text =
            "Success:System extension operation successful. Please restart your computer.";
        return {at(s, "Log " + text), at(s, "Status " + text),
                at(s, "ActivityLog " + line(s, text))};
    }
    static fake::Trace failed(int s, const std::string& description) {
        const std::string text = "System extension request failed: ";
        return {at(s, "ActivityLog " + line(s, "Error:" + text + description)),
                at(s, "Log Error:" + text + "%@ | " + description),
                at(s, "Status " + text + description)};
    }
    static fake::Trace approval(int s, const std::string& identifier) {
        return {at(s, "ActivityLog " + line(s, "Info:System Extension " + identifier +
                                                   " requires user approval")),
                at(s, "Log Info:System Extension %@ requires user approval | " + identifier),
                at(s, "Status Extension " + identifier + " requires user approval")};
    }
    static fake::Trace replacing(int s, const std::string& identifier, const std::string& from,
                                 const std::string& to) {
        const std::string text = identifier + " version " + from + " with version " + to;
        return {at(s, "ActivityLog " + line(s, "Info:Replacing extension " + text)),
                at(s, "Log Info:Replacing extension %@ version %@ with version %@ | " + identifier +
                          " | " + from + " | " + to),
                at(s, "Status Replacing extension " + text)};
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
