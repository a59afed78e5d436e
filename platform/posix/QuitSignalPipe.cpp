#include "QuitSignalPipe.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <initializer_list>

namespace platform::posix {

namespace {

std::atomic<int> writeEnd{-1};
int readEnd = -1;
static_assert(std::atomic<int>::is_always_lock_free);

void onQuitSignal(int /*signal*/) {
    const int savedErrno = errno;
    const char byte = 1;
    // Non-blocking: a burst of signals fills the pipe and the rest are dropped;
    // one byte is enough to quit.
    if (::write(writeEnd.load(), &byte, 1) < 0) {
        // nothing more can be done inside a handler
    }
    errno = savedErrno;
}

}  // namespace

int openQuitSignalPipe() {
    int ends[2];
    if (::pipe(ends) != 0) {
        return -1;
    }
    for (const int end : ends) {
        ::fcntl(end, F_SETFD, FD_CLOEXEC);
        ::fcntl(end, F_SETFL, O_NONBLOCK);
    }
    readEnd = ends[0];
    writeEnd.store(ends[1]);
    claimQuitSignals();
    return readEnd;
}

void claimQuitSignals() {
    if (writeEnd.load() < 0) {
        return;
    }
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int quit : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(quit, &action, nullptr);
    }
}

void closeQuitSignalPipe() {
    const int end = writeEnd.exchange(-1);
    if (end >= 0) {
        ::close(readEnd);
        ::close(end);
    }
    readEnd = -1;
}

int quitSignalDescriptor() {
    return readEnd;
}

}  // namespace platform::posix
