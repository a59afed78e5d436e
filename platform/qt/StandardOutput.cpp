// Straight to the descriptor, with no stdio buffer in between: a script that
// reads the launcher through a pipe sees each line the moment it is written,
// also while the application stays open for minutes afterwards.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/Host.hpp"
#include "platform/posix/QuitSignalPipe.hpp"
#include "platform/posix/WriteUnlessQuit.hpp"

namespace platform {

void writeStandardOutput(std::string_view bytes) {
    // Whatever a library printed through stdio goes out first, in order.
    static_cast<void>(std::fflush(stdout));
    posix::writeUnlessQuit(STDOUT_FILENO, bytes, posix::quitSignalDescriptor());
}

void writeApprovalInstructions(std::string_view extensionIdentifier) {
    std::string line = "To approve the extension, run: sysextctl approve ";
    line.append(extensionIdentifier).append("\n");
    posix::writeUnlessQuit(STDERR_FILENO, line, posix::quitSignalDescriptor());
}

}  // namespace platform
