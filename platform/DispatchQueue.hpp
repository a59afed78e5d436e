// The main dispatch queue: work handed to it runs on the main thread, in the
// order it was handed over, between window events and timers.
#pragma once

#include <functional>

namespace platform {

// The platform's own queue object. Each backend defines the class (a program
// links exactly one), so a backend hands its framework the real queue without
// a cast.
class DispatchQueue;

// The queue whose work runs on the main thread; the same object every call.
DispatchQueue& mainQueue();

// Runs the work later, on the queue's thread, after the work handed over
// before it; never inside the call. May be called from any thread.
void dispatchAsync(DispatchQueue& queue, std::function<void()> work);

}  // namespace platform
