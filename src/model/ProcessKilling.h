#pragma once

#include <QtGlobal>
#include <qcoro/qcorotask.h>

#include <optional>

namespace quaystone {

enum class ProcessKillOutcome {
    killed,           // the process was stopped
    notRunning,       // the listed process does not (or no longer) exist
    permissionDenied, // refused with EPERM
    failed,           // refused with any other error number
};

class ProcessKilling {
public:
    virtual ~ProcessKilling() = default;

    // Stops the process pid if it is still the one that started at startTime (clock ticks since
    // boot, as listed). Never fails otherwise: every refusal becomes an outcome.
    virtual QCoro::Task<ProcessKillOutcome> kill(qint32 pid, std::optional<quint64> startTime) = 0;
};

} // namespace quaystone
