#pragma once

#include "app/LaunchOptions.h"
#include "model/PortEntry.h"

#include <QList>
#include <QSet>

namespace quaystone {

// The one piece of mutable data of the fake world, shared by a host's fake listing and fake
// killer. Confined to the main thread: every read and write happens there, so the listing's
// reads and the killer's writes are serialised by the event loop without locks. The fakes
// reach it only after awaiting NextEventLoopTurn, as a call into a separate executor would.
class UITestScenarioState {
public:
    explicit UITestScenarioState(UITestScenario scenario)
        : m_scenario(scenario) {}

    UITestScenario scenario() const { return m_scenario; }

    // Processes the fake killer has stopped. Only grows: nothing brings a hidden entry back.
    const QSet<qint32> &hiddenPIDs() const { return m_hiddenPIDs; }
    void hide(qint32 pid) { m_hiddenPIDs.insert(pid); }

    // The fixed entries in their fixed order, without those of hidden processes.
    QList<PortEntry> visibleEntries() const;

    // How many listings the fake listing has served; one per refresh pass of the store.
    int listingCount() const { return m_listingCount; }
    void countListing() { ++m_listingCount; }

private:
    const UITestScenario m_scenario;
    QSet<qint32> m_hiddenPIDs;
    int m_listingCount = 0;
};

} // namespace quaystone
