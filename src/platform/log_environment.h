// Binds the diagnostic log (base/log.h) to the platform: its folder under the user's state
// folder and the local time come from the System and Clock ports. Header only; the log itself
// knows nothing of the ports.
#pragma once

#include "base/log.h"
#include "platform/clock.h"
#include "platform/system.h"

namespace quillon {

// Opens the log over the given ports (see InitializeLogging); they must outlive
// ShutdownLogging.
inline bool InitializeLogging(System& system, Clock& clock) {
    return InitializeLogging(LogEnvironment{
        &system, [&system] { return system.AppFolderPath(AppFolder::State); },
        [&clock] { return clock.Local(); }});
}

}  // namespace quillon
