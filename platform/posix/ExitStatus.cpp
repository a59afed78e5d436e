#include "ExitStatus.hpp"

#include <atomic>

#include "platform/Application.hpp"

namespace platform::posix {

namespace {

// Read by a signal's waiter and by the thread that ends the process.
std::atomic<int> current{0};

}  // namespace

void setExitStatus(int status) {
    current.store(status);
}

int exitStatus() {
    return current.load();
}

}  // namespace platform::posix

void platform::setExitStatus(int status) {
    posix::setExitStatus(status);
}
