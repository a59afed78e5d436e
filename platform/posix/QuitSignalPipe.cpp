#include "QuitSignalPipe.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <iterator>

namespace platform::posix {

namespace {

std::atomic<int> writeEnd{-1};
int readEnd = -1;
static_assert(std::atomic<int>::is_always_lock_free);

constexpr int quitSignals[] = {SIGINT, SIGTERM, SIGHUP};
// Whoever started the launcher ignored these (nohup, a shell's background job):
// that choice stands, through every claim.
bool ignoredAtStart[std::size(quitSignals)] = {};

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
    for (std::size_t i = 0; i < std::size(quitSignals); ++i) {
        struct sigaction current {};
        ignoredAtStart[i] =
            ::sigaction(quitSignals[i], nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
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
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (std::size_t i = 0; i < std::size(quitSignals); ++i) {
        ::sigaction(quitSignals[i], ignoredAtStart[i] ? &ignore : &action, nullptr);
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
