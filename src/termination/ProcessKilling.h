#pragma once

#include <QtGlobal>
#include <qcoro/qcorotask.h>

namespace quaystone {

enum class ProcessKillOutcome {
    killed,           // the forced signal was delivered
    notRunning,       // the process does not (or no longer) exist
    permissionDenied, // refused with EPERM
    failed,           // refused with any other error number
};

class ProcessKilling {
public:
    virtual ~ProcessKilling() = default;

    // Never fails otherwise: every refusal becomes an outcome.
    virtual QCoro::Task<ProcessKillOutcome> kill(qint32 pid) = 0;
};

} // namespace quaystone
