#include "uitest/UITestListingService.h"

#include "uitest/NextEventLoopTurn.h"
#include "uitest/UITestScenarioState.h"

namespace quaystone {

UITestListingService::UITestListingService(std::shared_ptr<UITestScenarioState> state)
    : m_state(std::move(state)) {}

QCoro::Task<PortListingResult> UITestListingService::listPorts(PortRange) {
    // A copy in the frame keeps the state alive across the suspension.
    const std::shared_ptr<UITestScenarioState> state = m_state;
    co_await NextEventLoopTurn{};
    state->countListing();
    co_return PortListingResult(state->visibleEntries());
}

} // namespace quaystone
