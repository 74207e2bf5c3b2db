#pragma once

#include "model/ServiceUnit.h"

#include <QString>
#include <qcoro/qcorotask.h>

namespace quaystone {

enum class ServiceStopOutcome {
    stopped,       // the manager's stop job ended: the unit is inactive and will not restart
    notAuthorized, // the manager (polkit) refused, or the user dismissed the authentication
    failed,        // anything else; the message carries the manager's reason
};

struct ServiceStopResult {
    ServiceStopOutcome outcome = ServiceStopOutcome::failed;
    QString message;

    friend bool operator==(const ServiceStopResult &, const ServiceStopResult &) = default;
};

class ServiceStopping {
public:
    virtual ~ServiceStopping() = default;

    // Stops the unit through its manager, with the socket unit that would start it again.
    // Never fails otherwise: every refusal becomes an outcome.
    virtual QCoro::Task<ServiceStopResult> stop(ServiceUnit unit) = 0;
};

} // namespace quaystone
