// Whole runs of the launcher on the fake platform, one table row each: the
// command line, what the service and the user do when, and the expected trace
// of every sink with its virtual second, in a short notation (see expand()).
#include <sstream>

#include "LauncherTest.hpp"

namespace {

using namespace fake;

struct Scenario {
    const char* name;
    std::vector<std::string> flags;
    // tN: run to second N; ok, reboot, rN: completion with result 0, 1, N;
    // fail:D, approve, swap:E:N: the other answers to request 0; load, disable, quit.
    const char* script;
    // L: the launch; A, S, R, Ut:N, Ft:D, Pt:E:N: approval, success, success
    // after reboot, unexpected N, failure D, replacement E by N, at second t;
    // at: the answer replace; It:n, Tt:n, Xt:n: timer n invalidated, scheduled,
    // fired; Qt, Bt: terminate by the launcher, by the quit button; Nat, Ndt:
    // (de)activation submitted; Gt:name: the gate's refusal.
    const char* expected;
    platform::OperatingSystemVersion release{13, 0, 0};
    // quiet: default log type disabled; nostatus, bare: outlets left out; nofile:
    // no activity log. The sinks that are not there are dropped from `expected`.
    std::string options{};
};

class ScenarioTest : public LauncherTest, public ::testing::WithParamInterface<Scenario> {
  protected:
    Trace expand(const Scenario& row) {
        Trace all;
        std::istringstream tokens(row.expected);
        for (std::string token; tokens >> token;) {
            std::vector<std::string> part;
            std::istringstream fields(token.substr(token[0] == 'N' ? 2 : 1));
            for (std::string field; std::getline(fields, field, ':');) {
                part.push_back(field);
            }
            const int t = part.empty() ? 0 : std::stoi(part[0]);
            const auto arg = [&](std::size_t i) { return part.size() > i ? part[i] : ""; };
            const std::string n = arg(1);
            Trace add;
            switch (token[0]) {
                case 'L':
                    add = row.flags.empty()
                              ? concat({supportedLaunchStart(),
                                        {"0 Log Info:Command arguments=",
                                         "0 ActivityLog " + line(0, "Info:Command arguments="),
                                         "0 Stdout [\"" + programPath() + "\"]\n"}})
                              : commandLineLaunch(row.flags[0]);
                    break;
                case 'G': {
                    const std::string name = n == "BigSur" ? "Big Sur" : n;
                    add = {
                        at(t, "Stdout Running on " + name + "\n"),
                        at(t, "Stdout This driver was not built for macOS " + name + ". Exiting\n"),
                        at(t, "Release This is an unsupported operating System")};
                    break;
                }
                case 'A':
                    add = approval(t, dext());
                    break;
                case 'S':
                    add = succeeded(t);
                    break;
                case 'R': {
                    const std::string text =
                        " operation will complete after reboot. Please "
                        "restart your computer.";
                    add = {at(t, "Log Success:System extension" + text),
                           at(t, "Status Success:System extension " + text),
                           at(t, "ActivityLog " + line(t, "Success:System extension" + text))};
                    break;
                }
                case 'U': {
                    const std::string text = " for system extension request";
                    add = {at(t, "ActivityLog " + line(t, "Error:Unexpected result " + n + text)),
                           at(t, "Log Error:Unexpected result %d" + text + " | #" + n),
                           at(t, "Status Error:Unexpected result " + n + text)};
                    break;
                }
                case 'F':
                    add = failed(t, n);
                    break;
                case 'P':
                    add = replacing(t, dext(), n, arg(2));
                    break;
                case 'a':
                    add = {at(t, "Answer 1")};
                    break;
                case 'I':
                    add = {at(t, "Invalidated #" + n)};
                    break;
                case 'T':
                    add = {at(t, "Scheduled #" + n + " 5 app")};
                    break;
                case 'X':
                    add = {at(t, "Fired #" + n)};
                    break;
                case 'Q':
                    add = {at(t, "Terminate app")};
                    break;
                case 'B':
                    add = {at(t, "Terminate quit")};
                    break;
                case 'N':
                    add = {submitted(t, token[1] == 'a')};
                    break;
                default:
                    ADD_FAILURE() << "unknown token " << token;
            }
            all.insert(all.end(), add.begin(), add.end());
        }
        std::erase_if(all, [&](const std::string& e) {
            const auto is = [&](const char* sink) {
                return e.find(std::string(" ") + sink + " ") == e.find(' ');
            };
            return (has(row, "nostatus") && is("Status")) ||
                   (has(row, "bare") && (is("Release") || is("Key"))) ||
                   (has(row, "nofile") && is("ActivityLog")) ||
                   (has(row, "quiet") && e.starts_with("0 Log file URL = %s"));
        });
        return all;
    }

    void play(const char* script) {
        std::istringstream tokens(script);
        for (std::string token; tokens >> token;) {
            const auto colon = token.find(':');
            const std::string word = token.substr(0, colon);
            const std::string rest = colon == std::string::npos ? "" : token.substr(colon + 1);
            if (word[0] == 't') {
                fake.runUntil(std::stod(word.substr(1)));
            } else if (word == "ok" || word == "reboot") {
                fake.answerFinished(0, word == "ok" ? 0 : 1);
            } else if (word[0] == 'r') {
                fake.answerFinished(0, std::stoll(word.substr(1)));
            } else if (word == "fail") {
                fake.answerFailed(0, rest);
            } else if (word == "approve") {
                fake.answerNeedsApproval(0);
            } else if (word == "swap") {
                fake.answerReplacement(0, rest.substr(0, rest.find(':')),
                                       rest.substr(rest.find(':') + 1));
            } else if (word == "load") {
                fake.pressLoadButton();
            } else if (word == "disable") {
                fake.pressDisableButton();
            } else if (word == "quit") {
                fake.userQuits();
            } else {
                ADD_FAILURE() << "unknown step " << token;
            }
        }
        fake.runUntilNoTasksRemain();
    }

    static bool has(const Scenario& row, const char* option) {
        return row.options.find(option) != std::string::npos;
    }
};

TEST_P(ScenarioTest, TraceOfEverySink) {
    const Scenario& row = GetParam();
    fake.setRelease(row.release);
    fake.setOsLogDefaultTypeEnabled(!has(row, "quiet"));
    const bool bare = has(row, "bare");
    fake.setOutlets({!bare, !bare, !has(row, "nostatus"), !bare});
    if (!has(row, "nofile")) {
        fake.createActivityLog();
    }
    fake.launch(row.flags);
    play(row.script);
    EXPECT_EQ(lines(fake.trace()), lines(expand(row)));
    // Only a script's user, who has no window, hears on standard error how to
    // approve, once for each time the service asks.
    std::vector<std::string> instructions;
    std::istringstream tokens(row.expected);
    for (std::string token; tokens >> token;) {
        if (token[0] == 'A' && !row.flags.empty()) {
            instructions.push_back(dext());
        }
    }
    EXPECT_EQ(fake.approvalInstructions, instructions);
}

const std::vector<std::string> install{"-install"}, uninstall{"-uninstall"},
    interactiveInstall{"-installInteractive"}, none{};

INSTANTIATE_TEST_SUITE_P(
    Runs, ScenarioTest,
    ::testing::Values(
        Scenario{"TypicalInstallWithApproval", install, "t3 approve t20 ok",
                 "L A3 I3:1 S20 T21:2 X26:2 Q26"},
        Scenario{"Install", install, "", "L X6:1 Q6"},
        Scenario{"Uninstall", uninstall, "", "L X6:1 Q6"},
        Scenario{"InstallInteractive", interactiveInstall, "", "L X6:1 Q6"},
        Scenario{"InteractiveUse", none, "", "L"},
        Scenario{"Release15_1", none, "", "L", {15, 1, 0}},
        Scenario{"Monterey", install, "", "G0:Monterey", {12, 7, 6}},
        Scenario{"Monterey0", install, "", "G0:Monterey", {12, 0, 0}},
        Scenario{"BigSur", install, "", "G0:BigSur", {11, 7, 0}},
        Scenario{"DefaultLogTypeOff", uninstall, "", "L X6:1 Q6", {13, 0, 0}, "quiet"},
        Scenario{"Success", install, "t2 ok", "L S2 T3:2 X6:1 Q6"},
        Scenario{"SuccessInteractiveUse", none, "load t2 ok", "L Na0 S2"},
        Scenario{"AfterReboot", uninstall, "t2 reboot", "L R2 T3:2 X6:1 Q6"},
        Scenario{"Unexpected", install, "t2 r2", "L U2:2 T2:2 X6:1 Q6"},
        Scenario{"UnexpectedMin", uninstall, "t2 r-9223372036854775808",
                 "L U2:-9223372036854775808 T2:2 X6:1 Q6"},
        Scenario{"UnexpectedMaxStaysOpen", interactiveInstall, "t2 r9223372036854775807",
                 "L U2:9223372036854775807 T2:2 X6:1 X7:2"},
        Scenario{"UnexpectedInteractiveUse", none, "load t2 r-1", "L Na0 U2:-1"},
        Scenario{"Failure", install, "t2 fail:denied", "L F2:denied T3:2 X6:1 Q6"},
        Scenario{"FailureStaysOpen", interactiveInstall, "t2 fail:denied",
                 "L F2:denied T3:2 X6:1 X8:2"},
        Scenario{"FailureInteractiveUse", none, "load t2 fail:denied", "L Na0 F2:denied"},
        Scenario{"ApprovalInteractiveUse", none, "load t2 approve", "L Na0 A2"},
        Scenario{"ApprovalThenSuccess", uninstall, "t2 approve t40 ok",
                 "L A2 I2:1 S40 T41:2 X46:2 Q46"},
        Scenario{"ReplacementNewerEqualOlder", install,
                 "t2 swap:1.0.0:1.2.0 swap:1.2.0:1.2.0 swap:1.2.0:1.0.0",
                 "L P2:1.0.0:1.2.0 a3 P3:1.2.0:1.2.0 a4 P4:1.2.0:1.0.0 a5 X6:1 Q6"},
        Scenario{"ReplacementInteractiveUse", none, "load t2 swap:2:1", "L Na0 P2:2:1 a3"},
        Scenario{"ApprovalsThenFailureAndUnexpectedArmNoTimer", install,
                 "t2 approve approve t4 fail:denied r7", "L A2 I2:1 A2 F4:denied U5:7"},
        Scenario{"KeepRunningOutlivesEveryTimerAndAnswer", interactiveInstall,
                 "t2 fail:x t10 fail:late t20 ok t30 approve",
                 "L F2:x T3:2 X6:1 X8:2 F10:late T11:3 X16:3 S20 T21:4 X26:4 A30 I30:4"},
        Scenario{"EveryPressSubmits", uninstall, "load disable disable", "L Na1 Nd1 Nd1 X6:1 Q6"},
        Scenario{"UserQuitsDespiteKeepRunning", interactiveInstall, "fail:denied t30 quit",
                 "L F1:denied T2:2 X6:1 X7:2 B30"},
        Scenario{"NoStatusLine",
                 install,
                 "t2 fail:gone r5 approve swap:1:2",
                 "L F2:gone T3:2 U3:5 T3:3 A4 I4:3 P4:1:2 a5 X6:1 Q6",
                 {13, 0, 0},
                 "nostatus"},
        Scenario{"NoWindowButtonOrReleaseLine", uninstall, "", "L X6:1 Q6", {13, 0, 0}, "bare"},
        Scenario{"NoActivityLog",
                 install,
                 "t3 approve t20 ok",
                 "L A3 I3:1 S20 T21:2 X26:2 Q26",
                 {13, 0, 0},
                 "nofile"}),
    [](const auto& row) { return std::string(row.param.name); });

std::string oneMebibyte() {
    std::string big;
    while (big.size() < (1u << 20)) {
        big += "%@%s%n%d%%\n\xC3\xA9\xE2\x9C\x93 ";
    }
    return big;
}

const std::vector<std::string> hostile{
    "%@", "a%@b%s%n%d%%%x%",      "first\r\nsecond", "Gr\xC3\xBC\xC3\x9F\xF0\x9F\x98\x80",
    "",   std::string("a\0b", 3), oneMebibyte()};

class HostileTest : public LauncherTest, public ::testing::WithParamInterface<std::size_t> {};

// Texts from outside reach every sink literally, and the unified log only as an
// argument: as a failure's description, an identifier and both versions.
TEST_P(HostileTest, ReachesEverySinkLiterally) {
    const std::string& h = hostile.at(GetParam());
    fake.createActivityLog();
    fake.launch({});
    auto foreign = platform::activationRequestForExtension(h, platform::mainQueue());
    foreign->setDelegate(&app());
    platform::submitRequest(foreign);
    fake.pressLoadButton();
    fake.runUntilIdle();
    fake.clearTrace();
    fake.answerFailed(1, h);
    fake.answerNeedsApproval(0);
    fake.answerReplacement(1, h, h + "!");
    fake.runUntilIdle();
    EXPECT_EQ(
        lines(fake.trace()),
        lines(concat(
            {failed(0, h), approval(1, h), replacing(1, dext(), h, h + "!"), {"2 Answer 1"}})));
}

INSTANTIATE_TEST_SUITE_P(Texts, HostileTest, ::testing::Range(std::size_t{0}, hostile.size()));

// Arguments reach standard output only, quoted, escaped where they must be.
TEST_F(LauncherTest, HostileArgumentsReachOnlyStandardOutputEscaped) {
    fake.launch({"%@", "%s%n", "-install\n", "say \"hi\"", "back\\slash", "tab\there", "\xFF",
                 "\xE2\x80\xA8", "\xE2\x80\xA9"});
    EXPECT_EQ(fake.trace().back(),
              "0 Stdout [\"" + programPath() +
                  "\", \"%@\", \"%s%n\", \"-install\\n\", \"say \\\"hi\\\"\", "
                  "\"back\\\\slash\", \"tab\\there\", \"\\x{FF}\", \"\\u{2028}\", "
                  "\"\\u{2029}\"]\n");
}

}  // namespace
