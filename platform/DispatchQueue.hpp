// The main dispatch queue: work handed to it runs on the main thread, in the
// order it was handed over, between window events and timers.
#pragma once

#include <functional>

namespace platform {

class DispatchQueue {
  public:
    virtual ~DispatchQueue() = default;
    // May be called from any thread.
    virtual void async(std::function<void()> work) = 0;
};

DispatchQueue& mainQueue();

}  // namespace platform
