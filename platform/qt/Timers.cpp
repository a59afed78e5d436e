// Timers on the Qt main loop, as NSTimer has them. Precise timers, with the interval
// rounded up to the next millisecond, so that an exit timer never fires before
// its time. The backend holds every pending timer itself, because the logic
// may drop its reference to a timer that must still fire.
#include <QObject>
#include <QTimerEvent>
#include <chrono>
#include <climits>
#include <cmath>
#include <unordered_map>

#include "BackendLifecycle.hpp"
#include "platform/Timer.hpp"

namespace platform {

namespace {

class QtTimer;

// Owns the Qt timer ids of every pending timer. Main thread only.
class TimerHost final : public QObject {
  public:
    int start(std::chrono::milliseconds interval, std::shared_ptr<QtTimer> timer);
    void cancel(int id);
    void cancelAll();

  protected:
    void timerEvent(QTimerEvent* event) override;

  private:
    std::unordered_map<int, std::shared_ptr<QtTimer>> pending_;
};

TimerHost* host = nullptr;

class QtTimer final : public Timer {
  public:
    QtTimer(TimerTarget& target, bool repeats) : target_(&target), repeats_(repeats) {}

    void invalidate() override {
        if (host != nullptr && id_ != 0) {
            host->cancel(id_);
        }
        id_ = 0;
    }

    void setId(int id) { id_ = id; }
    bool repeats() const { return repeats_; }
    void fire() { target_->fireTimer(); }

  private:
    TimerTarget* target_;
    bool repeats_;
    int id_ = 0;
};

int TimerHost::start(std::chrono::milliseconds interval, std::shared_ptr<QtTimer> timer) {
    const int id = startTimer(interval, Qt::PreciseTimer);
    if (id != 0) {
        pending_[id] = std::move(timer);
    }
    return id;
}

// Only a pending timer has an id: firing a one-shot timer and invalidating set it to 0,
// so an id that Qt hands out again never reaches here from an older timer.
void TimerHost::cancel(int id) {
    killTimer(id);
    pending_.erase(id);
}

void TimerHost::cancelAll() {
    for (const auto& entry : pending_) {
        killTimer(entry.first);
    }
    pending_.clear();
}

void TimerHost::timerEvent(QTimerEvent* event) {
    const int id = event->timerId();
    const auto found = pending_.find(id);
    if (found == pending_.end()) {
        return;
    }
    // Held through the call: fireTimer may invalidate this very timer.
    const std::shared_ptr<QtTimer> timer = found->second;
    if (!timer->repeats()) {
        killTimer(id);
        pending_.erase(found);
        timer->setId(0);
    }
    timer->fire();
}

std::chrono::milliseconds intervalFor(double seconds) {
    // Also NaN: such a timer fires at the next turn of the loop.
    if (!(seconds > 0.0)) {
        return std::chrono::milliseconds(0);
    }
    const double milliseconds = std::ceil(seconds * 1000.0);
    if (milliseconds >= static_cast<double>(INT_MAX)) {
        return std::chrono::milliseconds(INT_MAX);
    }
    return std::chrono::milliseconds(static_cast<long long>(milliseconds));
}

}  // namespace

std::shared_ptr<Timer> scheduledTimerWithTimeInterval(double seconds, TimerTarget& target,
                                                      bool repeats) {
    if (host == nullptr) {
        host = new TimerHost;
    }
    auto timer = std::make_shared<QtTimer>(target, repeats);
    timer->setId(host->start(intervalFor(seconds), timer));
    return timer;
}

void qt::invalidateAllTimers() {
    if (host != nullptr) {
        host->cancelAll();
        delete host;
        host = nullptr;
    }
}

}  // namespace platform
