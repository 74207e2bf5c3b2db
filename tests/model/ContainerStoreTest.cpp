#include "model/ContainerStopping.h"
#include "model/PortStore.h"
#include "model/ServiceStopping.h"
#include "support/StoreTest.h"

#include <gtest/gtest.h>

#include <ostream>

using namespace quaystone;
using namespace quaystone::test;

inline void PrintTo(const QString &text, std::ostream *os) {
    *os << '"' << text.toStdString() << '"';
}

namespace {

class FakeStopper : public ContainerStopping {
public:
    QCoro::Task<ContainerStopResult> stop(ContainerInfo container) override {
        stopped.append(container);
        co_return co_await pending.next();
    }
    QList<ContainerInfo> stopped;
    PendingCalls<ContainerStopResult> pending;
};

ContainerInfo web() {
    return {QStringLiteral("c0ffee"), QStringLiteral("web"), QStringLiteral("nginx:1"), QStringLiteral("/e.sock")};
}

class ContainerStoreTest : public ::testing::Test {
protected:
    ContainerStoreTest() {
        FakeServices fakes;
        store = storeOverFakes(fakes);
        listing = fakes.listing;
        killer = fakes.killer;
        auto owned = std::make_unique<FakeStopper>();
        stopper = owned.get();
        store->setContainerStopper(std::move(owned));
        listing->answer = rows;
        auto task = store->refresh();
        EXPECT_TRUE(task.isReady());
    }

    // The container publishes 3000 and 8080; a proxy the engine did not claim holds 5000.
    const QList<PortEntry> rows = {PortEntry::containerListener(3000, web()), PortEntry(42, 4000, "node"),
                                   PortEntry(7, 5000, "docker-proxy"), PortEntry(7, 5001, "docker-proxy"),
                                   PortEntry::containerListener(8080, web())};
    std::unique_ptr<PortStore> store;
    FakeListing *listing = nullptr;
    FakeKiller *killer = nullptr;
    FakeStopper *stopper = nullptr;
};

} // namespace

TEST_F(ContainerStoreTest, AStopGoesToTheEngineAndItsOutcomeLandsOnTheContainersRows) {
    const struct {
        const char *name;
        ContainerStopResult result;
        QList<qint64> portsAfter;
        std::optional<RowError> error;
        QString detail;
    } cases[] = {
        {"stopped", {ContainerStopOutcome::stopped, {}}, {4000, 5000, 5001}, std::nullopt, {}},
        {"already gone", {ContainerStopOutcome::notRunning, {}}, {4000, 5000, 5001}, std::nullopt, {}},
        {"refused",
         {ContainerStopOutcome::refused, QStringLiteral("tried to kill container, but did not receive an exit event")},
         {3000, 4000, 5000, 5001, 8080},
         RowError::couldNotStopContainer,
         QStringLiteral("tried to kill container, but did not receive an exit event")},
    };
    for (const auto &c : cases) {
        listing->answer = rows;
        auto refreshed = store->refresh();
        store->setSelectedEntryID(rows[4].id());
        auto task = store->kill(rows[4].id());

        // Every port of the container goes at once, and a pass meanwhile does not bring them back.
        EXPECT_EQ(portsOf(store->entries()), (QList<qint64>{4000, 5000, 5001})) << c.name;
        EXPECT_EQ(store->selectedEntryID(), rows[3].id()) << c.name << ": the row before, as none follows";
        auto during = store->refresh();
        EXPECT_EQ(portsOf(store->entries()), (QList<qint64>{4000, 5000, 5001})) << c.name;
        ASSERT_EQ(stopper->stopped.size(), 1) << c.name;
        EXPECT_EQ(stopper->stopped.first(), web()) << c.name;

        listing->answer = c.portsAfter.contains(3000) ? rows : rows.mid(1, 3);
        stopper->pending.complete(c.result);
        ASSERT_TRUE(task.isReady()) << c.name;
        EXPECT_EQ(portsOf(store->entries()), c.portsAfter) << c.name;
        EXPECT_EQ(store->rowError(rows[0].id()), c.error) << c.name;
        EXPECT_EQ(store->rowError(rows[4].id()), c.error) << c.name;
        EXPECT_EQ(store->rowErrorDetail(rows[4].id()), c.detail) << c.name;
        EXPECT_TRUE(killer->pids.isEmpty()) << c.name << ": no process is signalled";
        EXPECT_TRUE(store->suppressedContainers().isEmpty()) << c.name;
        stopper->stopped.clear();
    }
}

TEST_F(ContainerStoreTest, AProxyIsNeverSignalledAndItsRowsSaySo) {
    auto task = store->kill(rows[2].id());
    ASSERT_TRUE(task.isReady());
    EXPECT_TRUE(killer->pids.isEmpty());
    EXPECT_TRUE(stopper->stopped.isEmpty());
    EXPECT_EQ(portsOf(store->entries()), portsOf(rows));
    EXPECT_EQ(store->rowError(rows[2].id()), RowError::containerProxy);
    EXPECT_EQ(store->rowError(rows[3].id()), RowError::containerProxy);
    EXPECT_EQ(store->rowError(rows[1].id()), std::nullopt);

    // lsof's cut name and Podman's proxy are refused alike; an ordinary process is not.
    for (const char *name : {"docker-pr", "rootlessport", "rootlessp", "rootlesskit", "rootlessk"}) {
        const PortEntry proxy(9, 6000, QString::fromLatin1(name));
        store->seedEntries({proxy});
        auto refused = store->kill(proxy.id());
        EXPECT_EQ(store->rowError(proxy.id()), RowError::containerProxy) << name;
    }
    EXPECT_TRUE(killer->pids.isEmpty());
    for (const char *name : {"docker", "docker-p", "docker-proxy2", "rootlessport-ch"})
        EXPECT_FALSE(isContainerProxyName(QString::fromLatin1(name))) << name;
    // Nor is an engine's unit, in which its forwarders run, ever offered for a stop.
    for (const char *unit : {"docker.service", "containerd.service", "podman.service"})
        EXPECT_TRUE(isContainerEngineUnit(QString::fromLatin1(unit))) << unit;
    EXPECT_FALSE(isContainerEngineUnit(QStringLiteral("redis-server.service")));
}

TEST(ContainerStore, WithoutAnEngineTheStopFailsOnTheRow) {
    FakeServices fakes;
    auto store = storeOverFakes(fakes);
    const PortEntry row = PortEntry::containerListener(3000, web());
    store->seedEntries({row});
    fakes.listing->answer = QList<PortEntry>{row};
    auto task = store->kill(row.id());
    ASSERT_TRUE(task.isReady());
    EXPECT_EQ(store->rowError(row.id()), RowError::couldNotStopContainer);
    EXPECT_EQ(store->rowErrorDetail(row.id()), QStringLiteral("no container engine is set up"));
    EXPECT_TRUE(fakes.killer->pids.isEmpty());
}

// A unit's rows are stopped through its manager as a container's are through its engine.
TEST(ServiceStore, AUnitsRowsStopThroughItsManagerAndOthersAsBefore) {
    class FakeServiceStopper : public ServiceStopping {
    public:
        QCoro::Task<ServiceStopResult> stop(ServiceUnit unit) override {
            stopped.append(unit);
            co_return co_await pending.next();
        }
        QList<ServiceUnit> stopped;
        PendingCalls<ServiceStopResult> pending;
    };
    const ServiceUnit redis{QStringLiteral("redis-server.service"), ServiceScope::system, 0};
    const ServiceUnit theirs{QStringLiteral("dev.service"), ServiceScope::user, 4000000003u};
    // Its process, its socket seen as another user's, and another user's own unit.
    const QList<PortEntry> rows = {PortEntry(50, 6379, "redis-server").withService(redis),
                                   PortEntry::foreignListener(6380, 110, "redis").withService(redis),
                                   PortEntry(60, 7000, "python3").withService(theirs)};
    const struct {
        ServiceStopResult result;
        QList<qint64> portsAfter;
        std::optional<RowError> error;
    } cases[] = {
        {{ServiceStopOutcome::stopped, {}}, {7000}, std::nullopt},
        {{ServiceStopOutcome::notAuthorized, {}}, {6379, 6380, 7000}, RowError::notAuthorized},
        {{ServiceStopOutcome::failed, "redis-server.service: Unit is masked."},
         {6379, 6380, 7000},
         RowError::couldNotStopService},
    };
    for (const auto &c : cases) {
        FakeServices fakes;
        auto store = storeOverFakes(fakes);
        auto owned = std::make_unique<FakeServiceStopper>();
        FakeServiceStopper *stopper = owned.get();
        store->setServiceStopper(std::move(owned));
        store->seedEntries(rows);
        fakes.listing->answer = c.portsAfter.size() == 1 ? rows.mid(2) : rows;
        auto task = store->kill(rows[1].id());
        EXPECT_EQ(portsOf(store->entries()), QList<qint64>{7000}) << "every row of the unit goes at once";
        stopper->pending.complete(c.result);
        ASSERT_TRUE(task.isReady());
        EXPECT_EQ(stopper->stopped, QList<ServiceUnit>{redis});
        EXPECT_EQ(portsOf(store->entries()), c.portsAfter);
        EXPECT_EQ(store->rowError(rows[0].id()), c.error);
        EXPECT_EQ(store->rowErrorDetail(rows[0].id()), c.result.message);
        EXPECT_TRUE(fakes.killer->pids.isEmpty());
        EXPECT_TRUE(fakes.administratorStopper->ports.isEmpty());
        // Another user's manager is not on this user's bus: that process is signalled as before.
        fakes.killer->held = false;
        auto other = store->kill(rows[2].id());
        EXPECT_EQ(fakes.killer->pids, QList<qint32>{60});
        EXPECT_EQ(stopper->stopped.size(), 1);
    }
}

TEST(ContainerRow, IsKnownByItsContainerAndPort) {
    ContainerInfo other = web();
    other.id = QStringLiteral("beef");
    const PortEntry a = PortEntry::containerListener(8080, web());
    EXPECT_EQ(a.id(), PortEntry::containerListener(8080, web()).id());
    EXPECT_NE(a.id(), PortEntry::containerListener(8080, other).id());
    EXPECT_NE(a.id(), PortEntry::foreignListener(8080, 0, QStringLiteral("root")).id());
}
