// What the backend asks of the process and the machine: the home directory,
// standard output, the restart request.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <QDBusConnection>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Host.hpp"

namespace {

TEST(HomeDirectory, IsAnAbsoluteHomeElseThePasswordDatabase) {
    const passwd* entry = ::getpwuid(::getuid());
    const std::string database = entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "/";
    const std::string restore = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    for (const auto& [home, expected] : std::vector<std::pair<const char*, std::string>>{
             {"/tmp/some where/ü", "/tmp/some where/ü"},
             {"", database},
             {"relative/dir", database},
             {"~", database},
             {nullptr, database}}) {
        if (home != nullptr) {
            ::setenv("HOME", home, 1);
        } else {
            ::unsetenv("HOME");
        }
        EXPECT_EQ(platform::homeDirectoryForCurrentUser(), expected) << (home ? home : "unset");
    }
    ::setenv("HOME", restore.c_str(), 1);
    EXPECT_EQ(database.front(), '/');
}

// Standard output a non-blocking pipe that fills up: the bytes are delayed,
// never lost or altered.
TEST(StandardOutput, AFullNonBlockingPipeDelaysTheBytesInsteadOfLosingThem) {
    int ends[2] = {-1, -1};
    ASSERT_EQ(::pipe(ends), 0);
    const int savedStdout = ::dup(STDOUT_FILENO);
    ::fcntl(ends[1], F_SETFL, ::fcntl(ends[1], F_GETFL) | O_NONBLOCK);
    ::dup2(ends[1], STDOUT_FILENO);
    const auto capacity = static_cast<std::size_t>(::fcntl(ends[1], F_GETPIPE_SZ));
    const std::string bytes = std::string("%s %n %d %@ \\ \"\n\xff\xfe\0tail\n", 24) +
                              std::string(capacity * 3, 'x') + "\n";
    std::string received;
    std::thread reader([&] {
        char chunk[4096];
        while (received.size() < bytes.size()) {
            const ssize_t count = ::read(ends[0], chunk, sizeof chunk);
            received.append(chunk, static_cast<std::size_t>(count > 0 ? count : 0));
        }
    });
    platform::writeStandardOutput(bytes);
    reader.join();
    ::dup2(savedStdout, STDOUT_FILENO);
    ::close(savedStdout);
    ::close(ends[0]);
    ::close(ends[1]);
    EXPECT_EQ(received, bytes);
}

// With no system bus the restart request fails at once and the launcher goes
// on. A hang here is caught by the test's time limit.
TEST(RestartRequest, WithoutASystemBusReturnsAndGoesNowhere) {
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent", 1);
    platform::requestRestart();
    platform::requestRestart();
    EXPECT_FALSE(QDBusConnection::systemBus().isConnected());
}

}  // namespace
