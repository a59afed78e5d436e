// The unified log is syslog(3): facility user, priority notice, the program's
// name as ident, so journald and any syslog daemon file the entries under it.
// The text is rendered here with the program's constant format and handed to
// syslog as the argument of "%s": syslog's own format never holds a byte that
// came from outside, whatever a description or identifier contains. (A NUL
// inside an argument ends the entry there; syslog takes C strings.)
#include <syslog.h>

#include <cerrno>
#include <string>

#include "platform/UnifiedLog.hpp"

namespace platform {

namespace {

void openLogOnce() {
    // The ident pointer is kept by syslog; glibc's short program name lives as
    // long as the process.
    static const bool opened = [] {
        ::openlog(program_invocation_short_name, LOG_PID, LOG_USER);
        return true;
    }();
    (void)opened;
}

}  // namespace

bool osLogDefaultTypeEnabled() {
    return true;
}

// cppcheck-suppress passedByValue ; a view two words wide, as the seam declares it
void osLog(LogFormat format, std::span<const LogArgument> arguments) {
    openLogOnce();
    const std::string text = formatLogMessage(format, arguments);
    ::syslog(LOG_NOTICE, "%s", text.c_str());
}

}  // namespace platform
