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
// The latest exit timer. Replacing it does not cancel the one held before: only the
// approval callback invalidates a timer.
inline std::shared_ptr<platform::Timer> exitTimer;

}  // namespace launcher
