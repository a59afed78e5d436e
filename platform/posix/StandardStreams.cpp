// Straight to the descriptor, with no stdio buffer in between: a script that
// reads the launcher through a pipe sees each line the moment it is written,
// also while the application stays open for minutes afterwards. Bytes as they
// stand, never a format, and a quit signal ends a write to a reader that
// stopped reading.
#include <unistd.h>

#include <cstdio>

#include "QuitSignalPipe.hpp"
#include "WriteUnlessQuit.hpp"
#include "platform/Host.hpp"

namespace platform {

void writeStandardOutput(std::string_view bytes) {
    // Whatever a library printed through stdio goes out first, in order.
    static_cast<void>(std::fflush(stdout));
    posix::writeUnlessQuit(STDOUT_FILENO, bytes, posix::quitSignalDescriptor());
}

void writeStandardError(std::string_view bytes) {
    posix::writeUnlessQuit(STDERR_FILENO, bytes, posix::quitSignalDescriptor());
}

}  // namespace platform
