#pragma once

#include "model/ContainerInfo.h"

#include <QString>
#include <qcoro/qcorotask.h>

namespace quaystone {

enum class ContainerStopOutcome {
    stopped,    // the engine stopped it
    notRunning, // already stopped, or gone
    refused,    // the engine refused or could not be reached; the message says why
};

struct ContainerStopResult {
    ContainerStopOutcome outcome = ContainerStopOutcome::refused;
    // For a refusal: the engine's own message, or why it could not be asked.
    QString message;

    friend bool operator==(const ContainerStopResult &, const ContainerStopResult &) = default;
};

class ContainerStopping {
public:
    virtual ~ContainerStopping() = default;

    // Stops the container through its engine: SIGTERM, a grace period, then SIGKILL. Never
    // fails otherwise: every refusal becomes an outcome.
    virtual QCoro::Task<ContainerStopResult> stop(ContainerInfo container) = 0;
};

} // namespace quaystone
