#pragma once

namespace quaystone {

// Why a kill request for a row failed.
enum class RowError {
    permissionDenied,
    couldNotKill,
    notAuthorized,                // a stop as administrator was refused
    administratorStopUnavailable, // pkexec or the stop-port helper is missing
    couldNotStopContainer,        // the row's error record carries the engine's message
    containerProxy,               // the process forwards a container's port and is never signalled
    couldNotStopService,          // the row's error record carries the unit and its manager's reason
};

} // namespace quaystone
