// Hooks between applicationMain and the parts of the backend that must be set
// up before Qt sees the command line, or wound down while Qt still exists.
#pragma once

namespace platform::qt {

// Qt removes the options it understands from argv; the launcher reports the
// command line as it was given, so the copy is taken first.
void rememberProcessArguments(int argc, const char* const* argv);

// After the main loop has ended, work posted from other threads is dropped
// instead of reaching an application object that is going away.
void closeMainQueue();

// Stops every pending timer while the event dispatcher that owns them exists.
void invalidateAllTimers();

}  // namespace platform::qt
