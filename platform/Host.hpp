// What the launcher asks of the machine and the process: home directory, the
// running release, the restart request, standard output and error, the argument
// list and the local time.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct OperatingSystemVersion {
    long major = 0;
    long minor = 0;
    long patch = 0;
};

// Whether the running release is at least this one, compared by major, then
// minor, then patch. A backend without macOS releases answers for the release it
// stands in for.
bool isOperatingSystemAtLeastVersion(OperatingSystemVersion version);

// The current user's home directory as the platform reports it to the
// application: always an absolute path, never empty, so that the activity log
// never lands relative to the working directory. On macOS, the application's
// home, which the sandbox makes its container. Everywhere else, whatever the
// toolkit: $HOME when it holds an absolute path, else the user's entry in the
// password database, else "/".
std::string homeDirectoryForCurrentUser();

// Asks the machine to restart normally, letting programs save; the outcome is
// not reported. Returns at once: a restart service that never answers cannot
// hold up the launcher.
void requestRestart();

// Writes the bytes to standard output as they stand (no format directives, no
// re-encoding). A write that cannot complete is dropped; a quit signal ends a
// write that blocks.
void writeStandardOutput(std::string_view bytes);

// The same for standard error: what a person at a terminal is told (a hint, a
// failure's remedy, a usage error), so standard output stays the launcher's report.
void writeStandardError(std::string_view bytes);

// The process's arguments, program path first, each exactly the bytes of argv:
// not decoded, re-encoded or checked as UTF-8, none added or dropped by a
// toolkit's reading of the command line.
std::vector<std::string> processArguments();

// Now, in the user's calendar and time zone, written with a date-format pattern
// such as "dd/MM/yyyy HH:mm:ss" (the platform's date formatter supplies the digits).
std::string stringFromCurrentDate(std::string_view dateFormat);

}  // namespace platform
