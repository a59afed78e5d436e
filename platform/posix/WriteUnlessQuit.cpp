#include "WriteUnlessQuit.hpp"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace platform::posix {

namespace {

bool waitUntilWritable(int fd, int quitDescriptor) {
    pollfd entries[2]{{fd, POLLOUT, 0}, {quitDescriptor, POLLIN, 0}};
    for (;;) {
        const int ready = ::poll(entries, quitDescriptor >= 0 ? 2 : 1, -1);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        return ready > 0 && entries[1].revents == 0 && entries[0].revents == POLLOUT;
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
