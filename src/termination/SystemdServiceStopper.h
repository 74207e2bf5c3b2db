#pragma once

#include "model/ServiceStopping.h"

#include <chrono>

namespace quaystone {

// Stops a unit with the manager's StopUnit(name, "replace"): a user unit on the session bus, a
// system unit on the system bus with interactive authorization allowed, so that the desktop's
// polkit agent can ask for an administrator. A socket unit is stopped with the services it
// starts, a service with the sockets that would start it again; the stop ends when the
// manager reports every job removed.
class SystemdServiceStopper final : public ServiceStopping {
public:
    // An authentication dialog may stay open a while; past this the stop is reported failed.
    static constexpr std::chrono::milliseconds jobDeadline{30000};

    QCoro::Task<ServiceStopResult> stop(ServiceUnit unit) override;
};

} // namespace quaystone
