// One-shot timers on the main run loop, and the blocking pause of the main thread.
#pragma once

#include <memory>

namespace platform {

// The receiver of a timer; every timer of the launcher sends fireTimer.
class TimerTarget {
  public:
    virtual ~TimerTarget() = default;
    // Called by the backend on the main thread, from the main loop, never from
    // inside another callback or a pause.
    virtual void fireTimer() = 0;
};

class Timer {
  public:
    virtual ~Timer() = default;
    // After this the timer never fires again. Harmless on a timer that has fired.
    virtual void invalidate() = 0;
};

// Schedules a timer on the main run loop that sends fireTimer to the target,
// never before `seconds` have passed. `repeats` has NSTimer's meaning: false
// fires once; true fires again every `seconds` until invalidated. The launcher
// asks only for one-shot timers, and every backend honours both. The run loop
// keeps a scheduled timer alive until it has fired for the last time or is
// invalidated, whether or not the caller keeps the returned reference; the
// target must outlive it.
std::shared_ptr<Timer> scheduledTimerWithTimeInterval(double seconds, TimerTarget& target,
                                                      bool repeats);

// Blocks the calling thread; no event, timer or queued work runs meanwhile,
// and the time spent counts towards every pending timer.
void sleepForTimeInterval(double seconds);

}  // namespace platform
