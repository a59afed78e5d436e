// The activity log: the exact bytes of a line, appending only, never creating,
// two processes appending at once, and the launcher carrying on exactly as with a
// healthy log when the file is missing, not a file, full, frozen or deleted,
// before the run or in the middle of it, with what the file held left as it was.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <utility>

#include "LauncherTest.hpp"
#include "platform/FileHandle.hpp"
#include "veltrin_Driverkit_Launcher/ActivityLog.hpp"
#include "veltrin_Driverkit_Launcher/LauncherState.hpp"

extern char** environ;

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
        Writes{"EmptyFileGetsExactlyOneLine",
               "",
               {{0, "Success:done"}},
               "05/12/2026 07:41:39:Success:done\r\n"},
        Writes{"EmptyTextMakesTwentyTwoBytes", "", {{0, ""}}, "05/12/2026 07:41:39:\r\n"},
        Writes{"StartLineEndsWithLineFeedCarriageReturnLineFeed",
               "",
               {{0, "Start:installing driver\n"}},
               "05/12/2026 07:41:39:Start:installing driver\x0A\x0D\x0A"},
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

TEST_F(ActivityLogTest, StampRollsOverDayMonthAndYear) {
    fake.setStartDateTime({2026, 12, 31, 23, 59, 59});
    fake.createActivityLog();
    useLogFile();
    launcher::writeLog("a");
    fake.advanceClock(1.0);
    launcher::writeLog("b");
    EXPECT_EQ(fake.activityLogBytes(), "31/12/2026 23:59:59:a\r\n01/01/2027 00:00:00:b\r\n");
}

TEST_F(ActivityLogTest, LargeFileGetsTheLineAppendedInPlace) {
    const std::string row = line(0, "Info:" + std::string(200, 'e'));
    std::string earlier;
    while (earlier.size() < 4 * 1024 * 1024) {
        earlier += row;
    }
    earlier += "half a line";  // an earlier run cut short
    fake.createActivityLog(earlier);
    struct stat before {};
    ASSERT_EQ(::stat(fake.activityLogPath().c_str(), &before), 0);
    useLogFile();
    launcher::writeLog("Success:done");
    struct stat after {};
    ASSERT_EQ(::stat(fake.activityLogPath().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced, not appended to";
    EXPECT_TRUE(*fake.activityLogBytes() == earlier + "05/12/2026 07:41:39:Success:done\r\n");
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

// ---------------------------------------------------------------- two processes appending at once

TEST_F(ActivityLogTest, TwoProcessesAppendingAtOnceLoseNoLine) {
    constexpr int linesEach = 3000;
    fake.createActivityLog();
    const std::string path = fake.activityLogPath();
    const std::string count = std::to_string(linesEach);

    pid_t children[2];
    const char* tags[2] = {"A", "B"};
    for (int i = 0; i < 2; ++i) {
        const char* argv[] = {ACTIVITY_LOG_APPENDER, path.c_str(), tags[i], count.c_str(), nullptr};
        ASSERT_EQ(::posix_spawn(&children[i], ACTIVITY_LOG_APPENDER, nullptr, nullptr,
                                const_cast<char* const*>(argv), environ),
                  0);
    }
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    const std::string bytes = *fake.activityLogBytes();
    const std::string padding(150, 'x');
    std::map<std::string, int> next{{"A", 0}, {"B", 0}};
    std::size_t lines = 0;
    std::size_t position = 0;
    while (position < bytes.size()) {
        const std::size_t end = bytes.find("\r\n", position);
        ASSERT_NE(end, std::string::npos) << "a line without its end at byte " << position;
        const std::string line = bytes.substr(position, end - position);
        position = end + 2;
        ++lines;
        ASSERT_EQ(line.substr(0, 20), "05/12/2026 07:41:39:") << line;
        const std::string text = line.substr(20);
        const std::string tag = text.substr(0, 1);
        ASSERT_TRUE(tag == "A" || tag == "B") << line;
        // each process's lines arrive whole and in its own order
        ASSERT_EQ(text, tag + ":" + std::to_string(next[tag]) + ":" + padding) << line;
        ++next[tag];
    }
    EXPECT_EQ(lines, 2u * linesEach);
    EXPECT_EQ(next["A"], linesEach);
    EXPECT_EQ(next["B"], linesEach);
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
        const void* app = appAddress();
        const std::string success =
            "Success:System extension operation successful. Please restart your computer.";
        EXPECT_EQ(
            fake.trace(),
            concat({installLaunch(launchLines),
                    {
                        fake::Log(1, "Info:System Extension %@ requires user approval", {dext()}),
                        fake::Status(1, "Extension " + dext() + " requires user approval"),
                        fake::Invalidated(1, 1),
                        fake::Log(5, success),
                        fake::Status(5, success),
                        fake::Scheduled(6, 2, 5.0, app),
                        fake::Fired(11, 2),
                        fake::Terminate(11, app),
                    }}));
        EXPECT_TRUE(fake.ended());
    }

    std::string launchBytes() const {
        return line(0, "Start:installing driver\n") + line(1, "Info:Command arguments=");
    }
};

TEST_F(UnwritableLogTest, MissingFileStaysMissingThroughAWholeRun) {
    runInstall();
    expectTheRunCarriedOn(false);
    EXPECT_FALSE(fs::exists(fake.activityLogPath()));
}

TEST_F(UnwritableLogTest, DirectoryInItsPlace) {
    fs::create_directory(fake.activityLogPath());
    runInstall();
    expectTheRunCarriedOn(false);
    EXPECT_TRUE(fs::is_empty(fake.activityLogPath()));
}

TEST_F(UnwritableLogTest, FifoWithoutAReaderDoesNotHang) {
    ASSERT_EQ(::mkfifo(fake.activityLogPath().c_str(), 0600), 0);
    runInstall();
    expectTheRunCarriedOn(false);
    EXPECT_TRUE(fs::is_fifo(fake.activityLogPath()));
}

TEST_F(UnwritableLogTest, FullDisk) {
    ASSERT_EQ(::symlink("/dev/full", fake.activityLogPath().c_str()), 0);
    runInstall();
    expectTheRunCarriedOn(false);
    EXPECT_TRUE(fs::is_symlink(fake.activityLogPath()));
}

TEST_F(UnwritableLogTest, ReadOnlyFileIsLeftAsItWas) {
    fake.createActivityLog("before\n");
    const std::string path = fake.activityLogPath();
    if (const auto skip = freeze(path)) {
        thaw(path);
        GTEST_SKIP() << *skip;
    }
    runInstall();
    expectTheRunCarriedOn(false);
    const auto bytes = fake.activityLogBytes();
    thaw(path);
    EXPECT_EQ(bytes, "before\n");
}

TEST_F(UnwritableLogTest, FileTurnedIntoADirectoryMidRun) {
    fake.createActivityLog();
    runInstall([&] {
        fs::remove(fake.activityLogPath());
        fs::create_directory(fake.activityLogPath());
    });
    expectTheRunCarriedOn(true);
    EXPECT_TRUE(fs::is_empty(fake.activityLogPath()));
}

TEST_F(UnwritableLogTest, FileMadeUnwritableMidRunKeepsItsLines) {
    fake.createActivityLog();
    const std::string path = fake.activityLogPath();
    std::optional<std::string> skip;
    runInstall([&] { skip = freeze(path); });
    const auto bytes = fake.activityLogBytes();
    thaw(path);
    if (skip) {
        GTEST_SKIP() << *skip;
    }
    expectTheRunCarriedOn(true);
    EXPECT_EQ(bytes, launchBytes());
}

TEST_F(UnwritableLogTest, FileDeletedMidRunIsNotCreatedAgain) {
    fake.createActivityLog();
    runInstall([&] { fs::remove(fake.activityLogPath()); });
    expectTheRunCarriedOn(true);
    EXPECT_TRUE(fs::is_empty(fake.home()));
}

}  // namespace
