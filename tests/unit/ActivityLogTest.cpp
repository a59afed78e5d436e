// The activity log: the exact bytes of a line, appending only, never creating,
// and the launcher carrying on exactly as with a healthy log when the file is
// missing, not a file, full, frozen or deleted, before the run or in the middle
// of it, with what the file held left as it was. (Several processes appending
// at once: tests/load.)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>

#include "LauncherTest.hpp"
#include "platform/FileHandle.hpp"
#include "veltrin_Driverkit_Launcher/ActivityLog.hpp"

namespace {

namespace fs = std::filesystem;

// After what the file holds, even a last line that has no line feed.
TEST_F(LauncherTest, WriteLogAppendsOneLineAndNothingElse) {
    fake.createActivityLog("earlier run\r\nunfinished");
    launcher::logFileURL = launcher::FileURL::fileURLWithPath(fake.activityLogPath());
    launcher::writeLog("Info:next");
    EXPECT_EQ(fake.activityLogBytes(), "earlier run\r\nunfinished" + line(0, "Info:next"));
}

// Opened for reading and writing, as an update handle is, appending, and without
// blocking: seen in the descriptor's flags, because root may read a file
// whatever its mode.
TEST_F(LauncherTest, ActivityLogHandleIsOpenForReadingAndWritingAppendingWithoutBlocking) {
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
    EXPECT_EQ(flags & (O_ACCMODE | O_APPEND | O_NONBLOCK), O_RDWR | O_APPEND | O_NONBLOCK);
}

// A FIFO whose reader never reads (here a full one) gets no line, at once:
// the main thread must never wait on it.
TEST_F(LauncherTest, AFullFifoDropsTheLineAtOnce) {
    const std::string path = fake.activityLogPath();
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    const int fifo = ::open(path.c_str(), O_RDWR | O_NONBLOCK);
    const char page[4096]{};
    while (::write(fifo, page, sizeof page) > 0 || ::write(fifo, page, 1) > 0) {
    }
    auto writing = std::async(std::launch::async, [&path] {
        platform::fileHandleForAppending(path)->writeData("a line\r\n");
    });
    const bool returned = writing.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    // Drained, so that a write that waits can end, and the test with it.
    for (char bytes[4096]; !returned && ::read(fifo, bytes, sizeof bytes) > 0;) {
    }
    EXPECT_TRUE(returned) << "the write waited for a reader";
    ::close(fifo);
}

// A line cut short by a file-size limit stays when another writer has appended
// after it (here at the very moment the limit strikes): taking it back would
// take the other writer's line too.
rlimit unlimitedFileSize{};
int otherWriter = -1;

TEST_F(LauncherTest, ALineCutShortStaysWhenAnotherWriterAppendedAfterIt) {
    fake.createActivityLog("before\n");
    otherWriter = ::open(fake.activityLogPath().c_str(), O_WRONLY | O_APPEND);
    ::getrlimit(RLIMIT_FSIZE, &unlimitedFileSize);
    struct sigaction appendOther {};
    appendOther.sa_handler = [](int) {
        ::setrlimit(RLIMIT_FSIZE, &unlimitedFileSize);
        static_cast<void>(::write(otherWriter, "other\n", 6));
    };
    struct sigaction saved {};
    ::sigaction(SIGXFSZ, &appendOther, &saved);
    rlimit limit = unlimitedFileSize;
    limit.rlim_cur = 7 + 10;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    platform::fileHandleForAppending(fake.activityLogPath())->writeData("0123456789abcdef\r\n");
    ::setrlimit(RLIMIT_FSIZE, &unlimitedFileSize);
    ::sigaction(SIGXFSZ, &saved, nullptr);
    ::close(otherWriter);
    EXPECT_EQ(fake.activityLogBytes(), "before\n0123456789other\n");
}

// ---------------------------------------------------------------- a log that cannot be written,
// whole runs

std::string cannotFreeze;  // why the last freeze could not make the file unwritable

// Makes the file unwritable in a way that also holds for root, which ignores
// permission bits.
void freeze(const std::string& path) {
    if (::geteuid() != 0) {
        ::chmod(path.c_str(), 0444);
    } else if (std::system(("chattr +i '" + path + "' 2>/dev/null").c_str()) != 0) {
        cannotFreeze =
            "running as root and `chattr +i` is not available on this filesystem, so no file can "
            "be made unwritable";
    } else if (const int probe = ::open(path.c_str(), O_WRONLY | O_APPEND); probe >= 0) {
        ::close(probe);
        cannotFreeze = "`chattr +i` did not make the file unwritable for root";
    }
}

struct Fault {
    const char* name;
    // Before the launch, and once the launch has written its two lines.
    std::function<void(const std::string&path)> before, during;
    bool launchLines;  // whether the launch's two lines reach the file
};

class FaultTest : public LauncherTest, public ::testing::WithParamInterface<Fault> {};

// The line is dropped, what the file held stays, nothing is created, the run
// goes on as with a healthy log; before the run or in the middle of it.
TEST_P(FaultTest, RunCarriesOnAndTheFileKeepsWhatItHeld) {
    const Fault& fault = GetParam();
    const std::string path = fake.activityLogPath();
    rlimit fileSize{};
    ::getrlimit(RLIMIT_FSIZE, &fileSize);
    cannotFreeze.clear();
    fault.before(path);
    fake.clearTrace();
    fake.launch({"-install"});
    fault.during(path);
    fake.answerNeedsApproval(0);
    fake.runUntil(5.0);
    fake.answerFinished(0, 0);
    fake.runFor(3600);
    const auto bytes = fake.activityLogBytes();
    ::setrlimit(RLIMIT_FSIZE, &fileSize);
    if (::geteuid() == 0) {
        std::system(("chattr -i '" + path + "' 2>/dev/null").c_str());
    }
    if (!cannotFreeze.empty()) {
        GTEST_SKIP() << cannotFreeze;
    }
    const fake::Trace expected = expand(std::string(fault.launchLines ? "" : "~ ") +
                                            "w O W K E:i Na1 M1 T1:1 ~ A1 I1:1 !1:h S5 T6:2 "
                                            "X11:2 Q11",
                                        {"-install"});
    EXPECT_EQ(fake::lines(fake.trace()), fake::lines(expected));
    EXPECT_TRUE(!bytes || *bytes == (fault.launchLines ? line(0, "Start:installing driver\n") +
                                                             line(1, "Info:Command arguments=")
                                                       : "before\n"));
    EXPECT_TRUE(fs::exists(path) || fs::is_empty(fake.home));
    EXPECT_TRUE(!fs::is_directory(path) || fs::is_empty(path));
}

const auto none = [](const std::string&) {};
const auto emptyFile = [](const std::string& p) { std::ofstream{p}; };
const auto directory = [](const std::string& p) {
    fs::remove(p);
    fs::create_directory(p);
};

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultTest,
    ::testing::Values(
        Fault{"Missing", none, none, false}, Fault{"Directory", directory, none, false},
        Fault{"FullDisk", [](const std::string& p) { fs::create_symlink("/dev/full", p); }, none,
              false},
        // Each line starts to fit and then cannot end: whole or absent, so absent.
        Fault{"FileSizeLimit",
              [](const std::string& p) {
                  std::ofstream(p) << "before\n";
                  static_cast<void>(std::signal(SIGXFSZ, SIG_IGN));
                  rlimit limit{};
                  ::getrlimit(RLIMIT_FSIZE, &limit);
                  limit.rlim_cur = 7 + 30;
                  ::setrlimit(RLIMIT_FSIZE, &limit);
              },
              none, false},
        Fault{"ReadOnly",
              [](const std::string& p) {
                  std::ofstream(p) << "before\n";
                  freeze(p);
              },
              none, false},
        Fault{"DirectoryMidRun", emptyFile, directory, true},
        Fault{"ReadOnlyMidRun", emptyFile, freeze, true},
        Fault{"DeletedMidRun", emptyFile, [](const std::string& p) { fs::remove(p); }, true}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
