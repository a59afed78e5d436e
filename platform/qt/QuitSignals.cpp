// A signal handler may do almost nothing, so it only writes one byte into a
// socket pair; the main loop notices the byte and quits from there.
#include "QuitSignals.hpp"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

#include "BackendLifecycle.hpp"
#include "platform/Application.hpp"

namespace platform::qt {

namespace {

std::atomic<int> signalWriteEnd{-1};
int signalReadEnd = -1;
static_assert(std::atomic<int>::is_always_lock_free);

void onQuitSignal(int /*signal*/) {
    const int savedErrno = errno;
    const char byte = 1;
    // Non-blocking: a burst of signals fills the pair and the rest are dropped;
    // one byte is enough to quit.
    if (::write(signalWriteEnd.load(), &byte, 1) < 0) {
        // nothing more can be done inside a handler
    }
    errno = savedErrno;
}

void installHandler(int signal) {
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signal, &action, nullptr);
}

}  // namespace

int quitSignalDescriptor() {
    return signalReadEnd;
}

QuitSignals::QuitSignals() {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, ends) != 0) {
        return;  // the default dispositions stay: a signal still ends the process
    }
    readEnd_ = ends[0];
    writeEnd_ = ends[1];
    signalWriteEnd.store(writeEnd_);
    signalReadEnd = readEnd_;
    notifier_ = std::make_unique<QSocketNotifier>(readEnd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [fd = readEnd_] {
        char drained[64];
        while (::read(fd, drained, sizeof drained) > 0) {
        }
        platform::qt::quitApplication();
    });
    installHandler(SIGINT);
    installHandler(SIGTERM);
    // A closed terminal asks for the same clean end, not the default's abrupt one.
    installHandler(SIGHUP);
}

// The handlers stay installed with nowhere to write: a signal that arrives
// while the process is already ending is simply absorbed.
QuitSignals::~QuitSignals() {
    signalWriteEnd.store(-1);
    signalReadEnd = -1;
    notifier_.reset();
    if (readEnd_ >= 0) {
        ::close(readEnd_);
        ::close(writeEnd_);
    }
}

}  // namespace platform::qt
