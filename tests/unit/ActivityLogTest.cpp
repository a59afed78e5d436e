// The activity log: the exact bytes of a line, appending only, never
// creating, and the launcher carrying on when the file cannot be written.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "LauncherTest.hpp"
#include "veltrin_Driverkit_Launcher/ActivityLog.hpp"
#include "veltrin_Driverkit_Launcher/LauncherState.hpp"

extern char** environ;

namespace {

namespace fs = std::filesystem;

class ActivityLogTest : public LauncherTest {
protected:
    void useLogFile() { launcher::logFileURL = launcher::FileURL::fileURLWithPath(fake.activityLogPath()); }
};

// ---------------------------------------------------------------- writeLog alone

TEST_F(ActivityLogTest, WithoutALogFileURLNothingIsTouched) {
    fake.createActivityLog();
    launcher::writeLog("x");
    EXPECT_EQ(fake.activityLogBytes(), "");
    EXPECT_TRUE(fake.trace().empty());
}

TEST_F(ActivityLogTest, AMissingFileStaysMissing) {
    useLogFile();
    launcher::writeLog("Start:installing driver\n");
    EXPECT_FALSE(fs::exists(fake.activityLogPath()));
    EXPECT_TRUE(fs::is_empty(fake.home()));
}

TEST_F(ActivityLogTest, AnEmptyFileGetsExactlyOneLine) {
    fake.createActivityLog();
    useLogFile();
    launcher::writeLog("Success:done");
    EXPECT_EQ(fake.activityLogBytes(), "05/12/2026 07:41:39:Success:done\r\n");
}

TEST_F(ActivityLogTest, AnEmptyTextMakesTwentyTwoBytes) {
    fake.createActivityLog();
    useLogFile();
    launcher::writeLog("");
    const auto bytes = fake.activityLogBytes();
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->size(), 22u);
    EXPECT_EQ(*bytes, "05/12/2026 07:41:39:\r\n");
}

TEST_F(ActivityLogTest, AStartLineEndsWithLineFeedCarriageReturnLineFeed) {
    fake.createActivityLog();
    useLogFile();
    launcher::writeLog("Start:installing driver\n");
    const std::string bytes = *fake.activityLogBytes();
    EXPECT_EQ(bytes.size(), 19u + 1u + 24u + 2u);
    EXPECT_EQ(bytes.substr(bytes.size() - 3), "\x0A\x0D\x0A");
    EXPECT_EQ(bytes[19], ':');  // the third colon of the line separates stamp and text
}

TEST_F(ActivityLogTest, NoSeparatorAfterALastByteThatIsNotALineFeed) {
    fake.createActivityLog("earlier run\r\nunfinished");
    useLogFile();
    launcher::writeLog("Info:next");
    EXPECT_EQ(fake.activityLogBytes(), "earlier run\r\nunfinished05/12/2026 07:41:39:Info:next\r\n");
}

TEST_F(ActivityLogTest, NonAsciiIsWrittenAsItsUtf8BytesAndLineFeedsUnchanged) {
    fake.createActivityLog();
    useLogFile();
    launcher::writeLog("Info:\xC3\xBC\xE2\x80\xA8\n\r%@");
    EXPECT_EQ(fake.activityLogBytes(), "05/12/2026 07:41:39:Info:\xC3\xBC\xE2\x80\xA8\n\r%@\r\n");
}

TEST_F(ActivityLogTest, TwoCallsInTheSameSecondShareTheStampInCallOrder) {
    fake.createActivityLog();
    useLogFile();
    fake.advanceClock(0.25);
    launcher::writeLog("a");
    fake.advanceClock(0.5);
    launcher::writeLog("b");
    fake.advanceClock(0.25);  // the next second begins
    launcher::writeLog("c");
    EXPECT_EQ(fake.activityLogBytes(),
              "05/12/2026 07:41:39:a\r\n05/12/2026 07:41:39:b\r\n05/12/2026 07:41:40:c\r\n");
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

// ---------------------------------------------------------------- unwritable files, whole runs

class UnwritableLogTest : public ActivityLogTest {
protected:
    // Runs -install with an approval and a completion: the whole run goes on as
    // with a writable log, only without its lines.
    void runAndExpectTheLauncherCarriesOn() {
        fake.launch({"-install"});
        fake.answerNeedsApproval(0);
        fake.runUntil(5.0);
        fake.answerFinished(0, 0);
        fake.runUntilNoTasksRemain();
        const void* app = appAddress();
        EXPECT_EQ(fake.trace(), concat({supportedLaunchStart(), {
            fake::Log(0, "Start:installing driver\n"),
            fake::Status(0, "installing driver"),
            fake::Submit(1, platform::RequestKind::activation, dext(), app, queueAddress()),
            fake::Log(1, "Info:Command arguments="),
            fake::Stdout(1, "[\"" + programPath() + "\", \"-install\"]\n"),
            fake::Scheduled(1, 1, 5.0, app),
            fake::Log(1, "Info:System Extension %@ requires user approval", {dext()}),
            fake::Status(1, "Extension " + dext() + " requires user approval"),
            fake::Invalidated(1, 1),
            fake::Log(5, "Success:System extension operation successful. Please restart your computer."),
            fake::Status(5, "Success:System extension operation successful. Please restart your computer."),
            fake::Scheduled(6, 2, 5.0, app),
            fake::Fired(11, 2),
            fake::Terminate(11, app),
        }}));
        EXPECT_TRUE(fake.ended());
    }
};

TEST_F(UnwritableLogTest, MissingFileStaysMissingThroughAWholeRun) {
    runAndExpectTheLauncherCarriesOn();
    EXPECT_FALSE(fs::exists(fake.activityLogPath()));
}

TEST_F(UnwritableLogTest, DirectoryInItsPlaceDropsTheLines) {
    fs::create_directory(fake.activityLogPath());
    runAndExpectTheLauncherCarriesOn();
    EXPECT_TRUE(fs::is_directory(fake.activityLogPath()));
    EXPECT_TRUE(fs::is_empty(fake.activityLogPath()));
}

TEST_F(UnwritableLogTest, FifoWithoutAReaderDropsTheLinesWithoutHanging) {
    ASSERT_EQ(::mkfifo(fake.activityLogPath().c_str(), 0600), 0);
    runAndExpectTheLauncherCarriesOn();
    EXPECT_TRUE(fs::is_fifo(fake.activityLogPath()));
}

TEST_F(UnwritableLogTest, ReadOnlyFileIsLeftAsItWas) {
    // Root ignores permission bits; the immutable attribute holds for root too.
    fake.createActivityLog("before\n");
    const std::string path = fake.activityLogPath();
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    } else {
        const std::string command = "chattr +i '" + path + "' 2>/dev/null";
        if (std::system(command.c_str()) != 0) {
            GTEST_SKIP() << "running as root and `chattr +i` is not available here, so no file "
                            "can be made unwritable";
        }
        const int probe = ::open(path.c_str(), O_WRONLY | O_APPEND);
        if (probe >= 0) {
            ::close(probe);
            std::system(("chattr -i '" + path + "' 2>/dev/null").c_str());
            GTEST_SKIP() << "`chattr +i` did not make the file unwritable for root";
        }
    }
    runAndExpectTheLauncherCarriesOn();
    const auto bytes = fake.activityLogBytes();
    if (::geteuid() == 0) {
        std::system(("chattr -i '" + path + "' 2>/dev/null").c_str());
    }
    EXPECT_EQ(bytes, "before\n");
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

}  // namespace
