// The release the gate reads is the one `sysextctl release` set.
#include <cstdio>

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
        // The gate must answer; a broken state should not make the launcher refuse to run.
        static_cast<void>(std::fprintf(stderr, "%s Assuming release %ld.%ld.%ld.\n",
                                       state.error().c_str(), running.major, running.minor,
                                       running.patch));
    }
    return running >= sysext::Release{version.major, version.minor, version.patch};
}

}  // namespace platform
