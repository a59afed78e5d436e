// The fixture of the unit tests: a fresh fake platform (and with it a clean
// launcher state) for every test, and expected traces written in a short notation.
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
#include "veltrin_Driverkit_Launcher/FailureAdvice.hpp"
#include "veltrin_Driverkit_Launcher/HelpText.hpp"

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

    // The activity-log line of virtual second s (start 05/12/2026 07:41:39, s < 16 h).
    static std::string line(int s, const std::string& text) {
        const int t = 7 * 3600 + 41 * 60 + 39 + s;
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "05/12/2026 %02d:%02d:%02d:", t / 3600, t / 60 % 60,
                      t % 60);
        return stamp + text + "\r\n";
    }

    // The trace of every sink, token by token, each at its second t (0 if left out):
    //   wt: the window shown; Ot: the release served; Gt:Monterey|BigSur: the gate's
    //   refusal, after which nothing reaches the activity log; Wt: where the
    //   activity log is; Kt: Return on the quit button; Et:i|u|r: the start of
    //   -install, -uninstall, -installInteractive; Nat, Ndt, Npt: activation,
    //   deactivation, properties submitted; Dt:n:S: -wait's deadline, timer n of S
    //   seconds; Zt: restart; Mt: the argument report of `flags`; Ht: the help;
    //   Vt:states: -status's lines for versions(states);
    //   At[:identifier], St, Rt, Ut:N, Ft:D, Pt:E:N: the three reports of an
    //   approval, a success, a success after reboot, unexpected result N, failure
    //   D, replacement of E by N; at: the answer replace; It:n, Tt:n, Xt:n: exit
    //   timer n invalidated, scheduled, fired; Qt, Bt: terminate by the launcher,
    //   by the quit button; !t:h|f|w|s: standard error, the approval hint, a
    //   failure's advice, -wait's misuse, a failed -status; ~: from here on
    //   nothing reaches the activity log.
    // A field "$" stands for `outside`, "$!" for `outside` and "!".
    fake::Trace expand(const std::string& notation, const std::vector<std::string>& flags = {},
                       const std::string& outside = "") {
        const std::string advice = launcher::adviceFor({"OSSystemExtensionErrorDomain", 1, ""});
        const std::map<std::string, std::string> texts{
            {"i", "installing driver"},
            {"u", "uninstalling driver"},
            {"r", "installing driver interactive"},
            {"h", "approve " + dext() + "\n"},
            {"f", advice},
            {"w",
             "-wait goes with -install or -uninstall only (-installInteractive restarts the "
             "machine).\nRun with -help to see the flags.\n"},
            {"s", "The state of the driver extension could not be read: x\n" + advice}};
        const std::map<char, std::string> states{
            {'e', "enabled"}, {'a', "awaiting-approval"}, {'u', "uninstalling"}, {'d', "disabled"}};
        const std::string success =
            "Success:System extension operation successful. Please restart your computer.";
        const std::string reboot =
            " operation will complete after reboot. Please restart your computer.";
        bool logged = true;
        fake::Trace all;
        std::istringstream tokens(notation);
        for (std::string token; tokens >> token;) {
            std::vector<std::string> f;
            std::istringstream fields(token.substr(token[0] == 'N' ? 2 : 1));
            for (std::string field; std::getline(fields, field, ':');) {
                f.push_back(field == "$" ? outside : field == "$!" ? outside + "!" : field);
            }
            const std::size_t given = f.size();
            f.resize(3);
            const int t = f[0].empty() ? 0 : std::stoi(f[0]);
            const auto put = [&](const std::string& sink, const std::string& what) {
                if (sink != "ActivityLog" || logged) {
                    all.push_back(
                        {t * 1'000'000'000LL, sink, sink == "ActivityLog" ? line(t, what) : what});
                }
            };
            // A completion logs, shows, then writes; every other answer writes first.
            const auto reports = [&](const std::string& log, const std::string& status,
                                     const std::string& text) {
                const bool completion = token[0] == 'S' || token[0] == 'R';
                put(completion ? "Log" : "ActivityLog", completion ? log : text);
                put(completion ? "Status" : "Log", completion ? status : log);
                put(completion ? "ActivityLog" : "Status", completion ? text : status);
            };
            const std::string id = given > 1 ? f[1] : dext();
            const std::string unexpected =
                "Error:Unexpected result " + f[1] + " for system extension request";
            const std::string failed = "System extension request failed: " + f[1];
            const std::string replacing =
                "Replacing extension " + dext() + " version " + f[1] + " with version " + f[2];
            switch (token[0]) {
                case 'w':
                    put("Window", "");
                    break;
                case '~':
                    logged = false;
                    break;
                case 'O':
                    put("Stdout", "Running on Ventura or greater\n");
                    put("Release",
                        "This version only runs on macOS Ventura and above. If you "
                        "upgrade, please check for a new version");
                    break;
                case 'G': {
                    const std::string name = f[1] == "BigSur" ? "Big Sur" : f[1];
                    put("Stdout", "Running on " + name + "\n");
                    put("Stdout", "This driver was not built for macOS " + name + ". Exiting\n");
                    put("Release", "This is an unsupported operating System");
                    logged = false;
                    break;
                }
                case 'W':
                    put("Log", "file URL = %s | file://" + fake.activityLogPath());
                    break;
                case 'K':
                    put("Key", "\r");
                    break;
                case 'E':
                    put("Log", "Start:" + texts.at(f[1]) + "\n");
                    put("ActivityLog", "Start:" + texts.at(f[1]) + "\n");
                    put("Status", texts.at(f[1]));
                    break;
                case 'N':
                    put("Submit", std::string(token[1] == 'a'   ? "activation "
                                              : token[1] == 'd' ? "deactivation "
                                                                : "properties ") +
                                      dext() + " app main");
                    break;
                case 'D':
                    put("Scheduled", "#" + f[1] + " " + f[2] + " other");
                    break;
                case 'Z':
                    put("Restart", "");
                    break;
                case 'M': {
                    std::string report = "[\"" + std::string(fake::FakePlatform::programPath);
                    for (const std::string& flag : flags) {
                        report += "\", \"" + flag;
                    }
                    put("Log", "Info:Command arguments=");
                    put("ActivityLog", "Info:Command arguments=");
                    put("Stdout", report + "\"]\n");
                    break;
                }
                case 'H':
                    put("Stdout", launcher::helpText());
                    break;
                case 'V': {
                    std::string lines;
                    for (std::size_t n = 1; n <= f[1].size(); ++n) {
                        lines += dext() + " 1." + std::to_string(n) + " (" + std::to_string(n) +
                                 ") " + states.at(f[1][n - 1]) + "\n";
                    }
                    put("Stdout", lines);
                    break;
                }
                case 'A':
                    reports("Info:System Extension %@ requires user approval | " + id,
                            "Extension " + id + " requires user approval",
                            "Info:System Extension " + id + " requires user approval");
                    break;
                case 'S':
                    reports(success, success, success);
                    break;
                case 'R':
                    reports("Success:System extension" + reboot,
                            "Success:System extension " + reboot,
                            "Success:System extension" + reboot);
                    break;
                case 'U':
                    reports("Error:Unexpected result %d for system extension request | #" + f[1],
                            unexpected, unexpected);
                    break;
                case 'F':
                    reports("Error:System extension request failed: %@ | " + f[1], failed,
                            "Error:" + failed);
                    break;
                case 'P':
                    reports("Info:Replacing extension %@ version %@ with version %@ | " + dext() +
                                " | " + f[1] + " | " + f[2],
                            replacing, "Info:" + replacing);
                    break;
                case 'a':
                    put("Answer", "1");
                    break;
                case 'I':
                    put("Invalidated", "#" + f[1]);
                    break;
                case 'T':
                    put("Scheduled", "#" + f[1] + " 5 app");
                    break;
                case 'X':
                    put("Fired", "#" + f[1]);
                    break;
                case 'Q':
                    put("Terminate", "app");
                    break;
                case 'B':
                    put("Terminate", "quit");
                    break;
                case '!':
                    put("Stderr", texts.at(f[1]));
                    break;
                default:
                    ADD_FAILURE() << "unknown token " << token;
            }
        }
        return all;
    }

    fake::FakePlatform fake;
};
