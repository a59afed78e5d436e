// The seam's queue is the platform's dispatch queue itself.
#include <dispatch/dispatch.h>

#include <functional>

#include "platform/DispatchQueue.hpp"

class platform::DispatchQueue {
  public:
    explicit DispatchQueue(dispatch_queue_t queue) : queue_(queue) {}
    dispatch_queue_t queue() const { return queue_; }

  private:
    dispatch_queue_t queue_;
};

namespace platform {

namespace {

void runWork(void* context) {
    auto* work = static_cast<std::function<void()>*>(context);
    (*work)();
    delete work;
}

}  // namespace

DispatchQueue& mainQueue() {
    static auto* queue = new DispatchQueue(dispatch_get_main_queue());
    return *queue;
}

dispatch_queue_t nativeQueue(DispatchQueue& queue) {
    return queue.queue();
}

void dispatchAsync(DispatchQueue& queue, std::function<void()> work) {
    dispatch_async_f(queue.queue(), new std::function<void()>(std::move(work)), runWork);
}

}  // namespace platform
