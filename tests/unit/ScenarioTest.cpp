// Whole runs of the launcher on the fake platform, one table row each: the
// command line, what the service and the user do when, and the expected trace
// of every sink with its virtual second, in LauncherTest's notation.
#include <cstdio>
#include <sstream>

#include "LauncherTest.hpp"

namespace {

struct Scenario {
    const char* name;
    std::vector<std::string> flags;
    // Before the launch: os:X.Y.Z the release, quiet the default log type off,
    // bare no outlets. Then: tN run to second N; rN completion with result N (r0
    // success, r1 after reboot); fail:D, approve, swap:E:N, found:states (as
    // LauncherTest::versions has them): the other answers to request 0; load,
    // disable, quit.
    std::string script;
    std::string expected;  // LauncherTest::expand's notation
    int status = 0;        // the exit status the run ends with
};

class ScenarioTest : public LauncherTest, public ::testing::WithParamInterface<Scenario> {};

TEST_P(ScenarioTest, TraceOfEverySink) {
    const Scenario& row = GetParam();
    std::istringstream setup(row.script);
    for (std::string word; setup >> word;) {
        fake.osLogDefaultTypeEnabled &= word != "quiet";
        fake.outletsConnected &= word != "bare";
        std::sscanf(word.c_str(), "os:%ld.%ld.%ld", &fake.release.major, &fake.release.minor,
                    &fake.release.patch);
    }
    fake.createActivityLog();
    fake.launch(row.flags);
    std::istringstream tokens(row.script);
    for (std::string token; tokens >> token;) {
        const std::string word = token.substr(0, token.find(':'));
        const std::string rest = token.substr(word.size() + (word.size() < token.size()));
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
        } else if (word == "load" || word == "disable") {
            word == "load" ? fake.pressLoadButton() : fake.pressDisableButton();
        } else if (word == "quit") {
            fake.userQuits();
        } else if (word != "os" && word != "quiet" && word != "bare") {
            ADD_FAILURE() << "unknown step " << token;
        }
    }
    fake.runFor(3600);
    fake::Trace expected = expand(row.expected, row.flags);
    std::erase_if(expected, [&](const fake::Entry& e) {
        return !fake.outletsConnected &&
               (e.sink == "Status" || e.sink == "Release" || e.sink == "Key");
    });
    EXPECT_EQ(fake::lines(fake.trace()), fake::lines(expected));
    EXPECT_EQ(fake.exitStatus, row.status);
}

// A launch on a release served, up to its exit timer.
const std::string install = "w O W K E:i Na1 M1 T1:1 ", uninstall = "w O W K E:u Nd1 M1 T1:1 ",
                  interactive = "w O W K E:r Na1 Z1 M1 T1:1 ",
                  installWait = "w O W K E:i Na1 D1:1:30 M1 T1:2 ",
                  uninstallWait = "w O W K E:u Nd1 D1:1:3 M1 T1:2 ";

INSTANTIATE_TEST_SUITE_P(
    Runs, ScenarioTest,
    ::testing::Values(
        Scenario{"TypicalInstallWithApproval",
                 {"-install"},
                 "t3 approve t20 r0",
                 install + "A3 I3:1 !3:h S20 T21:2 X26:2 Q26"},
        Scenario{"InteractiveUseOnALaterReleaseEveryAnswerAndNoTimer",
                 {},
                 "os:15.1.0 load disable t2 r0 r-1 fail:denied approve swap:2:1",
                 "w O W K M Na Nd S2 U3:-1 F4:denied A5 P5:2:1 a6"},
        Scenario{"Monterey0", {"-install"}, "os:12.0.0", "w G:Monterey"},
        Scenario{"BigSurAnswersReachNoActivityLog",
                 {"-install"},
                 "os:11.7.0 load t2 fail:x",
                 "w G:BigSur Na F2:x"},
        Scenario{"AfterRebootThenTheLeastResultWithDefaultLogTypeOff",
                 {"-uninstall"},
                 "quiet t2 r1 t4 r-9223372036854775808",
                 "w O K E:u Nd1 M1 T1:1 R2 T3:2 U4:-9223372036854775808 T4:3 X6:1 Q6"},
        Scenario{"UnexpectedMaxStaysOpen",
                 {"-installInteractive"},
                 "t2 r9223372036854775807",
                 interactive + "U2:9223372036854775807 T2:2 X6:1 X7:2"},
        Scenario{"ReplacementNewerEqualOlder",
                 {"-install"},
                 "t2 swap:1.0.0:1.2.0 swap:1.2.0:1.2.0 swap:1.2.0:1.0.0",
                 install + "P2:1.0.0:1.2.0 a3 P3:1.2.0:1.2.0 a4 P4:1.2.0:1.0.0 a5 X6:1 Q6"},
        Scenario{"ApprovalsThenFailureAndUnexpectedArmNoTimer",
                 {"-install"},
                 "t2 approve approve t4 fail:denied r7",
                 install + "A2 I2:1 !2:h A2 !2:h F4:denied !4:f U5:7"},
        Scenario{"KeepRunningOutlivesEveryTimerAndAnswer",
                 {"-installInteractive"},
                 "t2 fail:x t10 fail:late t20 r0 t30 approve",
                 interactive + "F2:x !2:f T3:2 X6:1 X8:2 F10:late !10:f T11:3 X16:3 S20 T21:4 "
                               "X26:4 A30 I30:4 !30:h"},
        Scenario{"UserQuitsDespiteKeepRunning",
                 {"-installInteractive"},
                 "fail:denied t30 quit",
                 interactive + "F1:denied !1:f T2:2 X6:1 X7:2 B30"},
        Scenario{"NoOutlets",
                 {"-install"},
                 "bare t2 fail:gone r5 approve swap:1:2",
                 install + "F2:gone !2:f T3:2 U3:5 T3:3 A4 I4:3 !4:h P4:1:2 a5 X6:1 Q6"},
        // -wait: the exit timer before the outcome ends nothing; the outcome does,
        // through its pause and timer, also after an approval; else the deadline.
        Scenario{"WaitEndsAfterAnOutcomeOnly",
                 {"-install", "-wait", "30"},
                 "t10 r1",
                 installWait + "X6:2 R10 T11:3 X16:3 Q16",
                 3},
        Scenario{"WaitedFailureAfterApprovalStillEnds",
                 {"-install", "-wait", "30"},
                 "t2 approve t4 fail:x",
                 installWait + "A2 I2:2 !2:h F4:x !4:f T5:3 X10:3 Q10",
                 1},
        Scenario{"WaitDeadlineAfterApproval",
                 {"-install", "-wait", "30"},
                 "t2 approve",
                 installWait + "A2 I2:2 !2:h X31:1 Q31",
                 4},
        Scenario{"WaitDeadlineWithoutAnswer",
                 {"-uninstall", "-wait", "3"},
                 "",
                 uninstallWait + "X4:1 Q4",
                 1},
        Scenario{"WaitQuitAfterACompletionSaysIt",
                 {"-uninstall", "-wait", "3"},
                 "t2 r0 quit",
                 uninstallWait + "S2 T3:3 B3"},
        Scenario{"WaitOnAReleaseNotServed",
                 {"-install", "-wait", "30"},
                 "os:12.7.6",
                 "w G:Monterey Q",
                 5},
        // A properties request's end, if it comes, is not its answer.
        Scenario{"StatusOfTwoVersions", {"-status"}, "r0 found:du", "O Np V:du Q", 3},
        Scenario{"StatusQueryFailed", {"-status"}, "fail:x", "O Np !:s Q", 1},
        Scenario{"HelpAfterAnyOtherArgument", {"x", "--help"}, "", "H Q"},
        Scenario{"WaitWithInteractiveInstallIsAUsageError",
                 {"-installInteractive", "-wait", "5"},
                 "",
                 "!:w Q",
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
    foreign->setDelegate(
        dynamic_cast<platform::SystemExtensionRequestDelegate*>(fake.delegate.get()));
    platform::submitRequest(foreign);
    fake.pressLoadButton();
    fake.runUntilIdle();
    fake.clearTrace();
    fake.answerFailed(1, h);
    fake.answerNeedsApproval(0);
    fake.answerReplacement(1, h, h + "!");
    fake.runUntilIdle();
    EXPECT_EQ(fake.trace(), expand("F0:$ A1:$ P1:$:$! a2", {}, h));
}

INSTANTIATE_TEST_SUITE_P(Texts, HostileTest, ::testing::Range(std::size_t{0}, hostile.size()));

}  // namespace
