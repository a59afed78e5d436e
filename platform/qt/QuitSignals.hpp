// SIGINT, SIGTERM and SIGHUP end the application the way its Quit button does, as a
// logout ends it on the desktop: through platform::terminate, so the delegate
// hears applicationWillTerminate and the exit status is the one the launcher
// set (0 unless a script's flag asked for another). A closed terminal
// (SIGHUP) asks for the same clean end, not the default's abrupt one.
#pragma once

#include <QSocketNotifier>
#include <memory>

namespace platform::qt {

// The quit signals' handlers and their pipe for the application's lifetime.
class QuitSignals {
  public:
    QuitSignals();
    QuitSignals(const QuitSignals&) = delete;
    QuitSignals& operator=(const QuitSignals&) = delete;
    ~QuitSignals();

  private:
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace platform::qt
