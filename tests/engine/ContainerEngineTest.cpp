// Against a real container engine: DOCKER_HOST names its socket, and QUAYSTONE_TEST_CONTAINER_*
// the container that publishes a port in range. container_engine.sh starts both; run alone,
// these tests are skipped. Nothing here connects to the container or through its port: the
// checks read rows, the kernel's listening sockets and the engine's own list.
#include "discovery/ContainerPortListing.h"
#include "discovery/DefaultPortListingService.h"
#include "discovery/DockerContainerListing.h"
#include "discovery/DockerContainerStopper.h"
#include "discovery/ProcessCommandRunner.h"
#include "discovery/ProcessWorkingDirectoryResolver.h"
#include "model/PortStore.h"
#include "support/TestSupport.h"
#include "termination/SignalProcessKiller.h"

#include <QFile>
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

using namespace quaystone;
using namespace quaystone::test;

namespace {

struct Published {
    qint64 port = 0;
    QString name;
    QString image;
};

std::optional<Published> published() {
    const qint64 port = qEnvironmentVariableIntValue("QUAYSTONE_TEST_CONTAINER_PORT");
    if (qEnvironmentVariableIsEmpty("DOCKER_HOST") || port == 0)
        return std::nullopt;
    return Published{port, qEnvironmentVariable("QUAYSTONE_TEST_CONTAINER_NAME"),
                     qEnvironmentVariable("QUAYSTONE_TEST_CONTAINER_IMAGE")};
}

#define REQUIRE_ENGINE()                                                                                               \
    const std::optional<Published> container = published();                                                            \
    if (!container)                                                                                                    \
    GTEST_SKIP() << "no engine: run tests/engine/container_engine.sh, which starts one and sets DOCKER_HOST"

std::unique_ptr<PortListing> lsofListing() {
    return std::make_unique<DefaultPortListingService>(std::make_unique<ProcessCommandRunner>());
}

std::unique_ptr<PortListing> containerAwareListing() {
    return std::make_unique<ContainerPortListing>(lsofListing(), std::make_unique<DockerContainerListing>());
}

QList<PortEntry> rowsOn(const QList<PortEntry> &rows, qint64 port) {
    QList<PortEntry> on;
    for (const PortEntry &row : rows) {
        if (row.port() == port)
            on.append(row);
    }
    return on;
}

// True while the kernel's tables hold a listening TCP socket on port, IPv4 or IPv6.
bool listening(qint64 port) {
    const QByteArray hexPort = QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile file(QString::fromLatin1(table));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : file.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() > 3 && fields[1].endsWith(':' + hexPort) && fields[3] == "0A")
                return true;
        }
    }
    return false;
}

PortListingResult list(PortListing &listing) {
    return awaitTask(listing.listPorts(PortStore::defaultRange));
}

} // namespace

TEST(ContainerEngine, TheContainersRowReplacesItsProxies) {
    REQUIRE_ENGINE();
    ASSERT_TRUE(listening(container->port));

    const PortListingResult bare = list(*lsofListing());
    ASSERT_TRUE(bare);
    const QList<PortEntry> proxies = rowsOn(bare.value(), container->port);
    ASSERT_FALSE(proxies.isEmpty()) << "lsof shows the proxy holding the published port";
    for (const PortEntry &row : proxies)
        EXPECT_TRUE(isContainerProxyName(row.processName())) << row.processName().toStdString();

    const PortListingResult named = list(*containerAwareListing());
    ASSERT_TRUE(named);
    const QList<PortEntry> rows = rowsOn(named.value(), container->port);
    ASSERT_EQ(rows.size(), 1) << "one row for the container, IPv4 and IPv6 alike";
    ASSERT_TRUE(rows[0].container());
    EXPECT_EQ(rows[0].processName(), container->name);
    EXPECT_EQ(rows[0].container()->name, container->name);
    EXPECT_EQ(rows[0].container()->image, container->image);
    EXPECT_EQ(rows[0].container()->id.size(), 64);
    // Everything else lsof listed is still there.
    EXPECT_EQ(named.value().size(), bare.value().size() - proxies.size() + 1);
}

// Run by container_engine.sh as an unprivileged user, for whom the private socket is out of reach.
TEST(ContainerEngine, ForAUserWhoMayNotUseTheSocketTheListIsAsWithoutAnEngine) {
    REQUIRE_ENGINE();
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may use every socket; container_engine.sh runs this as nobody";
    const ContainerListingResult containers = awaitTask(DockerContainerListing().listContainers());
    ASSERT_FALSE(containers);
    EXPECT_EQ(containers.error(), ContainerEngineError::permissionDenied);
    const PortListingResult bare = list(*lsofListing());
    const PortListingResult named = list(*containerAwareListing());
    ASSERT_TRUE(bare && named);
    EXPECT_EQ(named.value(), bare.value());
}

TEST(ContainerEngine, TheOrdinaryKillNeverSignalsTheProxy) {
    REQUIRE_ENGINE();
    PortStore store(lsofListing(), std::make_unique<ProcessWorkingDirectoryResolver>(),
                    SignalProcessKiller::makeDefault());
    QCoro::waitFor(store.refresh());
    const QList<PortEntry> proxies = rowsOn(store.entries(), container->port);
    ASSERT_FALSE(proxies.isEmpty());
    // lsof's cut name, or the kernel's full one where the per-row step reads it.
    EXPECT_TRUE(isContainerProxyName(proxies[0].processName())) << proxies[0].processName().toStdString();

    QCoro::waitFor(store.kill(proxies[0].id()));
    EXPECT_EQ(store.rowError(proxies[0].id()), RowError::containerProxy);
    for (const PortEntry &proxy : proxies)
        EXPECT_EQ(::kill(proxy.pid(), 0), 0) << "proxy " << proxy.pid() << " still runs";
    EXPECT_TRUE(listening(container->port));
}

TEST(ContainerEngine, TheStopStopsTheContainerAndFreesThePort) {
    REQUIRE_ENGINE();
    PortStore store(containerAwareListing(), std::make_unique<ProcessWorkingDirectoryResolver>(),
                    SignalProcessKiller::makeDefault());
    store.setContainerStopper(std::make_unique<DockerContainerStopper>());
    QCoro::waitFor(store.refresh());
    const QList<PortEntry> rows = rowsOn(store.entries(), container->port);
    ASSERT_EQ(rows.size(), 1);
    ASSERT_TRUE(rows[0].container());
    const QString id = rows[0].container()->id;

    QCoro::waitFor(store.kill(rows[0].id()));
    EXPECT_EQ(store.rowError(rows[0].id()), std::nullopt) << store.rowErrorDetail(rows[0].id()).toStdString();
    EXPECT_TRUE(rowsOn(store.entries(), container->port).isEmpty());
    EXPECT_FALSE(listening(container->port)) << "the proxy went with its container";

    const ContainerListingResult running = awaitTask(DockerContainerListing().listContainers());
    ASSERT_TRUE(running);
    for (const RunningContainer &c : running.value())
        EXPECT_NE(c.info.id, id) << "the engine no longer runs the container";

    // A second stop of the stopped container is no error.
    const ContainerStopResult again = awaitTask(DockerContainerStopper().stop(*rows[0].container()));
    EXPECT_EQ(again.outcome, ContainerStopOutcome::notRunning) << again.message.toStdString();
}
