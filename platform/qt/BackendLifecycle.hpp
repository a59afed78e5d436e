// Hooks between applicationMain and the parts of the backend that must be set
// up before Qt sees the command line, or wound down while Qt still exists.
#pragma once

namespace platform::qt {

// After the main loop has ended, work posted from other threads is dropped
// instead of reaching an application object that is going away.
void closeMainQueue();

// Ends the application as terminate does; the window's own ways out (Quit,
// closing it, a quit signal) have no delegate to send as.
void quitApplication();

// Stops every pending timer while the event dispatcher that owns them exists.
void invalidateAllTimers();

}  // namespace platform::qt
