#pragma once

#include <QtGlobal>
#include <qcoro/qcorotask.h>

namespace quaystone {

enum class AdministratorStopOutcome {
    stopped,       // every process listening on the port was stopped
    noListener,    // nothing listened on the port any more
    cancelled,     // the user dismissed the authentication dialog
    notAuthorized, // authentication failed or was refused, or the system refused a signal
    unavailable,   // pkexec or the helper is not installed
    failed,        // a listener survived or could not be reached
};

// Stops every process listening on a port, with administrator rights the user authenticates
// for. Never fails otherwise: every refusal becomes an outcome.
class AdministratorStopping {
public:
    virtual ~AdministratorStopping() = default;

    virtual QCoro::Task<AdministratorStopOutcome> stop(qint64 port) = 0;
};

} // namespace quaystone
