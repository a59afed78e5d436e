// Whole runs of the launcher on the fake platform, one row each: name | flags |
// what the service and the user do when (FakePlatform::play; before it, os:X.Y.Z
// sets the release, quiet turns the default log type off, bare connects no
// outlets, log:HOW spoils the activity log before the launch and midrun:HOW
// right after it) | the expected trace of every sink in LauncherTest's
// notation | the exit status. An indented line goes on with the row above.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <utility>

#include "LauncherTest.hpp"

namespace {

namespace fs = std::filesystem;

constexpr const char* scenarios = R"(
TypicalInstallWithApproval | -install | t3 approve t20 r0 | @install A3 I3:1 !3:h S20 T21:2 X26:2 Q26 | 0
InteractiveUseOnALaterReleaseEveryAnswerAndNoTimer | | os:15.1.0 load disable t2 r0 r-1 fail:denied
    approve swap:2:1 | w O W K M N:activation N:deactivation S2 U3:-1 F4:denied A5 P5:2:1 a6 | 0
Monterey0 | -install | os:12.0.0 | w G:Monterey | 0
BigSurAnswersReachNoActivityLog | -install | os:11.7.0 load t2 fail:x | w G:Big_Sur N:activation F2:x | 0
AfterRebootThenTheLeastResultWithDefaultLogTypeOff | -uninstall | quiet t2 r1 t4 r-9223372036854775808
    | w O K E:uninstalling_driver N1:deactivation M1 T1:1 R2 T3:2 U4:-9223372036854775808 T4:3 X6:1 Q6 | 0
UnexpectedMaxStaysOpen | -installInteractive | t2 r9223372036854775807
    | @interactive U2:9223372036854775807 T2:2 X6:1 X7:2 | 0
ReplacementNewerEqualOlder | -install | t2 swap:1.0.0:1.2.0 swap:1.2.0:1.2.0 swap:1.2.0:1.0.0
    | @install P2:1.0.0:1.2.0 a3 P3:1.2.0:1.2.0 a4 P4:1.2.0:1.0.0 a5 X6:1 Q6 | 0
ApprovalsThenFailureAndUnexpectedArmNoTimer | -install | t2 approve approve t4 fail:denied r7
    | @install A2 I2:1 !2:h A2 !2:h F4:denied !4:f U5:7 | 0
KeepRunningOutlivesEveryTimerAndAnswer | -installInteractive | t2 fail:x t10 fail:late t20 r0 t30
    approve | @interactive F2:x !2:f T3:2 X6:1 X8:2 F10:late !10:f T11:3 X16:3 S20 T21:4 X26:4 A30
    I30:4 !30:h | 0
UserQuitsDespiteKeepRunning | -installInteractive | fail:denied t30 quit
    | @interactive F1:denied !1:f T2:2 X6:1 X7:2 B30 | 0
NoOutlets | -install | bare t2 fail:gone r5 approve swap:1:2
    | - @install F2:gone !2:f T3:2 U3:5 T3:3 A4 I4:3 !4:h P4:1:2 a5 X6:1 Q6 | 0
WaitEndsAfterAnOutcomeOnly | -install -wait 86400 | t10 r1 | w O W K E:installing_driver
    N1:activation D1:1:86400 M1 T1:2 X6:2 R10 T11:3 X16:3 Q16 | 3
WaitedFailureAfterApprovalStillEnds | -install -wait 30 | t2 approve t4 fail:x
    | @installWait A2 I2:2 !2:h F4:x !4:f T5:3 X10:3 Q10 | 1
WaitDeadlineAfterApproval | -install -wait 30 | t2 approve | @installWait A2 I2:2 !2:h X31:1 Q31 | 4
WaitDeadlineWithoutAnswer | -uninstall -wait 3 | | @uninstallWait X4:1 Q4 | 1
WaitQuitAfterACompletionSaysIt | -uninstall -wait 3 | t2 r0 quit | @uninstallWait S2 T3:3 B3 | 0
WaitOnAReleaseNotServed | -install -wait 30 | os:12.7.6 | w G:Monterey Q | 5
StatusOfTwoVersions | -status | r0 found:du | O N:properties V:disabled:uninstalling Q | 3
StatusQueryFailed | -status | fail:x | O N:properties !:s Q | 1
HelpAfterAnyOtherArgument | x --help | | H Q | 0
WaitWithInteractiveInstallIsAUsageError | -installInteractive -wait 5 | | !:w Q | 2
)";

// An activity log that cannot take a line: the line is dropped, what the file
// held stays, nothing is created, the run goes on as with a healthy log.
constexpr const char* faults = R"(
Missing | -install | log:missing approve t5 r0 | ~ @install A1 I1:1 !1:h S5 T6:2 X11:2 Q11 | 0
Directory | -install | log:directory approve t5 r0 | ~ @install A1 I1:1 !1:h S5 T6:2 X11:2 Q11 | 0
FullDisk | -install | log:full approve t5 r0 | ~ @install A1 I1:1 !1:h S5 T6:2 X11:2 Q11 | 0
FileSizeLimit | -install | log:limit approve t5 r0 | ~ @install A1 I1:1 !1:h S5 T6:2 X11:2 Q11 | 0
ReadOnly | -install | log:readonly approve t5 r0 | ~ @install A1 I1:1 !1:h S5 T6:2 X11:2 Q11 | 0
DirectoryMidRun | -install | midrun:directory approve t5 r0 | @install ~ A1 I1:1 !1:h S5 T6:2 X11:2 Q11 | 0
ReadOnlyMidRun | -install | midrun:readonly approve t5 r0 | @install ~ A1 I1:1 !1:h S5 T6:2 X11:2 Q11 | 0
DeletedMidRun | -install | midrun:deleted approve t5 r0 | @install ~ A1 I1:1 !1:h S5 T6:2 X11:2 Q11 | 0
)";

struct Scenario {
    std::string name, flags, script, expected;
    int status = 0;
};

std::vector<Scenario> rows(const char* table) {
    std::vector<Scenario> made;
    std::istringstream lines(table);
    std::string row;
    for (std::string line; std::getline(lines, line);) {
        row += line;
        if (!row.empty() && lines.peek() != ' ') {
            std::istringstream fields(std::exchange(row, ""));
            Scenario& s = made.emplace_back();
            for (std::string* field : {&s.name, &s.flags, &s.script, &s.expected}) {
                std::getline(fields, *field, '|');
            }
            fields >> s.status;
            std::erase(s.name, ' ');
        }
    }
    return made;
}

std::string cannotFreeze;  // why the last freeze could not make the file unwritable

// Makes the file unwritable in a way that also holds for root, which ignores
// permission bits.
void freeze(const std::string& path) {
    ::chmod(path.c_str(), 0444);
    if (::geteuid() == 0) {
        static_cast<void>(std::system(("chattr +i '" + path + "' 2>/dev/null").c_str()));
    }
    if (const int probe = ::open(path.c_str(), O_WRONLY | O_APPEND); probe >= 0) {
        ::close(probe);
        cannotFreeze = "the file stays writable: root, and no `chattr +i` on this filesystem";
    }
}

// Spoils the activity log; returns what it then holds.
std::string spoil(const std::string& how, const std::string& path) {
    if (how != "readonly") {
        fs::remove(path);
    }
    if (how == "directory") {
        fs::create_directory(path);
    } else if (how == "full") {
        fs::create_symlink("/dev/full", path);
    } else if (how == "limit" || (how == "readonly" && fs::is_empty(path))) {
        std::ofstream(path) << "before\n";
    }
    if (how == "limit") {
        // Each line starts to fit and then cannot end: whole or absent, so absent.
        static_cast<void>(std::signal(SIGXFSZ, SIG_IGN));
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 7 + 30;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    } else if (how == "readonly") {
        freeze(path);
    }
    return fs::is_regular_file(path) ? "before\n" : "";
}

class ScenarioTest : public LauncherTest, public ::testing::WithParamInterface<Scenario> {
  protected:
    void run() {
        const Scenario& row = GetParam();
        const std::string path = fake.activityLogPath();
        rlimit fileSize{};
        ::getrlimit(RLIMIT_FSIZE, &fileSize);
        cannotFreeze.clear();
        fake.createActivityLog();
        std::string held, midrun, play;
        std::istringstream setup(row.script);
        for (std::string word; setup >> word;) {
            const std::string kind = word.substr(0, word.find(':'));
            const std::string how = word.substr(std::min(word.size(), kind.size() + 1));
            fake.osLogDefaultTypeEnabled &= kind != "quiet";
            fake.outletsConnected &= kind != "bare";
            std::sscanf(word.c_str(), "os:%ld.%ld.%ld", &fake.release.major, &fake.release.minor,
                        &fake.release.patch);
            held = kind == "log" ? spoil(how, path) : held;
            midrun = kind == "midrun" ? how : midrun;
            const bool setting = kind == "os" || kind == "log" || kind == "midrun" ||
                                 kind == "quiet" || kind == "bare";
            play += setting ? "" : word + " ";
        }
        std::vector<std::string> flags;
        std::istringstream given(row.flags);
        for (std::string flag; given >> flag;) {
            flags.push_back(flag);
        }
        fake.clearTrace();
        fake.launch(flags);
        if (!midrun.empty()) {
            spoil(midrun, path);
        }
        fake.play(play + "t3600");
        const auto bytes = fake.activityLogBytes();
        ::setrlimit(RLIMIT_FSIZE, &fileSize);
        if (::geteuid() == 0) {
            std::system(("chattr -i '" + path + "' 2>/dev/null").c_str());
        }
        if (!cannotFreeze.empty()) {
            GTEST_SKIP() << cannotFreeze;
        }
        EXPECT_EQ(fake::lines(fake.trace()), fake::lines(expand(row.expected, flags)));
        EXPECT_EQ(fake.exitStatus, row.status);
        for (const fake::Entry& e : fake.trace()) {
            held += e.sink == "ActivityLog" ? e.what : "";
        }
        EXPECT_TRUE(!bytes || *bytes == held);                     // what it held, then whole lines
        EXPECT_TRUE(fs::exists(path) || fs::is_empty(fake.home));  // never created
        EXPECT_TRUE(!fs::is_directory(path) || fs::is_empty(path));
    }
};

TEST_P(ScenarioTest, TraceOfEverySink) {
    run();
}

INSTANTIATE_TEST_SUITE_P(Runs, ScenarioTest, ::testing::ValuesIn(rows(scenarios)),
                         [](const auto& row) { return row.param.name; });

class FaultTest : public ScenarioTest {};

TEST_P(FaultTest, RunCarriesOnAndTheFileKeepsWhatItHeld) {
    run();
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultTest, ::testing::ValuesIn(rows(faults)),
                         [](const auto& row) { return row.param.name; });

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
    fake.play("load t0");
    fake.clearTrace();
    fake.play("fail@1:$ approve swap@1:$:$! t0", h);
    EXPECT_EQ(fake.trace(), expand("F0:$ A1:$ P1:$:$! a2", {}, h));
}

INSTANTIATE_TEST_SUITE_P(Texts, HostileTest, ::testing::Range(std::size_t{0}, hostile.size()));

}  // namespace
