// The activity log's file handle: appending only, never waiting, and a line
// whole or absent. (The exact bytes of a line, after a last line without a line
// feed, and a log that cannot be written in a whole run: rows of scenarios.txt;
// several processes appending at once: tests/load.)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <future>

#include "LauncherTest.hpp"
#include "platform/FileHandle.hpp"

namespace {

// Opened for reading and writing, as an update handle is, appending, and without
// blocking: seen in the descriptor's flags, because root may read a file
// whatever its mode. An open takes the lowest free descriptor.
TEST_F(LauncherTest, ActivityLogHandleIsOpenForReadingAndWritingAppendingWithoutBlocking) {
    fake.createActivityLog();
    const int next = ::open("/dev/null", O_RDONLY);
    ::close(next);
    const auto handle = platform::fileHandleForAppending(fake.activityLogPath());
    struct stat log {
    }, opened{};
    ASSERT_TRUE(handle && ::stat(fake.activityLogPath().c_str(), &log) == 0 &&
                ::fstat(next, &opened) == 0 && opened.st_ino == log.st_ino);
    EXPECT_EQ(::fcntl(next, F_GETFL) & (O_ACCMODE | O_APPEND | O_NONBLOCK),
              O_RDWR | O_APPEND | O_NONBLOCK);
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

}  // namespace
