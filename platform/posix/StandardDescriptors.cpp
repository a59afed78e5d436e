#include "StandardDescriptors.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace platform::posix {

void openNullOnClosedStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) {
            continue;
        }
        // The lowest free number is this one, since the lower ones are open.
        const int opened = ::open("/dev/null", O_RDWR);
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

}  // namespace platform::posix
