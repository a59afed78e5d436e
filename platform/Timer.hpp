// One-shot timers on the main run loop, and the blocking pause of the main thread.
#pragma once

#include <memory>

namespace platform {

// The receiver of a timer; every timer of the launcher sends fireTimer.
class TimerTarget {
  public:
    virtual ~TimerTarget() = default;
    virtual void fireTimer() = 0;
};

class Timer {
  public:
    virtual ~Timer() = default;
    // After this the timer never fires. Harmless on a timer that has fired.
    virtual void invalidate() = 0;
};

// The run loop keeps a scheduled timer alive until it fires or is invalidated,
// whether or not the caller keeps the returned reference.
std::shared_ptr<Timer> scheduledTimerWithTimeInterval(double seconds, TimerTarget& target,
                                                      bool repeats);

// Blocks the calling thread; no event, timer or queued work runs meanwhile.
void sleepForTimeInterval(double seconds);

}  // namespace platform
