// Work from any thread becomes a queued call on the application object, so it
// runs on the main thread between window events and timers, in the order it
// was posted (Qt keeps one FIFO of posted events per thread).
#include <QCoreApplication>
#include <QMetaObject>
#include <mutex>

#include "BackendLifecycle.hpp"
#include "platform/DispatchQueue.hpp"

namespace platform {

namespace {

class QtMainQueue final : public DispatchQueue {
  public:
    void async(std::function<void()> work) override {
        // Dropped work is destroyed outside the lock: its captures may post again.
        std::function<void()> dropped;
        const std::lock_guard lock(mutex_);
        QCoreApplication* application = QCoreApplication::instance();
        if (!open_ || application == nullptr || !work) {
            dropped = std::move(work);
            return;
        }
        QMetaObject::invokeMethod(application, std::move(work), Qt::QueuedConnection);
    }

    void close() {
        const std::lock_guard lock(mutex_);
        open_ = false;
    }

  private:
    std::mutex mutex_;
    bool open_ = true;
};

// Never destroyed: a worker thread may still post while the process exits.
QtMainQueue& theMainQueue() {
    static auto* queue = new QtMainQueue;
    return *queue;
}

}  // namespace

DispatchQueue& mainQueue() {
    return theMainQueue();
}

void qt::closeMainQueue() {
    theMainQueue().close();
}

}  // namespace platform
