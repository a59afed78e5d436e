// Straight to the descriptor, with no stdio buffer in between: a script that
// reads the launcher through a pipe sees each line the moment it is written,
// also while the application stays open for minutes afterwards.
#include <poll.h>
#include <unistd.h>
#include <climits>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

#include "QuitSignals.hpp"
#include "platform/Host.hpp"

namespace platform {

namespace {

// Waits until a slow reader makes room, the way a blocking descriptor would, but
// never past a quit signal: a reader that stopped reading must not keep the user
// from quitting, so the rest of the output is then given up.
bool waitUntilWritable(int fd) {
    pollfd entries[2]{{fd, POLLOUT, 0}, {qt::quitSignalDescriptor(), POLLIN, 0}};
    for (;;) {
        const int ready = ::poll(entries, entries[1].fd >= 0 ? 2 : 1, -1);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        return ready > 0 && entries[1].revents == 0 && entries[0].revents == POLLOUT;
    }
}

void writeUnlessQuit(int fd, std::string_view bytes) {
    while (!bytes.empty() && waitUntilWritable(fd)) {
        // A pipe with room takes up to PIPE_BUF bytes without blocking, so the
        // next wait comes before the pipe can fill up.
        const ssize_t written =
            ::write(fd, bytes.data(), std::min<std::size_t>(bytes.size(), PIPE_BUF));
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
            continue;
        }
        if (written < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
            continue;
        }
        return;  // closed or broken: the report is not examined, like printf's result
    }
}

}  // namespace

void writeStandardOutput(std::string_view bytes) {
    // Whatever a library printed through stdio goes out first, in order.
    static_cast<void>(std::fflush(stdout));
    writeUnlessQuit(STDOUT_FILENO, bytes);
}

void writeApprovalInstructions(std::string_view extensionIdentifier) {
    std::string line = "To approve the extension, run: sysextctl approve ";
    line.append(extensionIdentifier).append("\n");
    writeUnlessQuit(STDERR_FILENO, line);
}

}  // namespace platform
