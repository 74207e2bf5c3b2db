#include "discovery/DefaultPortListingService.h"
#include "AwaitTask.h"
#include "discovery/ProcessCommandRunner.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTcpServer>
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

using namespace quaystone;
using quaystone::test::awaitTask;

namespace {

// Answers every run with the same result and records what it was asked to run.
class FakeCommandRunner final : public CommandRunning {
public:
    explicit FakeCommandRunner(CommandRunResult result)
        : m_result(std::move(result)) {}

    QCoro::Task<CommandRunResult> run(QString executablePath, QStringList arguments) override {
        calls.emplace_back(executablePath, arguments);
        co_return m_result;
    }

    std::vector<std::pair<QString, QStringList>> calls;

private:
    CommandRunResult m_result;
};

struct Listing {
    PortListingResult result;
    std::vector<std::pair<QString, QStringList>> calls;
};

Listing list(CommandRunResult runnerResult, PortRange range) {
    auto runner = std::make_unique<FakeCommandRunner>(std::move(runnerResult));
    FakeCommandRunner *fake = runner.get();
    DefaultPortListingService service(std::move(runner), LsofParser{}, "/opt/tools/lsof");
    PortListingResult result = awaitTask(service.listPorts(range));
    return {std::move(result), fake->calls};
}

QByteArray line(const QByteArray &name, int pid, int port) {
    return name + ' ' + QByteArray::number(pid) + " u 3u IPv4 0x1 0t0 TCP *:" + QByteArray::number(port) +
           " (LISTEN)\n";
}

const QByteArray header = "COMMAND PID USER FD TYPE DEVICE SIZE/OFF NODE NAME\n";

std::vector<std::pair<qint32, qint64>> ids(const QList<PortEntry> &entries) {
    std::vector<std::pair<qint32, qint64>> out;
    for (const PortEntry &e : entries)
        out.emplace_back(e.pid(), e.port());
    return out;
}

TEST(DefaultPortListingService, RunsLsofOnceWithItsFixedArguments) {
    const Listing listing = list(CommandResult{}, PortRange{3000, 9999});
    ASSERT_EQ(listing.calls.size(), 1u);
    EXPECT_EQ(listing.calls[0].first, "/opt/tools/lsof");
    EXPECT_EQ(listing.calls[0].second, (QStringList{"-n", "-P", "-iTCP", "-sTCP:LISTEN"}));

    EXPECT_TRUE(QFileInfo(DefaultPortListingService::defaultLsofPath()).isAbsolute());
    EXPECT_TRUE(DefaultPortListingService::defaultLsofPath().endsWith("/lsof"));
}

TEST(DefaultPortListingService, KeepsThePortsInsideTheRangeInParserOrder) {
    const QByteArray output = header + line("a", 9, 10000) + line("b", 2, 9999) + line("c", 1, 3000) +
                              line("d", 3, 2999) + line("e", 1, 9999) + line("f", 4, 5173);
    struct Case {
        const char *name;
        PortRange range;
        std::vector<std::pair<qint32, qint64>> expected;
    };
    const QList<Case> cases = {
        {"watched range, both ends included", {3000, 9999}, {{1, 3000}, {4, 5173}, {1, 9999}, {2, 9999}}},
        {"a single port", {5173, 5173}, {{4, 5173}}},
        {"inverted range", {9999, 3000}, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Listing listing = list(CommandResult{0, output, {}}, c.range);
        ASSERT_TRUE(listing.result.hasValue());
        EXPECT_EQ(ids(listing.result.value()), c.expected);
        EXPECT_EQ(listing.calls.size(), 1u) << "lsof runs even when the range holds no port";
    }
}

TEST(DefaultPortListingService, IgnoresStatusAndStandardError) {
    const QByteArray warning = "lsof: WARNING: can't stat() fuse.portal file system /run/user/1000/doc\n";
    const Listing nothing = list(CommandResult{1, {}, {}}, PortRange{3000, 9999});
    ASSERT_TRUE(nothing.result.hasValue());
    EXPECT_TRUE(nothing.result.value().isEmpty());

    const Listing some = list(CommandResult{1, header + line("node", 5, 3000), warning}, PortRange{3000, 9999});
    ASSERT_TRUE(some.result.hasValue());
    EXPECT_EQ(ids(some.result.value()), (std::vector<std::pair<qint32, qint64>>{{5, 3000}}));
}

TEST(DefaultPortListingService, DecodesUtf8AndReplacesWhatIsNot) {
    const QByteArray output = header +
                              line("no\xff"
                                   "de",
                                   1, 3000) +
                              line("caf\xc3\xa9", 2, 3001) + line("\xe2\x82", 3, 3002);
    const Listing listing = list(CommandResult{0, output, {}}, PortRange{3000, 9999});
    ASSERT_TRUE(listing.result.hasValue());
    const QList<PortEntry> &entries = listing.result.value();
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries[0].processName(), QStringLiteral("no\uFFFDde"));
    EXPECT_EQ(entries[1].processName(), QStringLiteral("caf\u00e9"));
    EXPECT_TRUE(entries[2].processName().contains(QChar::ReplacementCharacter));
    for (const PortEntry &e : entries)
        EXPECT_FALSE(e.workingDirectory());
}

TEST(DefaultPortListingService, PassesARunnerFailureThrough) {
    const Listing listing = list(CommandRunnerError::launchFailed, PortRange{3000, 9999});
    ASSERT_FALSE(listing.result.hasValue());
    EXPECT_EQ(listing.result.error(), CommandRunnerError::launchFailed);
}

// A port inside the watched range that this process can listen on.
bool listenInRange(QTcpServer &server) {
    for (quint16 port = 6100; port <= 9999; ++port) {
        if (server.listen(QHostAddress::LocalHost, port))
            return true;
    }
    return false;
}

TEST(DefaultPortListingService, FindsThisProcessListeningThroughTheRealLsof) {
    if (!QFileInfo(DefaultPortListingService::defaultLsofPath()).isExecutable())
        GTEST_SKIP() << "no lsof at " << DefaultPortListingService::defaultLsofPath().toStdString();
    QTcpServer server;
    ASSERT_TRUE(listenInRange(server));

    DefaultPortListingService service(std::make_unique<ProcessCommandRunner>());
    const PortListingResult result = awaitTask(service.listPorts(PortRange{3000, 9999}));
    ASSERT_TRUE(result.hasValue());

    const qint32 pid = static_cast<qint32>(QCoreApplication::applicationPid());
    const auto found = std::find_if(result.value().begin(), result.value().end(), [&](const PortEntry &e) {
        return e.id() == PortEntryID{pid, server.serverPort()};
    });
    ASSERT_NE(found, result.value().end()) << "port " << server.serverPort();
    // lsof prints the command name cut to a few characters.
    EXPECT_FALSE(found->processName().isEmpty());
    EXPECT_TRUE(QFileInfo(QCoreApplication::applicationFilePath()).fileName().startsWith(found->processName()));
    EXPECT_FALSE(found->workingDirectory());
    for (const PortEntry &e : result.value())
        EXPECT_TRUE(e.port() >= 3000 && e.port() <= 9999);
}

} // namespace
