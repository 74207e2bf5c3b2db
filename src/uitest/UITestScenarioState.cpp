#include "uitest/UITestScenarioState.h"

#include "uitest/UITestFixedEntries.h"

namespace quaystone {

QList<PortEntry> UITestScenarioState::visibleEntries() const {
    QList<PortEntry> entries = uiTestFixedEntries();
    entries.removeIf([this](const PortEntry &entry) { return m_hiddenPIDs.contains(entry.pid()); });
    return entries;
}

} // namespace quaystone
