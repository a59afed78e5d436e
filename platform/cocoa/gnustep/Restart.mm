// GNUstep has no loginwindow. Its stand-in of the platform's normal restart is
// the Linux build's: logind over the system bus, which lets programs save and
// may ask the user (gdbus --interactive); the reply is not waited for.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include "platform/Host.hpp"

extern char** environ;

namespace platform {

void requestRestart() {
    char program[] = "gdbus";
    char call[] = "call";
    char system[] = "--system";
    char interactive[] = "--interactive";
    char dest[] = "--dest=org.freedesktop.login1";
    char path[] = "--object-path=/org/freedesktop/login1";
    char method[] = "--method=org.freedesktop.login1.Manager.Reboot";
    char yes[] = "true";
    char* argv[] = {program, call, system, interactive, dest, path, method, yes, nullptr};
    // gdbus prints the reply; standard output is the launcher's own.
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, program, &quiet, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (spawned == 0) {
        // Reaped at once by a detached waiter would need a thread; a zombie for
        // the rest of a short run is harmless, so only a finished one is reaped.
        static_cast<void>(waitpid(child, nullptr, WNOHANG));
    }
}

}  // namespace platform
