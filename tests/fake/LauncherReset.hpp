// Puts the launcher's module-level state back to its values at process start.
// Call it in SetUp (and TearDown) of every test that runs the launcher's logic:
// the state lives at module level and would otherwise leak between tests.
#pragma once

#include "veltrin_Driverkit_Launcher/ActivityLog.hpp"
#include "veltrin_Driverkit_Launcher/LauncherState.hpp"

namespace fake {

inline void resetLauncherState() {
    launcher::commandLineMode = false;
    launcher::interactiveInstall = false;
    launcher::keepRunning = false;
    launcher::statusQuery = false;
    launcher::boundedWait = false;
    launcher::outcomeArrived = false;
    launcher::exitTimer.reset();
    launcher::logFileURL.reset();
}

}  // namespace fake
