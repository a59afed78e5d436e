// SIGINT, SIGTERM and SIGHUP quit like Quit; one that the launcher was started
// with ignored (nohup, a shell's background job) stays ignored. A handler may
// do almost nothing, so each only writes one byte into a pipe: the backend
// watches the read end and quits from its main loop, and an output write that
// waits on a slow reader gives up once the read end is readable. A handler,
// unlike a blocked signal mask, is not inherited by the programs the process
// starts.
#pragma once

namespace platform::posix {

// Opens the pipe (both ends non-blocking and closed on exec) and installs the
// handlers. The read end, or -1 when no pipe could be made: the default
// dispositions then stay, and a signal still ends the process.
int openQuitSignalPipe();

// Installs the handlers again, for a toolkit that sets its own; nothing while
// no pipe is open.
void claimQuitSignals();

// The handlers stay, with nowhere to write: a signal that arrives while the
// process is already ending is simply absorbed.
void closeQuitSignalPipe();

// The read end, -1 while no pipe is open.
int quitSignalDescriptor();

}  // namespace platform::posix
