// The fixture of the unit tests: a fresh fake platform and a clean launcher
// state for every test, and expected traces written in a short notation.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "DextIdentifier.hpp"  // generated
#include "fake/FakePlatform.hpp"
#include "fake/LauncherReset.hpp"
#include "veltrin_Driverkit_Launcher/ArgumentReport.hpp"
#include "veltrin_Driverkit_Launcher/HelpText.hpp"
#include "veltrin_Driverkit_Launcher/LaunchModes.hpp"
#include "veltrin_Driverkit_Launcher/StatusReport.hpp"

class LauncherTest : public ::testing::Test {
  public:
    static std::string dext() { return std::string(launcher::dextIdentifier); }

    // Versions of the extension by their states, a letter each: e enabled, a
    // awaiting approval, u uninstalling, d none of these (disabled).
    static std::vector<platform::ExtensionProperties> versions(const std::string& states) {
        std::vector<platform::ExtensionProperties> made;
        for (const char state : states) {
            const std::string number = std::to_string(made.size() + 1);
            made.push_back(
                {dext(), number, "1." + number, state == 'e', state == 'a', state == 'u'});
        }
        return made;
    }

  protected:
    void SetUp() override {
        fake::resetLauncherState();
        const char* realHome = std::getenv("HOME");  // never the real home directory
        ASSERT_TRUE(realHome == nullptr || fake.home() != realHome);
    }
    void TearDown() override { fake::resetLauncherState(); }

    // The activity-log line of virtual second s (start 05/12/2026 07:41:39, s < 16 h).
    static std::string line(int s, const std::string& text) {
        const int t = 7 * 3600 + 41 * 60 + 39 + s;
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "05/12/2026 %02d:%02d:%02d:", t / 3600, t / 60 % 60,
                      t % 60);
        return stamp + text + "\r\n";
    }

    // The trace of every sink, token by token, each at its second t:
    //   L: the launch with `flags` on a supported release; Gt:name: the gate's
    //   refusal, after which no report reaches the activity log; Ht: the help;
    //   Vt:states: -status's lines for versions(states);
    //   At[:identifier], St, Rt, Ut:N, Ft:D, Pt:E:N: the three reports of an
    //   approval, a success, a success after reboot, unexpected result N, failure
    //   D, replacement of E by N; at: the answer replace; It:n, Tt:n, Xt:n: timer
    //   n invalidated, scheduled, fired; Qt, Bt: terminate by the launcher, by the
    //   quit button; Nat, Ndt: (de)activation submitted.
    // A field "$" stands for `outside`, "$!" for `outside` and "!". `options`
    // drops the sinks that are not there: quiet (default log type disabled),
    // bare (no outlets), nofile (no activity log).
    fake::Trace expand(const std::string& notation, const std::vector<std::string>& flags = {},
                       const std::string& options = "", const std::string& outside = "") {
        const auto has = [&](const char* option) { return options.find(option) != options.npos; };
        bool logged = !has("nofile");
        fake::Trace all;
        const auto put = [&](const std::string& t, const std::string& sink,
                             const std::string& what) {
            if (sink == "ActivityLog"
                    ? logged
                    : !has("bare") || (sink != "Status" && sink != "Release" && sink != "Key")) {
                all.push_back(t + " " + sink + (what.empty() ? "" : " ") +
                              (sink == "ActivityLog" ? line(std::stoi(t), what) : what));
            }
        };
        const auto submit = [&](const std::string& t, bool activation) {
            put(t, "Submit", (activation ? "activation " : "deactivation ") + dext() + " app main");
        };
        std::istringstream tokens(notation);
        for (std::string token; tokens >> token;) {
            std::vector<std::string> f;
            std::istringstream fields(token.substr(token[0] == 'N' ? 2 : 1));
            for (std::string field; std::getline(fields, field, ':');) {
                f.push_back(field == "$" ? outside : field == "$!" ? outside + "!" : field);
            }
            const std::size_t given = f.size();
            f.resize(3);
            const std::string t = f[0].empty() ? "0" : f[0];
            // A completion logs, shows, then writes; every other answer writes first.
            const auto reports = [&](const std::string& log, const std::string& status,
                                     const std::string& text) {
                const bool completion = token[0] == 'S' || token[0] == 'R';
                put(t, completion ? "Log" : "ActivityLog", completion ? log : text);
                put(t, completion ? "Status" : "Log", completion ? status : log);
                put(t, completion ? "ActivityLog" : "Status", completion ? text : status);
            };
            const std::map<char, std::pair<std::string, std::string>> simple{
                {'a', {"Answer", "1"}},
                {'I', {"Invalidated", "#" + f[1]}},
                {'T', {"Scheduled", "#" + f[1] + " 5 app"}},
                {'X', {"Fired", "#" + f[1]}},
                {'Q', {"Terminate", "app"}},
                {'B', {"Terminate", "quit"}}};
            const std::string success =
                "Success:System extension operation successful. Please restart your computer.";
            const std::string reboot =
                " operation will complete after reboot. Please restart your computer.";
            const std::string unexpected =
                "Error:Unexpected result " + f[1] + " for system extension request";
            const std::string failed = "System extension request failed: " + f[1];
            const std::string id = given > 1 ? f[1] : dext();
            const std::string approval = " " + id + " requires user approval";
            const std::string replacing =
                "Replacing extension " + dext() + " version " + f[1] + " with version " + f[2];
            if (simple.contains(token[0])) {
                put(t, simple.at(token[0]).first, simple.at(token[0]).second);
            } else if (token[0] == 'L') {
                // The launch as the table of modes has it: the release; a -status
                // query, or the log location, Return on the quit button, and in a
                // mode that changes the extension its start, request, -wait's
                // deadline and restart; the argument report; the exit timer.
                std::vector<std::string> args{std::string(fake::FakePlatform::programPath)};
                args.insert(args.end(), flags.begin(), flags.end());
                const launcher::CommandLine line = launcher::readCommandLine(args);
                const launcher::LaunchMode* mode = line.mode;
                put("0", "Stdout", "Running on Ventura or greater\n");
                put("0", "Release",
                    "This version only runs on macOS Ventura and above. If you upgrade, please "
                    "check for a new version");
                if (mode != nullptr && !mode->changesExtension()) {
                    put("0", "Submit", "properties " + dext() + " app main");
                    continue;
                }
                if (!has("quiet")) {
                    put("0", "Log",
                        "file URL = %s | file://" + fake.home() + "/veltrinLogFile.txt");
                }
                put("0", "Key", "\r");
                if (mode != nullptr) {
                    put("0", "Log", std::string(mode->start.text()));
                    put("0", "ActivityLog", std::string(mode->start.text()));
                    put("0", "Status", std::string(mode->statusText()));
                    submit("1", mode->action != launcher::ModeAction::deactivate);
                    if (line.waitSeconds != 0) {
                        put("1", "Scheduled", "#1 " + std::to_string(line.waitSeconds) + " other");
                    }
                    if (mode->action == launcher::ModeAction::activateAndRestart) {
                        put("1", "Restart", "");
                    }
                }
                const std::string s = mode == nullptr ? "0" : "1";
                put(s, "Log", "Info:Command arguments=");
                put(s, "ActivityLog", "Info:Command arguments=");
                put(s, "Stdout", launcher::argumentReportLine(args));
                if (mode != nullptr) {
                    put("1", "Scheduled", line.waitSeconds != 0 ? "#2 5 app" : "#1 5 app");
                }
            } else if (token[0] == 'H') {
                put(t, "Stdout", launcher::helpText());
            } else if (token[0] == 'V') {
                put(t, "Stdout", launcher::statusReport(dext(), versions(f[1])).lines);
            } else if (token[0] == 'G') {
                const std::string name = f[1] == "BigSur" ? "Big Sur" : f[1];
                put(t, "Stdout", "Running on " + name + "\n");
                put(t, "Stdout", "This driver was not built for macOS " + name + ". Exiting\n");
                put(t, "Release", "This is an unsupported operating System");
                logged = false;
            } else if (token[0] == 'A') {
                reports("Info:System Extension %@ requires user approval | " + id,
                        "Extension" + approval, "Info:System Extension" + approval);
            } else if (token[0] == 'S') {
                reports(success, success, success);
            } else if (token[0] == 'R') {
                reports("Success:System extension" + reboot, "Success:System extension " + reboot,
                        "Success:System extension" + reboot);
            } else if (token[0] == 'U') {
                reports("Error:Unexpected result %d for system extension request | #" + f[1],
                        unexpected, unexpected);
            } else if (token[0] == 'F') {
                reports("Error:System extension request failed: %@ | " + f[1], failed,
                        "Error:" + failed);
            } else if (token[0] == 'P') {
                reports("Info:Replacing extension %@ version %@ with version %@ | " + dext() +
                            " | " + f[1] + " | " + f[2],
                        replacing, "Info:" + replacing);
            } else if (token[0] == 'N') {
                submit(t, token[1] == 'a');
            } else {
                ADD_FAILURE() << "unknown token " << token;
            }
        }
        return all;
    }

    fake::FakePlatform fake;
};
