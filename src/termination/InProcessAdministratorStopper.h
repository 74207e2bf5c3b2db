#pragma once

#include "model/AdministratorStopping.h"

namespace quaystone {

// The stop-port helper's own code, run in this process on a worker thread: for a caller that is
// root already, which needs neither pkexec nor polkit.
class InProcessAdministratorStopper final : public AdministratorStopping {
public:
    QCoro::Task<AdministratorStopResult> stop(qint64 port, quint32 uid) override;
};

} // namespace quaystone
