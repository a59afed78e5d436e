// The stand-in service's workers outlive nothing: once the process begins to
// exit, they post nothing more and stop at their next wait, so that exit never
// waits for the user's approval and no worker touches a queue being destroyed.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/DispatchQueue.hpp"

namespace sysext {

class ServiceLife {
  public:
    // The one for this process, created on first use and stopped when static
    // objects are destroyed at exit.
    static std::shared_ptr<ServiceLife> current();

    // False once stopping: then the work was dropped, not posted.
    bool post(platform::DispatchQueue& queue, std::function<void()> work);

    // Waits for the time given; false when stopping cut it short.
    bool pause(std::chrono::milliseconds duration);

    bool stopping() const;
    void stop();

  private:
    mutable std::mutex mutex_;
    std::condition_variable stopped_;
    bool stopping_ = false;
};

}  // namespace sysext
