#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <system_error>

#include "Sysextctl.hpp"

namespace {

// A descriptor 0, 1 or 2 that the caller closed stays unusable: it is taken by
// a read-only /dev/null, so that no state file gets its number, and a report
// written to a closed output still fails.
void holdClosedStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            const int held = ::open("/dev/null", O_RDONLY);
            if (held >= 0 && held != fd) {
                ::dup2(held, fd);
                ::close(held);
            }
        }
    }
}

}  // namespace

// What the tool printed must have reached its reader: a report that went
// nowhere (a full disk, a closed output) is not a success.
int main(int argc, char** argv) {
    holdClosedStandardDescriptors();
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    const int status = sysext::runSysextctl(arguments, std::cout, std::cerr);
    errno = 0;
    if (std::cout.flush()) {
        return status;
    }
    const int why = errno;
    std::cerr << "sysextctl: the output could not be written"
              << (why != 0 ? ": " + std::generic_category().message(why) : std::string()) << "\n";
    return status == sysext::exitSuccess ? sysext::exitStateProblem : status;
}
