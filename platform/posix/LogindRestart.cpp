// The restart is asked of logind, never done with reboot(2): the session
// manager lets every program save its work first, and polkit may ask the user
// (interactive authorisation). gdbus makes the call in a child process, so a
// system bus that accepts the connection and then never answers holds up only
// that child, never the main thread: the outcome of the request and a quit
// still get through. The child is reaped when it ends, and an alarm, which
// survives exec, ends it should the bus keep it waiting; the answer itself is
// not the launcher's concern.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/Host.hpp"

namespace platform {

namespace {

// Long enough for a person to answer polkit's question; the call's own
// timeout comes first when the bus does answer.
constexpr unsigned childLifetimeSeconds = 150;

std::string executableOnPath(std::string_view name) {
    const char* path = std::getenv("PATH");
    std::string_view directories = path != nullptr ? path : "/usr/bin:/bin";
    while (!directories.empty()) {
        const std::size_t colon = directories.find(':');
        std::string candidate(directories.substr(0, colon));
        directories.remove_prefix(colon == std::string_view::npos ? directories.size() : colon + 1);
        candidate.append(candidate.empty() ? "./" : "/").append(name);
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

}  // namespace

void requestRestart() {
    const std::string gdbus = executableOnPath("gdbus");
    if (gdbus.empty()) {
        return;
    }
    std::vector<std::string> words{"gdbus",
                                   "call",
                                   "--system",
                                   "--interactive",
                                   "--timeout=120",
                                   "--dest=org.freedesktop.login1",
                                   "--object-path=/org/freedesktop/login1",
                                   "--method=org.freedesktop.login1.Manager.Reboot",
                                   "true"};
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    // Between fork and exec only async-signal-safe calls: the launcher has threads.
    const pid_t child = ::fork();
    if (child == 0) {
        // gdbus prints the reply and its complaints; standard output and error
        // are the launcher's own.
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        // What the launcher ignores for itself, gdbus gets as the default.
        static_cast<void>(std::signal(SIGPIPE, SIG_DFL));
        static_cast<void>(std::signal(SIGXFSZ, SIG_DFL));
        ::alarm(childLifetimeSeconds);
        ::execv(gdbus.c_str(), argv.data());
        ::_exit(127);
    }
    if (child > 0) {
        try {
            std::thread([child] {
                while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
                }
            }).detach();
        } catch (const std::system_error&) {
            // No thread for the reaper: a zombie until the launcher ends, which is harmless.
        }
    }
}

}  // namespace platform
