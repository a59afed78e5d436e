// The launcher's run-time state. It lives at module level, not in AppDelegate,
// and is only ever touched on the main thread.
#pragma once

#include <memory>

#include "platform/Timer.hpp"

namespace launcher {

// Set in each command-line mode at launch; never set back.
inline bool commandLineMode = false;
// Set in the -installInteractive mode at launch; never set back.
inline bool interactiveInstall = false;
// Set by a failure or an unexpected result in -installInteractive; stops fireTimer
// from ending the application. Never set back.
inline bool keepRunning = false;
// Set by -status at launch: the one request is a properties request, and its
// answer ends the run.
inline bool statusQuery = false;
// -wait: set at launch; the run ends by an outcome or at the deadline, with a
// status that says what happened (ExitStatuses.hpp).
inline bool boundedWait = false;
// -wait: whether an outcome (a completion, a failure) has come. Until then no
// exit timer ends the run.
inline bool outcomeArrived = false;
// The latest exit timer. Replacing it does not cancel the one held before: only the
// approval callback invalidates a timer.
inline std::shared_ptr<platform::Timer> exitTimer;

}  // namespace launcher
