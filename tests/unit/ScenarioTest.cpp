// Whole runs of the launcher on the fake platform, one table row each: the
// command line, what the service and the user do when, and the expected trace
// of every sink with its virtual second, in LauncherTest's notation.
#include <algorithm>
#include <sstream>
#include <string_view>

#include "LauncherTest.hpp"
#include "veltrin_Driverkit_Launcher/FailureAdvice.hpp"

namespace {

struct Scenario {
    const char* name;
    std::vector<std::string> flags;
    // tN: run to second N; rN: completion with result N (r0 success, r1 after reboot);
    // fail:D, approve, swap:E:N, found:states: the other answers to request 0 (states
    // as LauncherTest::versions has them); load, disable, quit.
    const char* script;
    const char* expected;  // LauncherTest::expand's notation
    int status = 0;        // the exit status the run ends with
    platform::OperatingSystemVersion release{13, 0, 0};
    std::string options{};  // one of LauncherTest::expand's: quiet or bare, also set up
};

class ScenarioTest : public LauncherTest, public ::testing::WithParamInterface<Scenario> {
  protected:
    void play(const char* script) {
        std::istringstream tokens(script);
        for (std::string token; tokens >> token;) {
            const auto colon = token.find(':');
            const std::string word = token.substr(0, colon);
            const std::string rest = colon == std::string::npos ? "" : token.substr(colon + 1);
            if (word[0] == 't') {
                fake.runUntil(std::stod(word.substr(1)));
            } else if (word[0] == 'r') {
                fake.answerFinished(0, std::stoll(word.substr(1)));
            } else if (word == "fail") {
                fake.answerFailed(0, rest);
            } else if (word == "approve") {
                fake.answerNeedsApproval(0);
            } else if (word == "found") {
                fake.answerFoundProperties(0, versions(rest));
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
        fake.runFor(3600);
    }
};

TEST_P(ScenarioTest, TraceOfEverySink) {
    const Scenario& row = GetParam();
    fake.release = row.release;
    fake.osLogDefaultTypeEnabled = row.options != "quiet";
    fake.outletsConnected = row.options != "bare";
    fake.createActivityLog();
    fake.launch(row.flags);
    play(row.script);
    EXPECT_EQ(fake::lines(fake.trace()), fake::lines(expand(row.expected, row.flags, row.options)));
    EXPECT_EQ(fake.exitStatus, row.status);
    // Only a script's user, who has no window, hears on standard error how to
    // approve and what to do about a failure, each time; or what is wrong with
    // the command line.
    const launcher::CommandLine line = launcher::readCommandLine(fake.processArguments());
    std::string err = line.usageError;
    for (const char token : std::string_view(launcher::commandLineMode ? row.expected : "")) {
        err += token == 'A'   ? platform::approvalHint(dext())
               : token == 'F' ? launcher::adviceFor({"OSSystemExtensionErrorDomain", 1, ""})
                              : "";
    }
    if (!launcher::statusQuery) {
        EXPECT_EQ(fake.standardError, err);
    }
    const auto* mode = line.mode;
    EXPECT_EQ(fake.windowShown, row.status != 2 && (mode == nullptr || mode->changesExtension()));
}

const std::vector<std::string> install{"-install"}, uninstall{"-uninstall"},
    interactiveInstall{"-installInteractive"}, none{}, installWait{"-install", "-wait", "30"},
    uninstallWait{"-uninstall", "-wait", "3"}, status{"-status"};

INSTANTIATE_TEST_SUITE_P(
    Runs, ScenarioTest,
    ::testing::Values(
        Scenario{"TypicalInstallWithApproval", install, "t3 approve t20 r0",
                 "L A3 I3:1 S20 T21:2 X26:2 Q26"},
        Scenario{"InteractiveUseOnALaterReleaseEveryAnswerAndNoTimer",
                 none,
                 "load disable t2 r0 r-1 fail:denied approve swap:2:1",
                 "L Na0 Nd0 S2 U3:-1 F4:denied A5 P5:2:1 a6",
                 0,
                 {15, 1, 0}},
        Scenario{"Monterey0", install, "", "G0:Monterey", 0, {12, 0, 0}},
        Scenario{"BigSurAnswersReachNoActivityLog",
                 install,
                 "load t2 fail:x",
                 "G0:BigSur Na0 F2:x",
                 0,
                 {11, 7, 0}},
        Scenario{"AfterRebootThenTheLeastResultWithDefaultLogTypeOff",
                 uninstall,
                 "t2 r1 t4 r-9223372036854775808",
                 "L R2 T3:2 U4:-9223372036854775808 T4:3 X6:1 Q6",
                 0,
                 {13, 0, 0},
                 "quiet"},
        Scenario{"UnexpectedMaxStaysOpen", interactiveInstall, "t2 r9223372036854775807",
                 "L U2:9223372036854775807 T2:2 X6:1 X7:2"},
        Scenario{"ReplacementNewerEqualOlder", install,
                 "t2 swap:1.0.0:1.2.0 swap:1.2.0:1.2.0 swap:1.2.0:1.0.0",
                 "L P2:1.0.0:1.2.0 a3 P3:1.2.0:1.2.0 a4 P4:1.2.0:1.0.0 a5 X6:1 Q6"},
        Scenario{"ApprovalsThenFailureAndUnexpectedArmNoTimer", install,
                 "t2 approve approve t4 fail:denied r7", "L A2 I2:1 A2 F4:denied U5:7"},
        Scenario{"KeepRunningOutlivesEveryTimerAndAnswer", interactiveInstall,
                 "t2 fail:x t10 fail:late t20 r0 t30 approve",
                 "L F2:x T3:2 X6:1 X8:2 F10:late T11:3 X16:3 S20 T21:4 X26:4 A30 I30:4"},
        Scenario{"UserQuitsDespiteKeepRunning", interactiveInstall, "fail:denied t30 quit",
                 "L F1:denied T2:2 X6:1 X7:2 B30"},
        Scenario{"NoOutlets",
                 install,
                 "t2 fail:gone r5 approve swap:1:2",
                 "L F2:gone T3:2 U3:5 T3:3 A4 I4:3 P4:1:2 a5 X6:1 Q6",
                 0,
                 {13, 0, 0},
                 "bare"},
        // -wait: the exit timer before the outcome ends nothing; the outcome does,
        // through its pause and timer, also after an approval; else the deadline.
        Scenario{"WaitEndsAfterAnOutcomeOnly", installWait, "t10 r1", "L X6:2 R10 T11:3 X16:3 Q16",
                 3},
        Scenario{"WaitedFailureAfterApprovalStillEnds", installWait, "t2 approve t4 fail:x",
                 "L A2 I2:2 F4:x T5:3 X10:3 Q10", 1},
        Scenario{"WaitDeadlineAfterApproval", installWait, "t2 approve", "L A2 I2:2 X31:1 Q31", 4},
        Scenario{"WaitDeadlineWithoutAnswer", uninstallWait, "", "L X4:1 Q4", 1},
        Scenario{"WaitQuitAfterACompletionSaysIt", uninstallWait, "t2 r0 quit", "L S2 T3:3 B3", 0},
        Scenario{"WaitOnAReleaseNotServed", installWait, "", "G0:Monterey Q0", 5, {12, 7, 6}},
        // A properties request's end, if it comes, is not its answer.
        Scenario{"StatusOfTwoVersions", status, "r0 found:du", "L V0:du Q0", 3},
        Scenario{"StatusQueryFailed", status, "fail:x", "L Q0", 1},
        Scenario{"HelpAfterAnyOtherArgument", {"x", "--help"}, "", "H0 Q0"},
        Scenario{"WaitWithInteractiveInstallIsAUsageError",
                 {"-installInteractive", "-wait", "5"},
                 "",
                 "Q0",
                 2}),
    [](const auto& row) { return std::string(row.param.name); });

// The last: a mebibyte of percent signs, each a directive if anything read it as a format.
const std::vector<std::string> hostile{"a%@b%s%n%d%%%x%",
                                       "first\r\nsecond",
                                       "Gr\xC3\xBC\xC3\x9F\xF0\x9F\x98\x80",
                                       "",
                                       std::string("a\0b", 3),
                                       std::string(1 << 20, '%') + "@%s%n\n\xC3\xA9"};

class HostileTest : public LauncherTest, public ::testing::WithParamInterface<std::size_t> {};

// Texts from outside reach every sink literally, and the unified log only as an
// argument: as a failure's description, an identifier and both versions.
TEST_P(HostileTest, ReachesEverySinkLiterally) {
    const std::string& h = hostile.at(GetParam());
    fake.createActivityLog();
    fake.launch({});
    auto foreign = platform::activationRequestForExtension(h, platform::mainQueue());
    foreign->setDelegate(dynamic_cast<platform::SystemExtensionRequestDelegate*>(fake.delegate()));
    platform::submitRequest(foreign);
    fake.pressLoadButton();
    fake.runUntilIdle();
    fake.clearTrace();
    fake.answerFailed(1, h);
    fake.answerNeedsApproval(0);
    fake.answerReplacement(1, h, h + "!");
    fake.runUntilIdle();
    EXPECT_EQ(fake.trace(), expand("F0:$ A1:$ P1:$:$! a2", {}, "", h));
}

INSTANTIATE_TEST_SUITE_P(Texts, HostileTest, ::testing::Range(std::size_t{0}, hostile.size()));

}  // namespace
