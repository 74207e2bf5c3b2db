#include "model/PortStore.h"
#include "support/StoreTest.h"

#include <QSignalSpy>
#include <QTimer>
#include <gtest/gtest.h>

using namespace quaystone;
using namespace quaystone::test;
using namespace std::chrono_literals;

namespace {

PortEntry entry(qint32 pid, qint64 port) {
    return PortEntry(pid, port, QStringLiteral("proc%1").arg(pid));
}

using PortStoreTest = StoreTest;

TEST_F(PortStoreTest, RequestsDuringAPassAreCoalescedIntoOneMorePass) {
    m_listing->held = true;
    auto first = store().refresh();
    auto second = store().refresh();
    auto third = store().refresh();
    auto fourth = store().refresh();
    EXPECT_TRUE(second.isReady() && third.isReady() && fourth.isReady()) << "extra callers return at once";

    m_listing->pending.complete(QList<PortEntry>{entry(1, 3000)});
    EXPECT_EQ(m_listing->ranges.size(), 2) << "exactly one more pass";
    m_listing->pending.complete(QList<PortEntry>{entry(1, 3000), entry(2, 4000)});
    EXPECT_TRUE(first.isReady());
    EXPECT_FALSE(store().isRefreshing());
    EXPECT_EQ(m_listing->ranges, (QList<PortRange>{{3000, 9999}, {3000, 9999}}));
    EXPECT_EQ(portsOf(store().entries()), (QList<qint64>{3000, 4000}));
}

TEST_F(PortStoreTest, RefreshStateFollowsTheFirstLoadThroughFailureAndSuccess) {
    m_listing->held = true;
    auto failing = store().refresh();
    EXPECT_EQ(store().refreshState(), RefreshState::loadingInitial);
    m_listing->pending.complete(ListingError{});
    EXPECT_EQ(store().refreshState(), RefreshState::idle);
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
    EXPECT_EQ(store().refreshState(), RefreshState::loaded);
    m_listing->pending.complete(ListingError{});
    EXPECT_EQ(store().refreshState(), RefreshState::loaded);
    EXPECT_EQ(store().entries(), before);
    EXPECT_EQ(store().lastUpdatedAt(), m_clock - 30s);
}

// Each pass's listing answers in turn; the failure of the latest pass is kept beside the
// untouched state of the last success.
TEST_F(PortStoreTest, TheLatestFailedPassIsKeptUntilASuccess) {
    const ListingError missing{ListingFailure::toolMissing, "/usr/bin/lsof"};
    const ListingError timedOut{ListingFailure::timedOut, "/usr/bin/lsof"};
    const QList<PortEntry> rows{entry(7, 5173)};
    struct Case {
        const char *name;
        QList<PortListingResult> passes;
        std::optional<ListingError> failure;
        RefreshState state;
        QList<PortEntry> entries;
        bool updated;
    };
    const QList<Case> cases = {
        {"never loaded", {missing}, missing, RefreshState::idle, {}, false},
        {"failing again with another reason", {missing, timedOut}, timedOut, RefreshState::idle, {}, false},
        {"loaded before", {rows, timedOut}, timedOut, RefreshState::loaded, rows, true},
        {"loaded empty before", {QList<PortEntry>{}, missing}, missing, RefreshState::loaded, {}, true},
        {"a later success clears it", {missing, rows}, std::nullopt, RefreshState::loaded, rows, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        std::optional<ListingError> seenAtLastChange;
        QObject::connect(&store(), &PortStore::changed, &store(), [&] { seenAtLastChange = store().refreshFailure(); });
        for (const PortListingResult &pass : c.passes) {
            m_listing->answer = pass;
            m_clock += 10s;
            auto task = store().refresh();
            ASSERT_TRUE(task.isReady());
        }
        EXPECT_EQ(store().refreshFailure(), c.failure);
        EXPECT_EQ(seenAtLastChange, c.failure) << "announced";
        EXPECT_EQ(store().refreshState(), c.state);
        EXPECT_EQ(store().entries(), c.entries);
        EXPECT_EQ(store().lastUpdatedAt().has_value(), c.updated);
        if (c.updated && c.failure) {
            EXPECT_EQ(store().lastUpdatedAt(), m_clock - 10s) << "the time of the last success stays";
        }
    }
}

TEST_F(PortStoreTest, EveryPassReadsEachProcessOnceInOrderAndServesTheEventLoop) {
    m_resolver->directories = {{1, QStringLiteral("/srv/a")}};
    m_resolver->cost = 100us; // 30 ms in all
    QList<PortEntry> many;
    for (int i = 0; i < 600; ++i)
        many.append(PortEntry(1 + i % 300, 3000 + i, QString(), QStringLiteral("/stale")));
    const PortEntry foreign = PortEntry::foreignListener(9000, 0, QStringLiteral("root"));
    many.append(foreign);
    m_listing->answer = many;
    bool served = false;
    QTimer::singleShot(0, &store(), [&] { served = store().isRefreshing(); });

    auto task = store().refresh();
    EXPECT_FALSE(task.isReady()) << "30 ms of synchronous reads must not hold the loop";
    ASSERT_TRUE(spinUntil([&] { return task.isReady(); }));
    EXPECT_TRUE(served);
    ASSERT_EQ(m_resolver->pids.size(), 300) << "once per process, and never for a row without one";
    for (int i = 0; i < 300; ++i)
        EXPECT_EQ(m_resolver->pids[i], 1 + i);
    for (int i = 0; i < 600; ++i) {
        EXPECT_EQ(store().entries()[i].workingDirectory(),
                  i % 300 ? std::nullopt : std::optional(QStringLiteral("/srv/a")));
    }
    EXPECT_EQ(store().entries().last(), foreign);
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
        {"nearest predecessor first", {a, b, c, d}, d.id(), {a, b}, b.id()},
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

TEST_F(PortStoreTest, ArrowsStopAtTheEndsAndSeedingSelectsTheFirstRow) {
    store().selectNext();
    EXPECT_FALSE(store().selectedEntryID()) << "empty list: nothing to select";

    store().seedEntries({entry(1, 3001), entry(2, 3002), entry(3, 3003)});
    EXPECT_EQ(store().selectedEntryID(), (PortEntryID{1, 3001}));
    EXPECT_EQ(store().refreshState(), RefreshState::idle);
    store().selectPrevious();
    EXPECT_EQ(store().selectedEntryID(), (PortEntryID{1, 3001}));
    for (int i = 0; i < 3; ++i)
        store().selectNext();
    EXPECT_EQ(store().selectedEntryID(), (PortEntryID{3, 3003}));
    store().setSelectedEntryID(PortEntryID{9, 9999});
    store().selectPrevious();
    EXPECT_EQ(store().selectedEntryID(), (PortEntryID{1, 3001})) << "an unlisted selection restarts at the top";
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
        store().setSelectedEntryID(PortEntryID{10, 3005});

        m_listing->held = true;
        auto task = store().kill(PortEntryID{10, 3005});
        EXPECT_EQ(m_killer->pids, (QList<qint32>{10, 10}));
        EXPECT_EQ(portsOf(store().entries()), (QList<qint64>{3003})) << "every row of the process goes at once";
        EXPECT_EQ(store().selectedEntryID(), (PortEntryID{20, 3003}));
        m_killer->pending.complete(c.outcome);

        EXPECT_EQ(portsOf(store().entries()), c.portsAfterKill);
        EXPECT_EQ(store().rowError(PortEntryID{10, 3001}), c.error);
        EXPECT_EQ(store().rowError(PortEntryID{10, 3005}), c.error);
        EXPECT_EQ(store().rowErrors().size(), c.error ? 2 : 0) << "one record per id";
        EXPECT_EQ(store().selectedEntryID(), (PortEntryID{20, 3003})) << "the put-back does not move the selection";
        EXPECT_FALSE(store().suppressedPIDs().contains(10));
        ASSERT_EQ(m_listing->pending.waiting(), 1u) << "a refresh follows every kill";
        m_listing->pending.complete(QList<PortEntry>{entry(20, 3003)});
        EXPECT_TRUE(task.isReady());
    }
}

TEST_F(KillTest, ErrorsAreInPlaceWhenTheRowsComeBack) {
    auto task = store().kill(PortEntryID{10, 3005});
    bool errorShownWithRows = false;
    QObject::connect(&store(), &PortStore::changed, &store(), [&] {
        if (store().entries().size() == 3)
            errorShownWithRows = store().rowError(PortEntryID{10, 3001}).has_value();
    });
    m_killer->pending.complete(ProcessKillOutcome::permissionDenied);
    EXPECT_TRUE(errorShownWithRows);
}

TEST_F(KillTest, ARowErrorGoesWithItsProcess) {
    const QList<PortEntry> rows{entry(10, 3001), entry(20, 3003), entry(10, 3005)};
    m_resolver->startTimes.insert(10, 111);
    refreshWith(rows);
    auto task = store().kill(PortEntryID{10, 3001});
    m_killer->pending.complete(ProcessKillOutcome::permissionDenied);
    refreshWith(rows);
    EXPECT_EQ(store().rowError(PortEntryID{10, 3001}), RowError::permissionDenied) << "the same process keeps it";
    // The process ends and a new one is given its pid on the same ports.
    m_resolver->startTimes.insert(10, 222);
    refreshWith(rows);
    EXPECT_TRUE(store().rowErrors().isEmpty());
}

TEST_F(KillTest, AnUnlistedIdChangesNothingAndStartsNoRefresh) {
    QSignalSpy changes(&store(), &PortStore::changed);
    auto task = store().kill(PortEntryID{10, 4000});
    EXPECT_TRUE(task.isReady());
    EXPECT_EQ(changes.count(), 0);
    EXPECT_TRUE(m_killer->pids.isEmpty());
    EXPECT_EQ(m_listing->ranges.size(), 1);
}

TEST_F(KillTest, AKillDuringResolutionIsHonouredWhenThePassPublishes) {
    m_resolver->held = true;
    m_listing->answer = QList<PortEntry>{entry(10, 3001), entry(20, 3003), entry(10, 3005)};
    auto pass = store().refresh();
    auto kill = store().kill(PortEntryID{10, 3005});
    for (int i = 0; i < 2; ++i) // one read per process
        m_resolver->pending.complete(std::nullopt);
    EXPECT_TRUE(pass.isReady());
    EXPECT_EQ(portsOf(store().entries()), (QList<qint64>{3003})) << "suppressed rows are dropped at publishing";

    m_resolver->held = false;
    m_killer->pending.complete(ProcessKillOutcome::permissionDenied);
    EXPECT_TRUE(kill.isReady());
    EXPECT_EQ(portsOf(store().entries()), (QList<qint64>{3001, 3003, 3005}));
}

TEST_F(KillTest, AStoppedProcessStaysHiddenFromListingsThatBeganBeforeTheOutcome) {
    const QList<PortEntry> allRows = {entry(10, 3001), entry(20, 3003), entry(10, 3005)};
    const struct {
        const char *name;
        bool listingFirst; // the listing begins before the kill, else while it runs
        ProcessKillOutcome outcome;
        std::optional<quint64> startTimeReadAfterTheOutcome; // absent: the process is gone
        QList<qint64> published;
    } cases[] = {
        {"listing began before the kill", true, ProcessKillOutcome::killed, std::nullopt, {3003}},
        {"listing began during the kill", false, ProcessKillOutcome::killed, std::nullopt, {3003}},
        {"found gone", false, ProcessKillOutcome::notRunning, std::nullopt, {3003}},
        {"read before it ended", true, ProcessKillOutcome::killed, 100, {3003}},
        {"pid given to a new process", true, ProcessKillOutcome::killed, 300, {3001, 3003, 3005}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        m_resolver->startTimes = {{10, 100}, {20, 200}};
        SetUp();
        ASSERT_EQ(store().entries().first().startTime(), 100u);

        m_listing->held = true;
        std::optional<QCoro::Task<>> pass, kill;
        if (c.listingFirst)
            pass = store().refresh();
        kill = store().kill(PortEntryID{10, 3005});
        if (!c.listingFirst)
            pass = store().refresh();
        m_killer->pending.complete(c.outcome);
        EXPECT_FALSE(store().suppressedPIDs().contains(10));

        // lsof listed the process before it ended; the per-row step reads it afterwards.
        if (c.startTimeReadAfterTheOutcome)
            m_resolver->startTimes[10] = *c.startTimeReadAfterTheOutcome;
        else
            m_resolver->startTimes.remove(10);
        ASSERT_EQ(m_listing->pending.waiting(), 1u);
        m_listing->pending.complete(allRows);
        EXPECT_EQ(portsOf(store().entries()), c.published);

        // The pass the kill asked for began after the outcome: what it lists is shown.
        m_resolver->startTimes[10] = 100;
        ASSERT_EQ(m_listing->pending.waiting(), 1u);
        m_listing->pending.complete(allRows);
        EXPECT_EQ(portsOf(store().entries()), (QList<qint64>{3001, 3003, 3005}));
        EXPECT_TRUE(pass->isReady() && kill->isReady());
    }
}

TEST_F(PortStoreTest, AKillMovesTheSelectionToTheRowThatTookItsPlace) {
    const PortEntry a = entry(1, 3001), b = entry(2, 3002), c = entry(3, 3003), d = entry(4, 3004);
    const struct {
        const char *name;
        PortEntry selected, killed;
        std::optional<PortEntryID> expected;
    } cases[] = {
        {"first row", a, a, b.id()},
        {"middle row", b, b, c.id()},
        {"last row", d, d, c.id()},
        {"another row than the selected one", c, b, c.id()},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.name);
        reset();
        refreshWith({a, b, c, d});
        store().setSelectedEntryID(k.selected.id());
        auto kill = store().kill(k.killed.id());
        EXPECT_EQ(store().selectedEntryID(), k.expected);
        m_killer->pending.complete(ProcessKillOutcome::killed);
    }
}

TEST_F(PortStoreTest, APassTakesItsPreviousListWhenItsListingReturns) {
    refreshWith({entry(10, 3001)});
    ASSERT_EQ(store().selectedEntryID(), (PortEntryID{10, 3001}));
    m_listing->held = true;
    auto pass = store().refresh();
    // The only row goes while lsof runs: the pass then starts from an empty list.
    auto kill = store().kill(PortEntryID{10, 3001});
    EXPECT_FALSE(store().selectedEntryID());
    m_listing->pending.complete(QList<PortEntry>{entry(20, 3003), entry(30, 3004)});
    EXPECT_EQ(store().selectedEntryID(), (PortEntryID{20, 3003}));
    m_killer->pending.complete(ProcessKillOutcome::killed);
    m_listing->pending.complete(QList<PortEntry>{entry(20, 3003), entry(30, 3004)});
}

} // namespace
