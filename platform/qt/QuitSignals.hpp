// SIGINT, SIGTERM and SIGHUP end the application the way its Quit button does, as a
// logout ends it on the desktop: through platform::terminate, so the delegate
// hears applicationWillTerminate and the exit status is 0.
#pragma once

#include <QSocketNotifier>
#include <memory>

namespace platform::qt {

// Readable once a quit signal has arrived, -1 before the handlers are in place:
// a write that waits on a reader gives up when it becomes readable.
int quitSignalDescriptor();

class QuitSignals {
  public:
    QuitSignals();
    QuitSignals(const QuitSignals&) = delete;
    QuitSignals& operator=(const QuitSignals&) = delete;
    ~QuitSignals();

  private:
    int readEnd_ = -1;
    int writeEnd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace platform::qt
