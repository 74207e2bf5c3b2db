#pragma once

#include "model/ProcessKilling.h"

#include <memory>

namespace quaystone {

class UITestScenarioState;

// Stops nothing real. In the killPermissionDenied scenario pid 888 is refused with
// permissionDenied and nothing changes; any other pid is hidden from later listings and
// reported killed. Completes on the main thread after one turn of the event loop.
class UITestProcessKiller : public ProcessKilling {
public:
    explicit UITestProcessKiller(std::shared_ptr<UITestScenarioState> state);

    QCoro::Task<ProcessKillOutcome> kill(qint32 pid, std::optional<quint64> startTime) override;

private:
    std::shared_ptr<UITestScenarioState> m_state;
};

} // namespace quaystone
