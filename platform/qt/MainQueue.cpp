// Work from any thread travels inside an event posted to an object of the main
// thread, so it runs there between window events and timers, in the order it
// was posted (Qt keeps one FIFO of posted events per thread). Work still
// waiting when the application goes away is destroyed with its event, unrun.
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <mutex>

#include "BackendLifecycle.hpp"
#include "platform/DispatchQueue.hpp"

namespace platform {

namespace {

const auto workEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

class WorkEvent final : public QEvent {
  public:
    explicit WorkEvent(std::function<void()> work)
        : QEvent(workEventType), work_(std::move(work)) {}
    void run() const { work_(); }

  private:
    std::function<void()> work_;
};

class WorkRunner final : public QObject {
  public:
    bool event(QEvent* event) override {
        if (const auto* work = dynamic_cast<const WorkEvent*>(event)) {
            work->run();
            return true;
        }
        return QObject::event(event);
    }
};

}  // namespace

class DispatchQueue {
  public:
    void async(std::function<void()> work) {
        // Dropped work is destroyed outside the lock: its captures may post again.
        std::function<void()> dropped;
        const std::lock_guard lock(mutex_);
        QCoreApplication* application = QCoreApplication::instance();
        if (!open_ || application == nullptr || !work) {
            dropped = std::move(work);
            return;
        }
        if (runner_ == nullptr || runner_->thread() != application->thread()) {
            runner_ = new WorkRunner;  // never deleted: the queue lives as long as the process
            runner_->moveToThread(application->thread());
        }
        QCoreApplication::postEvent(runner_, new WorkEvent(std::move(work)));
    }

    void close() {
        const std::lock_guard lock(mutex_);
        open_ = false;
    }

  private:
    std::mutex mutex_;
    bool open_ = true;
    WorkRunner* runner_ = nullptr;
};

namespace {

// Never destroyed: a worker thread may still post while the process exits.
DispatchQueue& theMainQueue() {
    static auto* queue = new DispatchQueue;
    return *queue;
}

}  // namespace

DispatchQueue& mainQueue() {
    return theMainQueue();
}

void dispatchAsync(DispatchQueue& queue, std::function<void()> work) {
    queue.async(std::move(work));
}

void qt::closeMainQueue() {
    theMainQueue().close();
}

}  // namespace platform
