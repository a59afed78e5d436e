// SIGINT, SIGTERM and SIGHUP quit like Quit, whatever the main thread is blocked in.
#pragma once

namespace platform {

void installQuitSignals();

// Takes the quit signals back: GNUstep's application sets SIGINT and SIGTERM
// handlers of its own while it launches.
void claimQuitSignals();

// Readable from the first quit signal on, and then for good; -1 before the install.
int quitSignalDescriptor();

}  // namespace platform
