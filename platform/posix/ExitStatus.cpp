#include "ExitStatus.hpp"

#include <atomic>

#include "platform/Application.hpp"

namespace platform::posix {

namespace {

// Read by a signal's waiter and by the thread that ends the process.
std::atomic<int> status{0};

}  // namespace

void setExitStatus(int value) {
    status.store(value);
}

int exitStatus() {
    return status.load();
}

}  // namespace platform::posix

void platform::setExitStatus(int status) {
    posix::setExitStatus(status);
}
