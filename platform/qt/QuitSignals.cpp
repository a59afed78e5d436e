// The handlers' byte wakes the main loop through a socket notifier, and the
// application quits from there.
#include "QuitSignals.hpp"

#include <unistd.h>

#include "BackendLifecycle.hpp"
#include "platform/posix/QuitSignalPipe.hpp"

namespace platform::qt {

QuitSignals::QuitSignals() {
    const int readEnd = posix::openQuitSignalPipe();
    if (readEnd < 0) {
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(readEnd, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [readEnd] {
        char drained[64];
        while (::read(readEnd, drained, sizeof drained) > 0) {
        }
        platform::qt::quitApplication();
    });
}

QuitSignals::~QuitSignals() {
    notifier_.reset();
    posix::closeQuitSignalPipe();
}

}  // namespace platform::qt
