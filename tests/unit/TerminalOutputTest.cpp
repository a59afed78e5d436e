// The launcher's lines reach a person at a terminal. macOS's poll(2) does not
// support devices, so a wait built on it writes nothing there: the macOS
// workflow runs this natively.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "gtest/gtest.h"
#include "platform/posix/WriteUnlessQuit.hpp"

namespace {

TEST(TerminalOutput, ReachesATerminalWhileNoQuitIsAsked) {
    const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(terminal >= 0 && ::grantpt(terminal) == 0 && ::unlockpt(terminal) == 0);
    const int screen = ::open(::ptsname(terminal), O_RDWR | O_NOCTTY);
    termios raw{};
    ASSERT_TRUE(screen >= 0 && ::tcgetattr(screen, &raw) == 0);
    ::cfmakeraw(&raw);  // the bytes as written, no CR added to the LF
    int quit[2];
    ASSERT_TRUE(::tcsetattr(screen, TCSANOW, &raw) == 0 && ::pipe(quit) == 0);

    const std::string report = "[\"/Applications/veltrin_Driverkit_Launcher.app\"]\n";
    platform::posix::writeUnlessQuit(screen, report, quit[0]);
    ::fcntl(terminal, F_SETFL, O_NONBLOCK);
    std::string shown(report.size() + 16, '\0');
    shown.resize(static_cast<std::size_t>(
        std::max(::read(terminal, shown.data(), shown.size()), ssize_t{0})));
    EXPECT_EQ(shown, report);
    for (const int fd : {quit[0], quit[1], screen, terminal}) {
        ::close(fd);
    }
}

}  // namespace
