// The release the gate reads is the one `sysextctl release` set.
#include <syslog.h>

#include <mutex>

#include "StateStore.hpp"
#include "platform/Host.hpp"

namespace platform {

bool isOperatingSystemAtLeastVersion(OperatingSystemVersion version) {
    sysext::Release running;
    auto paths = sysext::locateStatePaths();
    auto state = paths ? sysext::StateStore(*paths).read()
                       : sysext::Expected<sysext::ServiceState>(sysext::Failure{paths.error()});
    if (state) {
        running = state->release;
    } else {
        // The gate must answer; a broken state should not make the launcher refuse to
        // run. Standard output and error are the launcher's own, so the reason goes to
        // the system log, once however often the gate asks.
        static std::once_flag told;
        std::call_once(told, [&] {
            ::syslog(LOG_USER | LOG_WARNING, "%s Assuming release %ld.%ld.%ld.",
                     state.error().c_str(), running.major, running.minor, running.patch);
        });
    }
    return running >= sysext::Release{version.major, version.minor, version.patch};
}

}  // namespace platform
