// The pause blocks the main thread for real: no window event, timer or posted
// work is handled meanwhile. sleep_for resumes after a signal, so SIGTERM
// during the pause is handled once it is over.
#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/Timer.hpp"

namespace platform {

void sleepForTimeInterval(double seconds) {
    if (!(seconds > 0.0)) {
        return;
    }
    // About a day; beyond that the nanosecond count would overflow.
    constexpr double longestPause = 86400.0;
    std::this_thread::sleep_for(std::chrono::duration<double>(std::min(seconds, longestPause)));
}

}  // namespace platform
