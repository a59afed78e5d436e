// The launcher's lines reach a person at a terminal. macOS's poll(2) does not
// support devices, so a wait built on it writes nothing there: the macOS
// workflow runs this natively.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "gtest/gtest.h"
#include "platform/posix/WriteUnlessQuit.hpp"

namespace {

TEST(TerminalOutput, ReachesATerminalWhileNoQuitIsAsked) {
    const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(::grantpt(terminal) | ::unlockpt(terminal), 0);
    const int screen = ::open(::ptsname(terminal), O_RDWR | O_NOCTTY);
    ASSERT_GE(screen, 0);
    termios raw{};
    ASSERT_EQ(::tcgetattr(screen, &raw), 0);
    ::cfmakeraw(&raw);  // the bytes as written, no CR added to the LF
    ASSERT_EQ(::tcsetattr(screen, TCSANOW, &raw), 0);
    int quit[2];
    ASSERT_EQ(::pipe(quit), 0);

    const std::string report = "[\"/Applications/veltrin_Driverkit_Launcher.app\"]\n";
    platform::posix::writeUnlessQuit(screen, report, quit[0]);
    ::fcntl(terminal, F_SETFL, O_NONBLOCK);
    std::string shown(report.size() + 16, '\0');
    const ssize_t read = ::read(terminal, shown.data(), shown.size());
    shown.resize(read > 0 ? static_cast<std::size_t>(read) : 0);
    EXPECT_EQ(shown, report);

    for (const int fd : {quit[0], quit[1], screen, terminal}) {
        ::close(fd);
    }
}

}  // namespace
