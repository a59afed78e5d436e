// The release the gate reads is the one `sysextctl release` set.
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>

#include "StateStore.hpp"
#include "platform/Host.hpp"
#include "platform/posix/ExitStatus.hpp"
#include "platform/posix/QuitSignalPipe.hpp"
#include "platform/posix/WriteUnlessQuit.hpp"

namespace platform {

namespace {

// The main thread asks while another process may hold the state's lock for as
// long as it likes: a quit signal still ends the launcher there, with the
// status a quit ends it with, and after a while a person is told who holds it.
sysext::LockWait quitOrTellWhileWaiting() {
    sysext::LockWait wait;
    wait.quitDescriptor = posix::quitSignalDescriptor();
    wait.onQuit = [] {
        static_cast<void>(std::fflush(nullptr));
        ::_exit(posix::exitStatus());
    };
    wait.notice = [](const std::string& message) {
        static std::once_flag told;  // the gate asks more than once
        std::call_once(told, [&] {
            ::syslog(LOG_USER | LOG_WARNING, "%s", message.c_str());
            posix::writeUnlessQuit(STDERR_FILENO, message + "\n", posix::quitSignalDescriptor());
        });
    };
    return wait;
}

}  // namespace

bool isOperatingSystemAtLeastVersion(OperatingSystemVersion version) {
    sysext::Release running;
    auto paths = sysext::locateStatePaths();
    auto state = paths ? sysext::StateStore(*paths, quitOrTellWhileWaiting()).read()
                       : sysext::Expected<sysext::ServiceState>(paths.error());
    if (state) {
        running = state->release;
    } else {
        // The gate must answer; a broken state should not make the launcher refuse to
        // run. Standard output and error are the launcher's own, so the reason goes to
        // the system log, once however often the gate asks.
        static std::once_flag told;
        std::call_once(told, [&] {
            ::syslog(LOG_USER | LOG_WARNING, "%s Assuming release %ld.%ld.%ld.",
                     state.error().message.c_str(), running.major, running.minor, running.patch);
        });
    }
    return running >= sysext::Release{version.major, version.minor, version.patch};
}

}  // namespace platform
