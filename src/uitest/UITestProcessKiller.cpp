#include "uitest/UITestProcessKiller.h"

#include "uitest/NextEventLoopTurn.h"
#include "uitest/UITestScenarioState.h"

namespace quaystone {

namespace {

constexpr qint32 refusedPID = 888;

} // namespace

UITestProcessKiller::UITestProcessKiller(std::shared_ptr<UITestScenarioState> state)
    : m_state(std::move(state)) {}

QCoro::Task<ProcessKillOutcome> UITestProcessKiller::kill(qint32 pid, std::optional<quint64>) {
    const std::shared_ptr<UITestScenarioState> state = m_state;
    co_await NextEventLoopTurn{};
    if (state->scenario() == UITestScenario::killPermissionDenied && pid == refusedPID)
        co_return ProcessKillOutcome::permissionDenied;
    state->hide(pid);
    co_return ProcessKillOutcome::killed;
}

} // namespace quaystone
