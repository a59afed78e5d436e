// Straight to the descriptor, with no stdio buffer in between: a script that
// reads the launcher through a pipe sees each line the moment it is written,
// also while the application stays open for minutes afterwards.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/Host.hpp"

namespace platform {

namespace {

// An inherited non-blocking descriptor behaves as a blocking one would, so a
// slow reader delays the line instead of losing it.
bool waitUntilWritable(int fd) {
    pollfd entry{fd, POLLOUT, 0};
    while (::poll(&entry, 1, -1) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

}  // namespace

void writeStandardOutput(std::string_view bytes) {
    // Whatever a library printed through stdio goes out first, in order.
    static_cast<void>(std::fflush(stdout));
    while (!bytes.empty()) {
        const ssize_t written = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
            continue;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
            waitUntilWritable(STDOUT_FILENO)) {
            continue;
        }
        return;  // closed or broken: the report is not examined, like printf's result
    }
}

}  // namespace platform
