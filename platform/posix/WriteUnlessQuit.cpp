#include "WriteUnlessQuit.hpp"

#include <sys/select.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace platform::posix {

namespace {

// select(2), not poll(2): macOS's poll does not support devices and reports a
// terminal as an invalid descriptor, so nothing would reach a person at one.
// A descriptor beyond what an fd_set holds is never a standard one; a quit
// descriptor up there goes unwatched.
bool waitUntilWritable(int fd, int quitDescriptor) {
    if (fd < 0 || fd >= FD_SETSIZE) {
        return false;
    }
    const bool watchQuit = quitDescriptor >= 0 && quitDescriptor < FD_SETSIZE;
    for (;;) {
        fd_set writable;
        fd_set quit;
        FD_ZERO(&writable);
        FD_ZERO(&quit);
        FD_SET(fd, &writable);
        if (watchQuit) {
            FD_SET(quitDescriptor, &quit);
        }
        const int ready = ::select(std::max(fd, watchQuit ? quitDescriptor : -1) + 1, &quit,
                                   &writable, nullptr, nullptr);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        return ready > 0 && !(watchQuit && FD_ISSET(quitDescriptor, &quit)) &&
               FD_ISSET(fd, &writable);
    }
}

}  // namespace

void writeUnlessQuit(int fd, std::string_view bytes, int quitDescriptor) {
    while (!bytes.empty() && waitUntilWritable(fd, quitDescriptor)) {
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

}  // namespace platform::posix
