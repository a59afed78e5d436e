// The main queue of the request tests: work posted from any thread waits until
// the test thread runs it, as the application's main loop would.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "platform/DispatchQueue.hpp"

namespace sysext::testing {

class TestMainQueue final : public platform::DispatchQueue {
  public:
    void async(std::function<void()> work) override;

    // Runs the oldest posted work on the calling thread; false if none came in time.
    bool runNext(std::chrono::milliseconds timeout);

  private:
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> work_;
};

TestMainQueue& testMainQueue();

}  // namespace sysext::testing
