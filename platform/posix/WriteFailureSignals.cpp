#include "WriteFailureSignals.hpp"

#include <csignal>

namespace platform::posix {

void ignoreWriteFailureSignals() {
    static_cast<void>(std::signal(SIGPIPE, SIG_IGN));
    static_cast<void>(std::signal(SIGXFSZ, SIG_IGN));
}

}  // namespace platform::posix
