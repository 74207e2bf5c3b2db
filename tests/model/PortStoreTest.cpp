#include "model/PortStore.h"
#include "support/StoreFakes.h"

#include <QSignalSpy>
#include <QTimer>
#include <gtest/gtest.h>

using namespace quaystone;
using namespace quaystone::test;
using namespace std::chrono_literals;

namespace {

PortEntry entry(qint32 pid, qint64 port, QString dir = {}) {
    return PortEntry(pid, port, QStringLiteral("proc%1").arg(pid), dir.isEmpty() ? std::nullopt : std::optional(dir));
}

QList<qint64> ports(const QList<PortEntry> &entries) {
    QList<qint64> result;
    for (const PortEntry &e : entries)
        result.append(e.port());
    return result;
}

class PortStoreTest : public ::testing::Test {
protected:
    PortStoreTest() { reset(); }

    // A fresh store over fresh fakes, for table cases that each need a clean start.
    void reset() {
        m_store.reset();
        auto listing = std::make_unique<FakeListing>();
        auto resolver = std::make_unique<FakeResolver>();
        auto killer = std::make_unique<FakeKiller>();
        m_listing = listing.get();
        m_resolver = resolver.get();
        m_killer = killer.get();
        m_store = std::make_unique<PortStore>(std::move(listing), std::move(resolver), std::move(killer),
                                              PortStore::defaultRange, [this] { return m_clock; });
    }

    // Runs one complete refresh with the listing answering `rows` at once.
    void refreshWith(QList<PortEntry> rows) {
        m_listing->held = false;
        m_listing->answer = std::move(rows);
        auto task = m_store->refresh();
        ASSERT_TRUE(task.isReady());
    }

    PortStore &store() { return *m_store; }

    FakeListing *m_listing = nullptr;
    FakeResolver *m_resolver = nullptr;
    FakeKiller *m_killer = nullptr;
    PortStore::TimePoint m_clock = PortStore::TimePoint(1000s);
    std::unique_ptr<PortStore> m_store;
};

TEST_F(PortStoreTest, StartsEmptyAndIdle) {
    EXPECT_TRUE(store().entries().isEmpty());
    EXPECT_EQ(store().refreshState(), RefreshState::idle);
    EXPECT_FALSE(store().lastUpdatedAt());
    EXPECT_FALSE(store().selectedEntryID());
    EXPECT_TRUE(store().rowErrors().isEmpty());
    EXPECT_EQ(store().range(), (PortRange{3000, 9999}));
}

TEST_F(PortStoreTest, RequestsDuringAPassAreCoalescedIntoOneMorePass) {
    m_listing->held = true;
    auto first = store().refresh();
    ASSERT_EQ(m_listing->pending.waiting(), 1u);

    auto second = store().refresh();
    auto third = store().refresh();
    auto fourth = store().refresh();
    EXPECT_TRUE(second.isReady());
    EXPECT_TRUE(third.isReady());
    EXPECT_TRUE(fourth.isReady());
    EXPECT_TRUE(store().hasPendingRefresh());

    m_listing->pending.complete(QList<PortEntry>{entry(1, 3000)});
    ASSERT_EQ(m_listing->ranges.size(), 2) << "exactly one more pass";
    EXPECT_FALSE(first.isReady());
    EXPECT_FALSE(store().hasPendingRefresh());

    m_listing->pending.complete(QList<PortEntry>{entry(1, 3000), entry(2, 4000)});
    EXPECT_TRUE(first.isReady());
    EXPECT_FALSE(store().isRefreshing());
    EXPECT_EQ(m_listing->ranges.size(), 2);
    EXPECT_EQ(ports(store().entries()), (QList<qint64>{3000, 4000}));
    EXPECT_EQ(m_listing->ranges.first(), (PortRange{3000, 9999}));
}

TEST_F(PortStoreTest, RefreshStateFollowsFirstLoadThroughFailureAndSuccess) {
    m_listing->held = true;
    auto failing = store().refresh();
    EXPECT_EQ(store().refreshState(), RefreshState::loadingInitial);
    m_listing->pending.complete(CommandRunnerError::launchFailed);
    EXPECT_EQ(store().refreshState(), RefreshState::idle);
    EXPECT_TRUE(store().entries().isEmpty());
    EXPECT_FALSE(store().lastUpdatedAt());

    auto succeeding = store().refresh();
    EXPECT_EQ(store().refreshState(), RefreshState::loadingInitial);
    m_listing->pending.complete(QList<PortEntry>{entry(7, 5173)});
    EXPECT_EQ(store().refreshState(), RefreshState::loaded);
    EXPECT_EQ(store().lastUpdatedAt(), m_clock);

    // A later failure leaves everything as the last success left it.
    const auto before = store().entries();
    m_clock += 30s;
    auto laterFailure = store().refresh();
    EXPECT_EQ(store().refreshState(), RefreshState::loaded) << "a pass after a success never shows loading";
    m_listing->pending.complete(CommandRunnerError::launchFailed);
    EXPECT_EQ(store().refreshState(), RefreshState::loaded);
    EXPECT_EQ(store().entries(), before);
    EXPECT_EQ(store().lastUpdatedAt(), m_clock - 30s);
    EXPECT_EQ(store().selectedEntryID(), (PortEntryID{7, 5173}));
}

TEST_F(PortStoreTest, EveryPassResolvesEveryRowInOrderAndReplacesDirectories) {
    m_resolver->directories = {{1, QStringLiteral("/srv/a")}, {2, std::nullopt}};
    refreshWith({entry(1, 3000), entry(2, 3001), entry(1, 3002, QStringLiteral("/stale"))});
    EXPECT_EQ(m_resolver->pids, (QList<qint32>{1, 2, 1}));
    ASSERT_EQ(store().entries().size(), 3);
    EXPECT_EQ(store().entries()[0].workingDirectory(), QStringLiteral("/srv/a"));
    EXPECT_EQ(store().entries()[1].workingDirectory(), std::nullopt);
    EXPECT_EQ(store().entries()[2].workingDirectory(), QStringLiteral("/srv/a"));
}

TEST_F(PortStoreTest, ALongResolutionServesTheEventLoopAndKeepsTheOrder)
{
    QList<PortEntry> many;
    for (int i = 0; i < 600; ++i)
        many.append(entry(100 + i % 7, 3000 + i));
    m_listing->answer = many;
    bool served = false;
    QTimer::singleShot(0, &store(), [&] { served = store().isRefreshing(); });

    auto task = store().refresh();
    EXPECT_FALSE(task.isReady()) << "thousands of synchronous reads must not hold the loop";
    ASSERT_TRUE(spinUntil([&] { return task.isReady(); }));
    EXPECT_TRUE(served);
    EXPECT_EQ(store().entries(), many);
    EXPECT_EQ(m_resolver->pids.size(), 600);
}

TEST_F(PortStoreTest, SelectionIsCarriedOverAcrossPasses) {
    const PortEntry a = entry(1, 3001), b = entry(2, 3002), c = entry(3, 3003), d = entry(4, 3004);
    struct Case {
        const char *name;
        QList<PortEntry> previous;
        std::optional<PortEntryID> selected;
        QList<PortEntry> current;
        std::optional<PortEntryID> expected;
    };
    const QList<Case> cases = {
        {"first load selects the first row", {}, std::nullopt, {b, c}, b.id()},
        {"a list that had rows gains no selection", {a}, std::nullopt, {a, b}, std::nullopt},
        {"selected row survives", {a, b, c}, b.id(), {c, b}, b.id()},
        {"vanished row hands over to its follower", {a, b, c}, b.id(), {a, c}, c.id()},
        {"then to its predecessor", {a, b, c}, b.id(), {a}, a.id()},
        {"follower found beyond vanished ones", {a, b, c, d}, a.id(), {d}, d.id()},
        {"predecessor nearest first", {a, b, c, d}, d.id(), {a, b}, b.id()},
        {"no old neighbour survives", {a, b, c}, b.id(), {d}, std::nullopt},
        {"empty list clears", {a, b}, a.id(), {}, std::nullopt},
        {"selection never listed clears", {a, b}, d.id(), {c}, std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        refreshWith(c.previous);
        store().setSelectedEntryID(c.selected);
        refreshWith(c.current);
        EXPECT_EQ(store().selectedEntryID(), c.expected);
    }
}

TEST_F(PortStoreTest, ArrowSelectionStopsAtTheEndsAndRecoversFromNone) {
    store().selectNext();
    store().selectPrevious();
    EXPECT_FALSE(store().selectedEntryID()) << "empty list: nothing to select";

    refreshWith({entry(1, 3001), entry(2, 3002), entry(3, 3003)});
    store().setSelectedEntryID(std::nullopt);
    store().selectPrevious();
    EXPECT_EQ(store().selectedEntryID(), (PortEntryID{1, 3001}));
    store().selectPrevious();
    EXPECT_EQ(store().selectedEntryID(), (PortEntryID{1, 3001}));
    store().selectNext();
    store().selectNext();
    store().selectNext();
    EXPECT_EQ(store().selectedEntryID(), (PortEntryID{3, 3003}));
    store().setSelectedEntryID(PortEntryID{9, 9999});
    store().selectNext();
    EXPECT_EQ(store().selectedEntryID(), (PortEntryID{1, 3001})) << "an unlisted selection restarts at the top";
}

TEST_F(PortStoreTest, SeedingSelectsTheFirstRowAndLeavesTheStateIdle) {
    store().seedEntries({entry(777, 4242), entry(888, 5252)});
    EXPECT_EQ(store().selectedEntryID(), (PortEntryID{777, 4242}));
    EXPECT_EQ(store().refreshState(), RefreshState::idle);
    EXPECT_FALSE(store().lastUpdatedAt());

    store().seedEntries({entry(888, 5252)});
    EXPECT_EQ(store().selectedEntryID(), (PortEntryID{777, 4242})) << "an existing selection is kept";
}

// A process on 3001 and 3005, another on 3003; the 3005 row is selected and killed.
class KillTest : public PortStoreTest {
protected:
    void SetUp() override {
        refreshWith({entry(10, 3001), entry(20, 3003), entry(10, 3005)});
        store().setSelectedEntryID(PortEntryID{10, 3005});
        m_listing->answer = QList<PortEntry>{entry(20, 3003)};
    }
};

TEST_F(KillTest, RemovesEveryRowOfTheProcessAtOnceAndMovesTheSelection) {
    auto task = store().kill(PortEntryID{10, 3005});
    EXPECT_FALSE(task.isReady());
    EXPECT_EQ(m_killer->pids, (QList<qint32>{10}));
    EXPECT_EQ(ports(store().entries()), (QList<qint64>{3003}));
    EXPECT_EQ(store().selectedEntryID(), (PortEntryID{20, 3003}));
    EXPECT_TRUE(store().suppressedPIDs().contains(10));
    m_killer->pending.complete(ProcessKillOutcome::killed);
    EXPECT_TRUE(task.isReady());
}

TEST_F(KillTest, OutcomesPutRowsBackWithErrorsOrClearThem) {
    struct Case {
        ProcessKillOutcome outcome;
        QList<qint64> portsAfterKill;
        std::optional<RowError> error;
    };
    const QList<Case> cases = {
        {ProcessKillOutcome::permissionDenied, {3001, 3003, 3005}, RowError::permissionDenied},
        {ProcessKillOutcome::failed, {3001, 3003, 3005}, RowError::couldNotKill},
        {ProcessKillOutcome::killed, {3003}, std::nullopt},
        {ProcessKillOutcome::notRunning, {3003}, std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.outcome));
        reset();
        SetUp();
        // An earlier failure leaves an error to be replaced or cleared.
        auto earlier = store().kill(PortEntryID{10, 3001});
        m_killer->pending.complete(ProcessKillOutcome::failed);
        refreshWith({entry(10, 3001), entry(20, 3003), entry(10, 3005)});
        ASSERT_EQ(store().rowError(PortEntryID{10, 3005}), RowError::couldNotKill);
        store().setSelectedEntryID(PortEntryID{10, 3005});

        m_listing->held = true;
        auto task = store().kill(PortEntryID{10, 3005});
        const auto selectionDuringKill = store().selectedEntryID();
        m_killer->pending.complete(c.outcome);

        EXPECT_EQ(ports(store().entries()), c.portsAfterKill);
        EXPECT_EQ(store().rowError(PortEntryID{10, 3001}), c.error);
        EXPECT_EQ(store().rowError(PortEntryID{10, 3005}), c.error);
        EXPECT_EQ(store().rowErrors().size(), c.error ? 2 : 0) << "one record per id";
        EXPECT_EQ(store().selectedEntryID(), selectionDuringKill) << "the put-back does not move the selection";
        EXPECT_FALSE(store().suppressedPIDs().contains(10));

        ASSERT_EQ(m_listing->pending.waiting(), 1u) << "a refresh follows every kill";
        EXPECT_FALSE(task.isReady());
        m_listing->pending.complete(QList<PortEntry>{entry(20, 3003)});
        EXPECT_TRUE(task.isReady());
    }
}

TEST_F(KillTest, ErrorsAreAnnouncedWithTheRowsThatShowThem) {
    auto task = store().kill(PortEntryID{10, 3005});
    bool errorVisibleWithRows = false;
    QObject::connect(&store(), &PortStore::changed, &store(), [&] {
        if (store().entries().size() == 3)
            errorVisibleWithRows = store().rowError(PortEntryID{10, 3001}).has_value();
    });
    m_killer->pending.complete(ProcessKillOutcome::permissionDenied);
    EXPECT_TRUE(errorVisibleWithRows);
}

TEST_F(KillTest, AnUnlistedIdChangesNothingAndStartsNoRefresh) {
    QSignalSpy changes(&store(), &PortStore::changed);
    const auto listingsBefore = m_listing->ranges.size();
    auto task = store().kill(PortEntryID{10, 4000});
    EXPECT_TRUE(task.isReady());
    EXPECT_EQ(changes.count(), 0);
    EXPECT_TRUE(m_killer->pids.isEmpty());
    EXPECT_EQ(m_listing->ranges.size(), listingsBefore);
    EXPECT_EQ(store().entries().size(), 3);
}

TEST_F(KillTest, ASecondKillOfAnAlreadyRemovedRowDoesNothing) {
    auto first = store().kill(PortEntryID{10, 3005});
    auto second = store().kill(PortEntryID{10, 3001});
    EXPECT_TRUE(second.isReady());
    EXPECT_EQ(m_killer->pids, (QList<qint32>{10}));
    m_killer->pending.complete(ProcessKillOutcome::killed);
}

TEST_F(KillTest, APassEndingDuringTheGracePeriodHidesTheProcess) {
    auto kill = store().kill(PortEntryID{10, 3005});
    // The tool still lists the process while it winds down.
    refreshWith({entry(10, 3001), entry(20, 3003), entry(10, 3005)});
    EXPECT_EQ(ports(store().entries()), (QList<qint64>{3003}));

    m_listing->answer = QList<PortEntry>{entry(20, 3003)};
    m_killer->pending.complete(ProcessKillOutcome::killed);
    EXPECT_EQ(ports(store().entries()), (QList<qint64>{3003}));
}

TEST_F(KillTest, AKillDuringResolutionIsHonouredWhenThePassPublishes) {
    m_resolver->held = true;
    m_listing->answer = QList<PortEntry>{entry(10, 3001), entry(20, 3003), entry(10, 3005)};
    auto pass = store().refresh();
    ASSERT_EQ(m_resolver->pending.waiting(), 1u);

    auto kill = store().kill(PortEntryID{10, 3005});
    EXPECT_EQ(ports(store().entries()), (QList<qint64>{3003}));
    for (int i = 0; i < 3; ++i)
        m_resolver->pending.complete(std::nullopt);
    EXPECT_TRUE(pass.isReady());
    EXPECT_EQ(ports(store().entries()), (QList<qint64>{3003})) << "suppressed rows are dropped at publishing";
    EXPECT_EQ(store().selectedEntryID(), (PortEntryID{20, 3003}));

    m_resolver->held = false;
    m_killer->pending.complete(ProcessKillOutcome::permissionDenied);
    // The put-back is followed by a refresh in which the process is listed again.
    EXPECT_TRUE(kill.isReady());
    EXPECT_EQ(ports(store().entries()), (QList<qint64>{3001, 3003, 3005}));
    EXPECT_EQ(store().rowError(PortEntryID{10, 3005}), RowError::permissionDenied);
}

TEST_F(PortStoreTest, EveryAssignmentToAnObservedFieldIsAnnounced) {
    QSignalSpy changes(&store(), &PortStore::changed);
    refreshWith({entry(1, 3001), entry(2, 3002)});
    // loadingInitial, entries, selection (first load), lastUpdatedAt, loaded
    EXPECT_EQ(changes.count(), 5);

    changes.clear();
    refreshWith({entry(1, 3001), entry(2, 3002)});
    EXPECT_EQ(changes.count(), 3) << "entries, lastUpdatedAt, refreshState: assigned although unchanged";

    changes.clear();
    store().setSelectedEntryID(store().selectedEntryID());
    store().selectPrevious(); // already on the first row
    EXPECT_EQ(changes.count(), 2);

    changes.clear();
    store().seedEntries(store().entries());
    EXPECT_EQ(changes.count(), 1) << "a seed with a selection kept assigns only the entries";
}

} // namespace
