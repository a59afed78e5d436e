#include "TestMainQueue.hpp"

namespace sysext::testing {

void TestMainQueue::async(std::function<void()> work) {
    {
        const std::lock_guard lock(mutex_);
        work_.push_back(std::move(work));
    }
    posted_.notify_one();
}

bool TestMainQueue::runNext(std::chrono::milliseconds timeout) {
    std::function<void()> next;
    {
        std::unique_lock lock(mutex_);
        if (!posted_.wait_for(lock, timeout, [this] { return !work_.empty(); })) {
            return false;
        }
        next = std::move(work_.front());
        work_.pop_front();
    }
    next();
    return true;
}

TestMainQueue& testMainQueue() {
    static TestMainQueue queue;
    return queue;
}

}  // namespace sysext::testing

namespace platform {

DispatchQueue& mainQueue() {
    return sysext::testing::testMainQueue();
}

}  // namespace platform
