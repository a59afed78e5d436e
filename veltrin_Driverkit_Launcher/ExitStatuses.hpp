// What the process's exit status says after -wait or -status (the help text has
// the table). Every other run ends with 0, as it always has.
#pragma once

namespace launcher::exitStatus {

// -wait: the request completed. -status: an enabled version is present.
inline constexpr int success = 0;
// -wait: it failed, gave an unexpected result, or SECONDS passed with no approval
// asked for. -status: the query failed.
inline constexpr int failure = 1;
inline constexpr int usageError = 2;
// -wait: it completes after a restart. -status: a version waits for a restart.
inline constexpr int afterRestart = 3;
// -wait: still awaiting approval when SECONDS ran out. -status: a version awaits it.
inline constexpr int awaitingApproval = 4;
inline constexpr int unsupportedRelease = 5;
// -status: the system knows no version of the extension.
inline constexpr int noVersionKnown = 6;

}  // namespace launcher::exitStatus
