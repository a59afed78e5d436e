// The home directory as both Linux builds find it (platform/posix), and the
// system log of the Qt backend as syslog receives it. The restart request and
// standard output: the end-to-end suite.
#include <gtest/gtest.h>
#include <pwd.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Host.hpp"
#include "platform/UnifiedLog.hpp"

namespace {

std::vector<std::string> logged;

TEST(HomeDirectory, IsAnAbsoluteHomeElseThePasswordDatabase) {
    const passwd* entry = ::getpwuid(::getuid());
    const std::string database = entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "/";
    ASSERT_EQ(database.front(), '/');
    for (const char* home :
         {"/tmp/some where/ü", "", "relative/dir", static_cast<const char*>(nullptr)}) {
        static_cast<void>(home != nullptr ? ::setenv("HOME", home, 1) : ::unsetenv("HOME"));
        EXPECT_EQ(platform::homeDirectoryForCurrentUser(),
                  home != nullptr && home[0] == '/' ? home : database)
            << (home != nullptr ? home : "unset");
    }
}

TEST(UnifiedLog, IsSyslogOfUserNoticesWithTheTextAsAnArgumentNeverAsTheFormat) {
    platform::osLog("Error:System extension request failed: %@", {"50%s %n of it"});
    platform::osLog("Start:installing driver\n", {});
    const std::string notice = std::to_string(LOG_NOTICE) + " %s ";
    EXPECT_EQ(logged, (std::vector<std::string>{
                          "openlog " + std::string(program_invocation_short_name) + ' ' +
                              std::to_string(LOG_PID) + ' ' + std::to_string(LOG_USER),
                          notice + "Error:System extension request failed: 50%s %n of it",
                          notice + "Start:installing driver\n"}));
}

}  // namespace

// This executable's own, which the linker takes before the C library's: what the
// backend hands the system log, recorded. Only "%s" is read as a format here.
extern "C" void openlog(const char* ident, int option, int facility) {
    logged.push_back("openlog " + std::string(ident) + ' ' + std::to_string(option) + ' ' +
                     std::to_string(facility));
}

extern "C" void syslog(int priority, const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    logged.push_back(std::to_string(priority) + ' ' + format + ' ' +
                     (std::string(format) == "%s" ? va_arg(arguments, const char*) : ""));
    va_end(arguments);
}
