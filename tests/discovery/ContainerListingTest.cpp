#include "discovery/ContainerPortListing.h"
#include "discovery/DockerContainerListing.h"
#include "discovery/DockerContainerStopper.h"
#include "discovery/DockerEngineHttp.h"
#include "support/StoreFakes.h"
#include "support/UnixSocketServer.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <ostream>

using namespace quaystone;
using namespace quaystone::test;

// Readable strings in failure messages.
inline void PrintTo(const QString &text, std::ostream *os) {
    *os << '"' << text.toStdString() << '"';
}
using namespace std::chrono_literals;

namespace {

// The shape of a real answer of Docker 20.10 to GET /containers/json, trimmed.
const QByteArray realAnswer = R"([
  {"Id":"97a467da892951a0ba1d9e6f29d10b5267147e79fddac194cbda2cedd9031ad8","Names":["/qs-web"],
   "Image":"quaystone-test-busybox","Command":"/bin/busybox httpd -f -p 8000","State":"running",
   "Ports":[{"IP":"::1","PrivatePort":8000,"PublicPort":8765,"Type":"tcp"},
            {"IP":"127.0.0.1","PrivatePort":8000,"PublicPort":8765,"Type":"tcp"},
            {"IP":"0.0.0.0","PrivatePort":53,"PublicPort":5353,"Type":"udp"},
            {"PrivatePort":9000,"Type":"tcp"},
            {"IP":"0.0.0.0","PrivatePort":5432,"PublicPort":3001,"Type":"tcp"}]},
  {"Id":"0123456789abcdef","Names":[],"Image":"postgres:16","State":"running","Ports":[]},
  {"Id":"fedcba","Names":["/old"],"Image":"redis","State":"exited",
   "Ports":[{"PublicPort":6379,"PrivatePort":6379,"Type":"tcp"}]},
  {"Names":["/no-id"],"Image":"x","Ports":[]},
  {"Id":"e1","Names":["/\u202Eevil"],"Image":"img\nline","Ports":[{"PublicPort":70000,"Type":"tcp"}]}
])";

ContainerInfo info(QString id, QString name = QStringLiteral("web"), QString image = QStringLiteral("nginx")) {
    return {std::move(id), std::move(name), std::move(image), QStringLiteral("/run/engine.sock")};
}

PortEntry process(qint32 pid, qint64 port, const char *name) {
    return PortEntry(pid, port, QString::fromLatin1(name));
}

QStringList describe(const QList<PortEntry> &rows) {
    QStringList out;
    for (const PortEntry &row : rows) {
        out.append(QStringLiteral("%1 %2%3")
                       .arg(row.port())
                       .arg(row.hasProcess() || row.container() ? row.processName() : row.ownerName(),
                            row.container() ? QStringLiteral(" [container]") : QString()));
    }
    return out;
}

class FakeContainerListing : public ContainerListing {
public:
    QCoro::Task<ContainerListingResult> listContainers() override {
        ++calls;
        if (held)
            co_return co_await pending.next();
        co_return ContainerListingResult(answer);
    }
    bool held = false;
    int calls = 0;
    ContainerListingResult answer = ContainerEngineError::unavailable;
    PendingCalls<ContainerListingResult> pending;
};

} // namespace

TEST(DockerContainerListing, ParsesRunningContainersAndTheirPublishedTcpPorts) {
    const auto parsed = DockerContainerListing::parseContainers(realAnswer, QStringLiteral("/run/engine.sock"));
    ASSERT_TRUE(parsed);
    ASSERT_EQ(parsed->size(), 3);
    // IPv4 and IPv6 publications of one port are one port; UDP and unpublished ports are none.
    EXPECT_EQ((*parsed)[0].info,
              (ContainerInfo{QStringLiteral("97a467da892951a0ba1d9e6f29d10b5267147e79fddac194cbda2cedd9031ad8"),
                             QStringLiteral("qs-web"), QStringLiteral("quaystone-test-busybox"),
                             QStringLiteral("/run/engine.sock")}));
    EXPECT_EQ((*parsed)[0].publishedTcpPorts, (QList<qint64>{3001, 8765}));
    // Without a name the short id stands in; a stopped container and one without an id are left out.
    EXPECT_EQ((*parsed)[1].info.name, QStringLiteral("0123456789ab"));
    EXPECT_TRUE((*parsed)[1].publishedTcpPorts.isEmpty());
    // Names are kept raw (the views escape them); impossible ports are dropped.
    EXPECT_EQ((*parsed)[2].info.name, QStringLiteral("\u202Eevil"));
    EXPECT_EQ((*parsed)[2].info.image, QStringLiteral("img\nline"));
    EXPECT_TRUE((*parsed)[2].publishedTcpPorts.isEmpty());

    for (const QByteArray &body : {QByteArray("{\"message\":\"page not found\"}"), QByteArray("[{"), QByteArray()})
        EXPECT_FALSE(DockerContainerListing::parseContainers(body, {})) << body.constData();
    EXPECT_EQ(DockerContainerListing::parseContainers("[]", {}), QList<RunningContainer>{});
}

TEST(DockerEngineHttp, ChoosesTheEngineSockets) {
    const struct {
        const char *dockerHost;
        const char *runtimeDirectory;
        QStringList expected;
    } cases[] = {
        {nullptr, nullptr, {"/var/run/docker.sock"}},
        {"unix:///tmp/e/docker.sock", nullptr, {"/tmp/e/docker.sock"}},
        {"tcp://127.0.0.1:2375", "/run/user/1000", {"/var/run/docker.sock", "/run/user/1000/podman/podman.sock"}},
        {"unix://", nullptr, {"/var/run/docker.sock"}},
        {nullptr, "relative/dir", {"/var/run/docker.sock"}},
        {"unix:///run/user/7/podman/podman.sock", "/run/user/7", {"/run/user/7/podman/podman.sock"}},
    };
    for (const auto &c : cases) {
        QProcessEnvironment environment;
        if (c.dockerHost)
            environment.insert(QStringLiteral("DOCKER_HOST"), QString::fromLatin1(c.dockerHost));
        if (c.runtimeDirectory)
            environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromLatin1(c.runtimeDirectory));
        EXPECT_EQ(DockerEngineHttp::socketPaths(environment), c.expected) << (c.dockerHost ? c.dockerHost : "-");
    }
}

TEST(ContainerPortListing, ReplacesTheProxiesOfPublishedPortsWithOneContainerRow) {
    const PortRange range{3000, 9999};
    const QList<RunningContainer> web = {{info(QStringLiteral("aa")), {8080}}};
    const struct {
        const char *name;
        QList<PortEntry> rows;
        QList<RunningContainer> containers;
        QStringList expected;
    } cases[] = {
        {"lsof's cut names, IPv4 and IPv6 proxies",
         {process(10, 8080, "docker-pr"), process(11, 8080, "docker-pr"), process(12, 3000, "node")},
         web,
         {"3000 node", "8080 web [container]"}},
        {"the kernel's full names, Docker and Podman",
         {process(10, 8080, "docker-proxy"), process(13, 8080, "rootlessport")},
         web,
         {"8080 web [container]"}},
        {"root's listener without a pid is the proxy; another user's is not",
         {PortEntry::foreignListener(8080, 0, QStringLiteral("root")),
          PortEntry::foreignListener(8080, 1000, QStringLiteral("alice"))},
         web,
         {"8080 web [container]", "8080 alice"}},
        {"other programs on the port stay",
         {process(20, 8080, "nginx"), process(21, 8081, "docker-pr")},
         web,
         {"8080 web [container]", "8080 nginx", "8081 docker-pr"}},
        {"a published port without a proxy in sight is still the container's", {}, web, {"8080 web [container]"}},
        {"ports out of range are not listed",
         {process(10, 80, "docker-pr")},
         {{info(QStringLiteral("aa")), {80, 10000}}},
         {"80 docker-pr"}},
        {"two containers on one port (two host addresses) are two rows",
         {process(10, 8080, "docker-pr")},
         {{info(QStringLiteral("aa"), QStringLiteral("a")), {8080}},
          {info(QStringLiteral("bb"), QStringLiteral("b")), {8080}}},
         {"8080 a [container]", "8080 b [container]"}},
    };
    for (const auto &c : cases) {
        const QList<PortEntry> merged = ContainerPortListing::withContainers(c.rows, c.containers, range);
        QStringList names = describe(merged);
        // Two containers' rows on one port come in the order of their keys; compare as a set.
        if (QLatin1String(c.name).startsWith(QLatin1String("two")))
            names.sort();
        EXPECT_EQ(names, c.expected) << c.name;
        QSet<PortEntryID> ids;
        for (const PortEntry &row : merged)
            ids.insert(row.id());
        EXPECT_EQ(ids.size(), merged.size()) << c.name << ": every row keeps an identity of its own";
    }
}

TEST(ContainerPortListing, AsksTheEngineAlongsideTheListingAndFallsBackToItsList) {
    const QList<PortEntry> rows = {process(10, 8080, "docker-pr")};
    const struct {
        const char *name;
        ContainerListingResult engine;
        PortListingResult listing;
        QStringList expected; // empty: the listing's failure
    } cases[] = {
        {"engine answers",
         QList<RunningContainer>{{info(QStringLiteral("aa")), {8080}}},
         rows,
         {"8080 web [container]"}},
        {"no engine", ContainerEngineError::unavailable, rows, {"8080 docker-pr"}},
        {"engine timed out", ContainerEngineError::timedOut, rows, {"8080 docker-pr"}},
        {"engine refuses the user", ContainerEngineError::permissionDenied, rows, {"8080 docker-pr"}},
        {"listing fails", QList<RunningContainer>{}, ListingError{ListingFailure::timedOut, {}}, {}},
    };
    for (const auto &c : cases) {
        auto inner = std::make_unique<FakeListing>();
        auto engine = std::make_unique<FakeContainerListing>();
        FakeListing *listing = inner.get();
        FakeContainerListing *containers = engine.get();
        listing->held = true;
        containers->held = true;
        ContainerPortListing decorated(std::move(inner), std::move(engine));

        auto task = decorated.listPorts({3000, 9999});
        // Both are asked before either answers.
        ASSERT_EQ(listing->pending.waiting(), 1u) << c.name;
        ASSERT_EQ(containers->pending.waiting(), 1u) << c.name;
        containers->pending.complete(c.engine);
        listing->pending.complete(c.listing);
        ASSERT_TRUE(task.isReady()) << c.name;
        const PortListingResult result = awaitTask(std::move(task));
        if (c.expected.isEmpty()) {
            EXPECT_EQ(result, c.listing) << c.name;
        } else {
            ASSERT_TRUE(result) << c.name;
            EXPECT_EQ(describe(result.value()), c.expected) << c.name;
        }
    }
}

// Engines reached through real Unix sockets: one that never answers, one that is not there, and
// canned answers for the stop's refusals, which a healthy engine rarely gives.
TEST(DockerEngineSocket, AHungEngineCostsAtMostTheDeadlineAndAMissingOneNothing) {
    UnixSocketServer hung;
    UnixSocketServer garbled(httpAnswer(200, "OK", "<html>"));
    ASSERT_TRUE(hung.ok() && garbled.ok());
    const QList<PortEntry> rows = {process(10, 8080, "docker-pr")};

    const struct {
        const char *name;
        QStringList sockets;
        ContainerEngineError error;
    } cases[] = {
        {"accepts and never answers", {hung.path()}, ContainerEngineError::timedOut},
        {"no socket at all", {QStringLiteral("/nonexistent/docker.sock")}, ContainerEngineError::unavailable},
        {"a plain file in its place", {QStringLiteral("/etc/hostname")}, ContainerEngineError::unavailable},
        {"answers something else", {garbled.path()}, ContainerEngineError::badAnswer},
    };
    for (const auto &c : cases) {
        QElapsedTimer elapsed;
        elapsed.start();
        const ContainerListingResult listed = awaitTask(DockerContainerListing(c.sockets).listContainers());
        const auto took = std::chrono::milliseconds(elapsed.elapsed());
        ASSERT_FALSE(listed) << c.name;
        EXPECT_EQ(listed.error(), c.error) << c.name;
        // A bound, not a speed: the pass may wait for the engine no longer than its deadline.
        EXPECT_LT(took, DockerEngineHttp::listingDeadline + 1500ms) << c.name;

        auto inner = std::make_unique<FakeListing>();
        inner->answer = rows;
        ContainerPortListing decorated(std::move(inner), std::make_unique<DockerContainerListing>(c.sockets));
        const PortListingResult result = awaitTask(decorated.listPorts({3000, 9999}));
        ASSERT_TRUE(result) << c.name;
        EXPECT_EQ(result.value(), rows) << c.name << ": the list as without an engine";
    }
}

TEST(DockerEngineSocket, TheStopSaysWhatTheEngineAnswered) {
    const struct {
        const char *name;
        QByteArray answer;
        QString id;
        ContainerStopResult expected;
    } cases[] = {
        {"stopped", httpAnswer(204, "No Content", {}), QStringLiteral("abc123"), {ContainerStopOutcome::stopped, {}}},
        {"already stopped",
         httpAnswer(304, "Not Modified", {}),
         QStringLiteral("abc123"),
         {ContainerStopOutcome::notRunning, {}}},
        {"gone",
         httpAnswer(404, "Not Found", R"({"message":"No such container: abc123"})"),
         QStringLiteral("abc123"),
         {ContainerStopOutcome::notRunning, {}}},
        {"refused",
         httpAnswer(500, "Internal Server Error", R"({"message":"cannot stop container: permission denied\n"})"),
         QStringLiteral("abc123"),
         {ContainerStopOutcome::refused, QStringLiteral("cannot stop container: permission denied")}},
        {"refused without a word",
         httpAnswer(403, "Forbidden", "denied"),
         QStringLiteral("abc123"),
         {ContainerStopOutcome::refused, QStringLiteral("the engine answered HTTP 403")}},
        {"an id that would change the path",
         httpAnswer(204, "No Content", {}),
         QStringLiteral("../../images/x"),
         {ContainerStopOutcome::refused, QStringLiteral("the container's id is not valid")}},
    };
    for (const auto &c : cases) {
        UnixSocketServer engine(c.answer);
        ASSERT_TRUE(engine.ok());
        ContainerInfo container = info(c.id);
        container.engineSocket = engine.path();
        const ContainerStopResult result = awaitTask(DockerContainerStopper().stop(container));
        EXPECT_EQ(result, c.expected) << c.name << ": " << result.message.toStdString();
        if (c.expected.message != QStringLiteral("the container's id is not valid"))
            EXPECT_TRUE(engine.requests().startsWith("POST /containers/" + c.id.toLatin1() + "/stop?t=2 HTTP/1.1"))
                << c.name;
        else
            EXPECT_TRUE(engine.requests().isEmpty()) << c.name;
    }

    ContainerInfo nowhere = info(QStringLiteral("abc123"));
    nowhere.engineSocket = QStringLiteral("/nonexistent/docker.sock");
    const ContainerStopResult unreachable = awaitTask(DockerContainerStopper().stop(nowhere));
    EXPECT_EQ(unreachable.outcome, ContainerStopOutcome::refused);
    EXPECT_EQ(unreachable.message, QStringLiteral("the engine at /nonexistent/docker.sock cannot be reached"));
}
