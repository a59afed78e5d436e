// What the backend asks of the process and the machine: the home directory,
// standard output, the local time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "platform/Host.hpp"

namespace {

class ScopedEnvironment {
  public:
    explicit ScopedEnvironment(const char* name) : name_(name) {
        if (const char* value = std::getenv(name)) {
            saved_ = value;
            wasSet_ = true;
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    ~ScopedEnvironment() {
        if (wasSet_) {
            ::setenv(name_, saved_.c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
        ::tzset();
    }

  private:
    const char* name_;
    std::string saved_;
    bool wasSet_ = false;
};

std::string passwordDatabaseHome() {
    const passwd* entry = ::getpwuid(::getuid());
    return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "/";
}

TEST(HomeDirectory, AnAbsoluteHomeIsTakenAsItStands) {
    const ScopedEnvironment home("HOME");
    ::setenv("HOME", "/tmp/some where/ü", 1);
    EXPECT_EQ(platform::homeDirectoryForCurrentUser(), "/tmp/some where/ü");
}

TEST(HomeDirectory, AHomeThatNamesNoPlaceFallsBackToThePasswordDatabase) {
    const ScopedEnvironment home("HOME");
    for (const char* unusable : {"", "relative/dir", "~"}) {
        ::setenv("HOME", unusable, 1);
        EXPECT_EQ(platform::homeDirectoryForCurrentUser(), passwordDatabaseHome())
            << "HOME='" << unusable << "'";
    }
    ::unsetenv("HOME");
    EXPECT_EQ(platform::homeDirectoryForCurrentUser(), passwordDatabaseHome());
    EXPECT_EQ(platform::homeDirectoryForCurrentUser().front(), '/');
}

// Standard output redirected into a pipe for the life of the object.
class CapturedStandardOutput {
  public:
    explicit CapturedStandardOutput(int writeFlags = 0) {
        EXPECT_EQ(::pipe(ends_), 0);
        savedStdout_ = ::dup(STDOUT_FILENO);
        ::fcntl(ends_[1], F_SETFL, ::fcntl(ends_[1], F_GETFL) | writeFlags);
        ::dup2(ends_[1], STDOUT_FILENO);
        ::fcntl(ends_[0], F_SETFL, ::fcntl(ends_[0], F_GETFL) | O_NONBLOCK);
    }
    CapturedStandardOutput(const CapturedStandardOutput&) = delete;
    CapturedStandardOutput& operator=(const CapturedStandardOutput&) = delete;
    ~CapturedStandardOutput() {
        ::dup2(savedStdout_, STDOUT_FILENO);
        ::close(savedStdout_);
        ::close(ends_[0]);
        ::close(ends_[1]);
    }

    // What the pipe holds right now, without waiting.
    std::string available() const {
        std::string bytes;
        char chunk[4096];
        ssize_t count = 0;
        while ((count = ::read(ends_[0], chunk, sizeof chunk)) > 0) {
            bytes.append(chunk, static_cast<std::size_t>(count));
        }
        return bytes;
    }

    int pipeCapacity() const { return ::fcntl(ends_[1], F_GETPIPE_SZ); }

  private:
    int ends_[2] = {-1, -1};
    int savedStdout_ = -1;
};

TEST(StandardOutput, EachWriteIsInThePipeAtOnceAndByteForByte) {
    const CapturedStandardOutput captured;
    const std::string first("%s %n %d %@ \\ \"\n", 16);
    const std::string second("\xff\xfe\0tail\n", 8);
    platform::writeStandardOutput(first);
    EXPECT_EQ(captured.available(), first);
    platform::writeStandardOutput(second);
    EXPECT_EQ(captured.available(), second);
}

TEST(StandardOutput, ANonBlockingPipeThatIsFullDelaysTheLineInsteadOfLosingIt) {
    const CapturedStandardOutput captured(O_NONBLOCK);
    const std::string bytes(static_cast<std::size_t>(captured.pipeCapacity()) * 3, 'x');
    std::string received;
    std::thread reader([&] {
        while (received.size() < bytes.size()) {
            received += captured.available();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    platform::writeStandardOutput(bytes);
    reader.join();
    EXPECT_EQ(received.size(), bytes.size());
}

TEST(LocalTime, FollowsTheTimeZoneOfTheEnvironment) {
    const ScopedEnvironment zone("TZ");
    ::setenv("TZ", "UTC0", 1);
    const platform::LocalDateTime utc = platform::currentLocalDateTime();
    ::setenv("TZ", "EAST-3", 1);
    const platform::LocalDateTime east = platform::currentLocalDateTime();
    // The two readings may straddle a second, never an hour and a minute.
    if (utc.minute == east.minute) {
        EXPECT_EQ(east.hour, (utc.hour + 3) % 24);
    }
    EXPECT_GE(utc.year, 2024);
    EXPECT_GE(utc.month, 1);
    EXPECT_LE(utc.month, 12);
}

}  // namespace
