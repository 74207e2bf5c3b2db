#pragma once

#include "model/PortListing.h"

#include <memory>

namespace quaystone {

class UITestScenarioState;

// Lists the fixed entries that the fake killer has not stopped, whatever range it is asked
// for. Never fails; completes on the main thread after one turn of the event loop.
class UITestListingService : public PortListing {
public:
    explicit UITestListingService(std::shared_ptr<UITestScenarioState> state);

    QCoro::Task<PortListingResult> listPorts(PortRange range) override;

private:
    std::shared_ptr<UITestScenarioState> m_state;
};

} // namespace quaystone
