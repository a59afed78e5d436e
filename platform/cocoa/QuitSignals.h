// SIGINT, SIGTERM and SIGHUP quit like Quit, whatever the main thread is blocked in.
#pragma once

namespace platform {

// Before NSApplicationMain. GNUstep's application sets SIGINT and SIGTERM
// handlers of its own while it launches, so applicationDidFinishLaunching takes
// them back with posix::claimQuitSignals.
void installQuitSignals();

}  // namespace platform
