#include "ServiceLife.hpp"

namespace sysext {

namespace {

struct ProcessServiceLife {
    std::shared_ptr<ServiceLife> life = std::make_shared<ServiceLife>();
    ProcessServiceLife() = default;
    ProcessServiceLife(const ProcessServiceLife&) = delete;
    ProcessServiceLife& operator=(const ProcessServiceLife&) = delete;
    ~ProcessServiceLife() { life->stop(); }
};

}  // namespace

std::shared_ptr<ServiceLife> ServiceLife::current() {
    // Built on the first request, which is made with the main queue, so it is
    // destroyed before that queue is.
    static ProcessServiceLife process;
    return process.life;
}

bool ServiceLife::post(platform::DispatchQueue& queue, std::function<void()> work) {
    // Holding the lock while handing over makes stop() wait for a post in progress.
    const std::lock_guard lock(mutex_);
    if (stopping_) {
        return false;
    }
    platform::dispatchAsync(queue, std::move(work));
    return true;
}

bool ServiceLife::pause(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex_);
    return !stopped_.wait_for(lock, duration, [this] { return stopping_; });
}

bool ServiceLife::stopping() const {
    const std::lock_guard lock(mutex_);
    return stopping_;
}

void ServiceLife::stop() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stopped_.notify_all();
}

}  // namespace sysext
