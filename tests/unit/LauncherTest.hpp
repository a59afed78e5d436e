// The fixture of the unit tests: a fresh fake platform (and with it a clean
// launcher state) for every test, and expected traces written in a short notation.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "DextIdentifier.hpp"  // generated
#include "fake/FakePlatform.hpp"
#include "veltrin_Driverkit_Launcher/FailureAdvice.hpp"
#include "veltrin_Driverkit_Launcher/HelpText.hpp"

// The notation of expected traces: a token is a letter, the second it stands at
// (0 when left out) and its fields after colons: "F4:denied". In a field "_" is
// a blank, "$" the outside text, "$!" that and "!", and a word of the table
// below ("= word text") its text. Each line "letter sink what" below is a trace
// entry of the token, where $1 and $2 are its fields, $i the extension's
// identifier, $f the activity log's path, $m the argument report of the flags,
// $h the help, $a the advice on a failure of code 1, $v -status's lines for
// versions in the states of the fields, and \n, \r escapes. "@name tokens"
// names a run of tokens. After ~ nothing reaches the activity log (as after G),
// after - no outlet is connected.
inline constexpr const char* notation = R"(
= h approve $i\n
= f $a
= w -wait goes with -install or -uninstall only (-installInteractive restarts the machine).\nRun with -help to see the flags.\n
= s The state of the driver extension could not be read: x\n$a
@install w O W K E:installing_driver N1:activation M1 T1:1
@uninstall w O W K E:uninstalling_driver N1:deactivation M1 T1:1
@interactive w O W K E:installing_driver_interactive N1:activation Z1 M1 T1:1
@installWait w O W K E:installing_driver N1:activation D1:1:30 M1 T1:2
@uninstallWait w O W K E:uninstalling_driver N1:deactivation D1:1:3 M1 T1:2
w Window
O Stdout Running on Ventura or greater\n
O Release This version only runs on macOS Ventura and above. If you upgrade, please check for a new version
G Stdout Running on $1\n
G Stdout This driver was not built for macOS $1. Exiting\n
G Release This is an unsupported operating System
W Log file URL = %s | file://$f
K Key \r
E Log Start:$1\n
E ActivityLog Start:$1\n
E Status $1
N Submit $1 $i app main
D Scheduled #$1 $2 other
Z Restart
M Log Info:Command arguments=
M ActivityLog Info:Command arguments=
M Stdout $m
H Stdout $h
V Stdout $v
A ActivityLog Info:System Extension $1 requires user approval
A Log Info:System Extension %@ requires user approval | $1
A Status Extension $1 requires user approval
S Log Success:System extension operation successful. Please restart your computer.
S Status Success:System extension operation successful. Please restart your computer.
S ActivityLog Success:System extension operation successful. Please restart your computer.
R Log Success:System extension operation will complete after reboot. Please restart your computer.
R Status Success:System extension  operation will complete after reboot. Please restart your computer.
R ActivityLog Success:System extension operation will complete after reboot. Please restart your computer.
U ActivityLog Error:Unexpected result $1 for system extension request
U Log Error:Unexpected result %d for system extension request | #$1
U Status Error:Unexpected result $1 for system extension request
F ActivityLog Error:System extension request failed: $1
F Log Error:System extension request failed: %@ | $1
F Status System extension request failed: $1
P ActivityLog Info:Replacing extension $i version $1 with version $2
P Log Info:Replacing extension %@ version %@ with version %@ | $i | $1 | $2
P Status Replacing extension $i version $1 with version $2
a Answer 1
I Invalidated #$1
T Scheduled #$1 5 app
X Fired #$1
Q Terminate app
B Terminate quit
! Stderr $1
)";
// So: w the window shown; O the release served; G:name the gate's refusal; W
// where the log is; K Return on the quit button; E:text a mode's start; N:kind
// a request submitted; D:n:S -wait's deadline, timer n of S seconds; Z restart;
// M the argument report; H the help; V:state... -status's lines; A[:identifier],
// S, R, U:N, F:D, P:E:N the three reports of an approval, a success, a success
// after reboot, unexpected result N, failure D, replacement of E by N; a the
// answer replace; I:n, T:n, X:n exit timer n invalidated, scheduled, fired; Q, B
// terminate by the launcher, by the quit button; !:h|f|w|s standard error: the
// approval hint, a failure's advice, -wait's misuse, a failed -status.

class LauncherTest : public ::testing::Test {
  public:
    static std::string dext() { return std::string(launcher::dextIdentifier); }

    // The activity-log line of virtual second s.
    static std::string line(int s, const std::string& text) {
        const int t = 7 * 3600 + 41 * 60 + 39 + s;
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "05/12/2026 %02d:%02d:%02d:", t / 3600, t / 60 % 60,
                      t % 60);
        return stamp + text + "\r\n";
    }

    // `text` with each of `values` filled in, in one pass.
    static std::string fill(const std::string& text,
                            const std::map<std::string, std::string>& values) {
        std::string out;
        for (std::size_t at = 0; at < text.size(); ++at) {
            const auto value = values.find(text.substr(at, 2));
            out += value != values.end() ? value->second : text.substr(at, 1);
            at += value != values.end() ? 1U : 0U;
        }
        return out;
    }

    fake::Trace expand(const std::string& expected, const std::vector<std::string>& flags = {},
                       const std::string& outside = "") {
        std::string report = "[\"" + std::string(fake::FakePlatform::programPath);
        for (const std::string& flag : flags) {
            report += "\", \"" + flag;
        }
        std::map<std::string, std::string> values{
            {"$i", dext()},
            {"$f", fake.activityLogPath()},
            {"$m", report + "\"]\n"},
            {"$h", launcher::helpText()},
            {"\\n", "\n"},
            {"\\r", "\r"},
            {"$a", launcher::adviceFor({"OSSystemExtensionErrorDomain", 1, ""})}};
        std::map<std::string, std::string> words{{"$", outside}, {"$!", outside + "!"}}, runs;
        std::vector<std::pair<char, std::string>> entries;
        std::istringstream table(notation);
        for (std::string letter, rest; table >> letter && std::getline(table >> std::ws, rest);) {
            if (letter == "=") {
                words[rest.substr(0, rest.find(' '))] =
                    fill(rest.substr(rest.find(' ') + 1), values);
            } else if (letter[0] == '@') {
                runs[letter] = rest;
            } else {
                entries.emplace_back(letter[0], rest);
            }
        }
        std::string all;
        std::istringstream given(expected);
        for (std::string token; given >> token;) {
            all += (runs.contains(token) ? runs.at(token) : token) + " ";
        }
        bool logged = true, outlets = true;
        fake::Trace trace;
        std::istringstream tokens(all);
        for (std::string token; tokens >> token;) {
            std::vector<std::string> f;  // the second, then the fields
            std::istringstream fields(token.substr(1));
            for (std::string field; std::getline(fields, field, ':');) {
                std::ranges::replace(field, '_', ' ');
                f.push_back(words.contains(field) && !f.empty() ? words.at(field) : field);
            }
            values["$v"] = "";
            for (std::size_t n = 1; token[0] == 'V' && n < f.size(); ++n) {
                const std::string k = std::to_string(n);
                values["$v"] += dext() + " 1." + k + " (" + k + ") " + f[n] + "\n";
            }
            f.resize(std::max<std::size_t>(f.size(), 1));
            f.resize(std::max<std::size_t>(f.size(), 3), dext());
            values["$1"] = f[1];
            values["$2"] = f[2];
            const int t = f[0].empty() ? 0 : std::stoi(f[0]);
            logged = logged && token[0] != '~';
            outlets = outlets && token[0] != '-';
            for (const auto& [letter, entry] : entries) {
                const std::string sink = entry.substr(0, entry.find(' '));
                if (letter == token[0] && (sink != "ActivityLog" || logged) &&
                    (outlets || (sink != "Status" && sink != "Release" && sink != "Key"))) {
                    const std::string what =
                        fill(entry.substr(std::min(entry.size(), sink.size() + 1)), values);
                    trace.push_back(
                        {t * 1'000'000'000LL, sink, sink == "ActivityLog" ? line(t, what) : what});
                }
            }
            logged = logged && token[0] != 'G';
        }
        return trace;
    }

    fake::FakePlatform fake;
};
