// The activity log: the exact bytes of a line, appending only, never creating,
// and the launcher carrying on exactly as with a healthy log when the file is
// missing, not a file, full, frozen or deleted, before the run or in the middle
// of it, with what the file held left as it was. (Several processes appending
// at once: tests/load.)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>

#include "LauncherTest.hpp"
#include "platform/FileHandle.hpp"
#include "veltrin_Driverkit_Launcher/ActivityLog.hpp"
#include "veltrin_Driverkit_Launcher/LauncherState.hpp"

namespace {

namespace fs = std::filesystem;

class ActivityLogTest : public LauncherTest {
  protected:
    void useLogFile() {
        launcher::logFileURL = launcher::FileURL::fileURLWithPath(fake.activityLogPath());
    }
};

// ---------------------------------------------------------------- writeLog alone

struct Writes {
    const char* name;
    std::optional<std::string> before;                  // none: no file
    std::vector<std::pair<double, std::string>> texts;  // each after advancing the clock so far
    std::optional<std::string> after;
};

class WriteLogTest : public ActivityLogTest, public ::testing::WithParamInterface<Writes> {};

TEST_P(WriteLogTest, AppendsExactlyTheseBytes) {
    const Writes& w = GetParam();
    if (w.before) {
        fake.createActivityLog(*w.before);
    }
    useLogFile();
    for (const auto& [seconds, text] : w.texts) {
        fake.advanceClock(seconds);
        launcher::writeLog(text);
    }
    EXPECT_EQ(fake.activityLogBytes(), w.after);
    EXPECT_EQ(fs::is_empty(fake.home()), !w.after.has_value());  // nothing else was created
}

INSTANTIATE_TEST_SUITE_P(
    Lines, WriteLogTest,
    ::testing::Values(
        Writes{"MissingFileStaysMissing",
               std::nullopt,
               {{0, "Start:installing driver\n"}},
               std::nullopt},
        Writes{"NoSeparatorAfterALastByteThatIsNotALineFeed",
               "earlier run\r\nunfinished",
               {{0, "Info:next"}},
               "earlier run\r\nunfinished05/12/2026 07:41:39:Info:next\r\n"},
        Writes{"NonAsciiAsItsUtf8BytesAndLineFeedsUnchanged",
               "",
               {{0, "Info:\xC3\xBC\xE2\x80\xA8\n\r%@"}},
               "05/12/2026 07:41:39:Info:\xC3\xBC\xE2\x80\xA8\n\r%@\r\n"},
        Writes{"CallsInOneSecondShareTheStampInCallOrder",
               "",
               {{0.25, "a"}, {0.5, "b"}, {0.25, "c"}},
               "05/12/2026 07:41:39:a\r\n05/12/2026 07:41:39:b\r\n05/12/2026 07:41:40:c\r\n"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(ActivityLogTest, WithoutALogFileURLNothingIsTouched) {
    fake.createActivityLog();
    launcher::writeLog("x");
    EXPECT_EQ(fake.activityLogBytes(), "");
    EXPECT_TRUE(fake.trace().empty());
}

// Opened for reading and writing, appending, as an update handle is; seen in the
// descriptor's flags, because root may read a file whatever its mode.
TEST_F(ActivityLogTest, HandleIsOpenForReadingAndWritingInAppendMode) {
    fake.createActivityLog();
    const auto handle = platform::fileHandleForAppending(fake.activityLogPath());
    ASSERT_NE(handle, nullptr);
    int flags = -1;
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (fs::read_symlink(fd.path(), error) == fake.activityLogPath()) {
            std::ifstream info("/proc/self/fdinfo/" + fd.path().filename().string());
            for (std::string word; info >> word && word != "flags:";) {
            }
            info >> std::oct >> flags;
        }
    }
    EXPECT_EQ(flags & (O_ACCMODE | O_APPEND | O_CREAT), O_RDWR | O_APPEND);
}

// ---------------------------------------------------------------- a log that cannot be written,
// whole runs

// Makes the file unwritable in a way that also holds for root, which ignores
// permission bits. The reason it could not, or nothing.
std::optional<std::string> freeze(const std::string& path) {
    if (::geteuid() != 0) {
        return ::chmod(path.c_str(), 0444) == 0 ? std::nullopt
                                                : std::optional<std::string>("chmod failed");
    }
    if (std::system(("chattr +i '" + path + "' 2>/dev/null").c_str()) != 0) {
        return "running as root and `chattr +i` is not available on this filesystem, so no "
               "file can be made unwritable";
    }
    const int probe = ::open(path.c_str(), O_WRONLY | O_APPEND);
    if (probe >= 0) {
        ::close(probe);
        return "`chattr +i` did not make the file unwritable for root";
    }
    return std::nullopt;
}

void thaw(const std::string& path) {
    if (::geteuid() == 0) {
        std::system(("chattr -i '" + path + "' 2>/dev/null").c_str());
    }
}

class UnwritableLogTest : public ActivityLogTest {
  protected:
    // -install with an approval at 1 s and a completion at 5 s; `fault` runs once
    // the launch has written its two lines.
    void runInstall(const std::function<void()>& fault = [] {}) {
        fake.launch({"-install"});
        fault();
        fake.answerNeedsApproval(0);
        fake.runUntil(5.0);
        fake.answerFinished(0, 0);
        fake.runUntilNoTasksRemain();
    }

    // Every other sink went on exactly as with a healthy log; `launchLines`:
    // whether the launch's two lines reached the file.
    void expectTheRunCarriedOn(bool launchLines) {
        const std::string success =
            "Success:System extension operation successful. Please restart your computer.";
        EXPECT_EQ(fake::lines(fake.trace()),
                  fake::lines(
                      concat({commandLineLaunch("-install", launchLines),
                              {"1 Log Info:System Extension %@ requires user approval | " + dext(),
                               "1 Status Extension " + dext() + " requires user approval",
                               "1 Invalidated #1", "5 Log " + success, "5 Status " + success,
                               "6 Scheduled #2 5 app", "11 Fired #2", "11 Terminate app"}})));
        EXPECT_TRUE(fake.ended());
    }

    std::string launchBytes() const {
        return line(0, "Start:installing driver\n") + line(1, "Info:Command arguments=");
    }
};

struct Fault {
    const char* name;
    std::function<std::optional<std::string>(const std::string&path)> before, during;
    bool launchLines;  // whether the launch's two lines reach the file
};

class FaultTest : public UnwritableLogTest, public ::testing::WithParamInterface<Fault> {};

// The line is dropped, what the file held stays, nothing is created, the run
// goes on as with a healthy log; before the run or in the middle of it.
TEST_P(FaultTest, RunCarriesOnAndTheFileKeepsWhatItHeld) {
    const std::string path = fake.activityLogPath();
    std::optional<std::string> skip = GetParam().before(path);
    fake.clearTrace();
    runInstall([&] { skip = skip ? skip : GetParam().during(path); });
    const auto bytes = fake.activityLogBytes();
    thaw(path);
    if (skip) {
        GTEST_SKIP() << *skip;
    }
    expectTheRunCarriedOn(GetParam().launchLines);
    EXPECT_TRUE(!bytes || *bytes == (GetParam().launchLines ? launchBytes() : "before\n"));
    EXPECT_TRUE(fs::exists(path) || fs::is_empty(fake.home()));
    EXPECT_TRUE(!fs::is_directory(path) || fs::is_empty(path));
}

const auto nothing = [](const std::string&) -> std::optional<std::string> { return std::nullopt; };
const auto make = [](std::function<void(const std::string&)> f) {
    return [f](const std::string& path) -> std::optional<std::string> {
        f(path);
        return std::nullopt;
    };
};
const auto file = make([](const std::string& p) { std::ofstream(p) << "before\n"; });
const auto directory = make([](const std::string& p) {
    fs::remove(p);
    fs::create_directory(p);
});
const auto frozen = [](const std::string& path) { return freeze(path); };

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultTest,
    ::testing::Values(
        Fault{"Missing", nothing, nothing, false}, Fault{"Directory", directory, nothing, false},
        Fault{"FullDisk", make([](const std::string& p) { fs::create_symlink("/dev/full", p); }),
              nothing, false},
        Fault{"FifoWithoutReader", make([](const std::string& p) { ::mkfifo(p.c_str(), 0600); }),
              nothing, false},
        Fault{"ReadOnly", [](const std::string& p) { return file(p), frozen(p); }, nothing, false},
        Fault{"DirectoryMidRun", make([](const std::string& p) { std::ofstream{p}; }), directory,
              true},
        Fault{"ReadOnlyMidRun", make([](const std::string& p) { std::ofstream{p}; }), frozen, true},
        Fault{"DeletedMidRun", make([](const std::string& p) { std::ofstream{p}; }),
              make([](const std::string& p) { fs::remove(p); }), true}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
