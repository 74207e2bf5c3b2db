#include "model/PortStore.h"
#include "support/StoreTest.h"

#include <gtest/gtest.h>

using namespace quaystone;
using namespace quaystone::test;

namespace {

PortEntry own(qint32 pid, qint64 port) {
    return PortEntry(pid, port, QStringLiteral("proc%1").arg(pid));
}

PortEntry foreign(qint64 port, quint32 uid = 0) {
    return PortEntry::foreignListener(port, uid, QStringLiteral("root"));
}

using PortStoreAdministratorStopTest = StoreTest;

TEST_F(PortStoreAdministratorStopTest, EachOutcomeLeavesTheRowsAndErrorsItShould) {
    // Port 5000 has root's listener, one of uid 1000 and one of the user's own; the helper is
    // asked for root's alone and stops nothing else.
    const QList<PortEntry> rows{own(10, 3000), own(11, 5000), foreign(5000), foreign(5000, 1000), foreign(6000)};
    const QList<qint64> all{3000, 5000, 5000, 5000, 6000};
    const QList<qint64> freed{3000, 5000, 5000, 6000};
    const QString survived = QStringLiteral("postgres (pid 812): still running after SIGKILL");
    const struct {
        AdministratorStopOutcome outcome;
        QList<qint64> portsAfter;
        std::optional<RowError> errorOnForeignRow;
        QString detail = {};
    } cases[] = {
        {AdministratorStopOutcome::stopped, freed, std::nullopt},
        {AdministratorStopOutcome::noListener, freed, std::nullopt},
        {AdministratorStopOutcome::cancelled, all, std::nullopt},
        {AdministratorStopOutcome::notAuthorized, all, RowError::notAuthorized},
        {AdministratorStopOutcome::unavailable, all, RowError::administratorStopUnavailable},
        {AdministratorStopOutcome::failed, all, RowError::couldNotKill, survived},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.outcome));
        reset();
        refreshWith(rows);
        store().setSelectedEntryID(foreign(5000).id());
        m_listing->held = true; // the refresh that follows the stop stays open
        // What the helper says it left running is told under the row.
        if (!c.detail.isEmpty())
            m_administratorStopper->processes = {
                {811, QStringLiteral("postgres"), {}},
                {812, QStringLiteral("postgres"), QStringLiteral("still running after SIGKILL")}};

        auto task = store().stopAsAdministrator(foreign(5000).id());
        // Nothing changes while the user authenticates.
        EXPECT_EQ(portsOf(store().entries()), all);
        ASSERT_EQ(m_administratorStopper->pending.waiting(), 1u);
        m_administratorStopper->pending.complete(c.outcome);

        EXPECT_EQ(portsOf(store().entries()), c.portsAfter);
        EXPECT_EQ(store().rowError(foreign(5000).id()), c.errorOnForeignRow);
        EXPECT_EQ(store().rowErrorDetail(foreign(5000).id()), c.detail);
        // The other users' rows on that port get no error of the stop.
        EXPECT_EQ(store().rowError(own(11, 5000).id()), std::nullopt);
        EXPECT_EQ(store().rowError(foreign(5000, 1000).id()), std::nullopt);
        EXPECT_EQ(m_administratorStopper->ports, QList<qint64>{5000});
        EXPECT_EQ(m_administratorStopper->uids, QList<quint32>{0});
        EXPECT_TRUE(m_killer->pids.isEmpty());
        // A freed row hands the selection to the next row, as a kill does.
        EXPECT_EQ(store().selectedEntryID(), (c.portsAfter == freed ? foreign(5000, 1000) : foreign(5000)).id());
        EXPECT_EQ(m_listing->pending.waiting(), 1u) << "every outcome refreshes";
        m_listing->pending.complete(QList<PortEntry>{});
        EXPECT_TRUE(task.isReady());
    }
}

TEST_F(PortStoreAdministratorStopTest, ASuccessClearsAnEarlierError) {
    refreshWith({foreign(5000)});
    m_administratorStopper->held = false;
    m_administratorStopper->outcome = AdministratorStopOutcome::notAuthorized;
    store().stopAsAdministrator(foreign(5000).id());
    ASSERT_EQ(store().rowError(foreign(5000).id()), RowError::notAuthorized);

    m_administratorStopper->outcome = AdministratorStopOutcome::stopped;
    store().stopAsAdministrator(foreign(5000).id());
    EXPECT_EQ(store().rowError(foreign(5000).id()), std::nullopt);
}

TEST_F(PortStoreAdministratorStopTest, RequestsThatMustNotReachTheHelper) {
    refreshWith({own(10, 3000), foreign(5000)});
    // A row with a process, and a row that is not listed.
    store().stopAsAdministrator(own(10, 3000).id());
    store().stopAsAdministrator(foreign(7000).id());
    EXPECT_TRUE(m_administratorStopper->ports.isEmpty());

    // A second request while the first waits for authentication asks only once.
    auto first = store().stopAsAdministrator(foreign(5000).id());
    auto second = store().stopAsAdministrator(foreign(5000).id());
    EXPECT_TRUE(second.isReady());
    EXPECT_EQ(m_administratorStopper->ports, QList<qint64>{5000});
    m_administratorStopper->pending.complete(AdministratorStopOutcome::cancelled);
    EXPECT_TRUE(store().portsBeingStoppedAsAdministrator().isEmpty());
}

TEST_F(PortStoreAdministratorStopTest, AKillOfARowWithoutAProcessStopsItAsAdministrator) {
    refreshWith({own(10, 3000), foreign(5000), foreign(6000, 1000)});
    m_listing->held = true;
    auto task = store().kill(foreign(5000).id());
    // No pid 0 reaches the killer, and the other users' rows are not hidden as if pid 0 were killed.
    EXPECT_TRUE(m_killer->pids.isEmpty());
    EXPECT_EQ(portsOf(store().entries()), QList<qint64>({3000, 5000, 6000}));
    EXPECT_EQ(m_administratorStopper->ports, QList<qint64>{5000});
    m_administratorStopper->pending.complete(AdministratorStopOutcome::stopped);
    EXPECT_EQ(portsOf(store().entries()), QList<qint64>({3000, 6000}));
    m_listing->pending.complete(QList<PortEntry>{});
    EXPECT_TRUE(task.isReady());
}

TEST_F(PortStoreAdministratorStopTest, WithoutAStopperTheRowSaysItIsUnavailable) {
    auto listing = std::make_unique<FakeListing>();
    listing->answer = QList<PortEntry>{foreign(5000)};
    PortStore bare(std::move(listing), std::make_unique<FakeResolver>(), std::make_unique<FakeKiller>());
    bare.seedEntries({foreign(5000)});
    bare.stopAsAdministrator(foreign(5000).id());
    EXPECT_EQ(bare.rowError(foreign(5000).id()), RowError::administratorStopUnavailable);
}

TEST_F(PortStoreAdministratorStopTest, APassListedBeforeTheStopEndedDoesNotBringTheRowsBack) {
    refreshWith({own(10, 3000), foreign(5000)});
    m_listing->held = true;
    auto pass = store().refresh(); // lists while the stop runs
    auto stop = store().stopAsAdministrator(foreign(5000).id());
    m_administratorStopper->pending.complete(AdministratorStopOutcome::stopped);
    ASSERT_EQ(portsOf(store().entries()), QList<qint64>{3000});

    // The old listing still has the listener; the pass owed by the stop lists afresh. Another
    // user's listener on the same port, which the stop left alone, is shown.
    m_listing->pending.complete(QList<PortEntry>{own(10, 3000), foreign(5000), foreign(5000, 1000)});
    EXPECT_EQ(portsOf(store().entries()), QList<qint64>({3000, 5000}));
    ASSERT_EQ(m_listing->pending.waiting(), 1u);
    // A listener that came back since is shown again.
    m_listing->pending.complete(QList<PortEntry>{own(10, 3000), foreign(5000)});
    EXPECT_EQ(portsOf(store().entries()), QList<qint64>({3000, 5000}));
    EXPECT_EQ(store().entries().at(1).id(), foreign(5000).id());
    EXPECT_TRUE(pass.isReady());
    EXPECT_TRUE(stop.isReady());
}

} // namespace
