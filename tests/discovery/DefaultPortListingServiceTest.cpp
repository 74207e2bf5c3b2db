#include "discovery/DefaultPortListingService.h"
#include "support/TestSupport.h"
#include "discovery/ProcessCommandRunner.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTcpServer>
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <utility>
#include <variant>
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

// pid, port and exact name of every entry, or the error.
using Rows = std::vector<std::tuple<qint32, qint64, QString>>;

std::variant<Rows, CommandRunnerError> outcome(const PortListingResult &result) {
    if (!result.hasValue())
        return result.error();
    Rows rows;
    for (const PortEntry &e : result.value()) {
        EXPECT_FALSE(e.workingDirectory());
        rows.emplace_back(e.pid(), e.port(), e.processName());
    }
    return rows;
}

TEST(DefaultPortListingService, RunsLsofOnceWithItsFixedArguments) {
    const Listing listing = list(CommandResult{}, PortRange{3000, 9999});
    ASSERT_EQ(listing.calls.size(), 1u);
    EXPECT_EQ(listing.calls[0].first, "/opt/tools/lsof");
    EXPECT_EQ(listing.calls[0].second, (QStringList{"-n", "-P", "-iTCP", "-sTCP:LISTEN"}));

    EXPECT_TRUE(QFileInfo(DefaultPortListingService::defaultLsofPath()).isAbsolute());
    EXPECT_TRUE(DefaultPortListingService::defaultLsofPath().endsWith("/lsof"));
}

TEST(DefaultPortListingService, ListsWhatLsofPrintsOnStandardOutputInsideTheRange) {
    const QByteArray ends = header + line("a", 9, 10000) + line("b", 2, 9999) + line("c", 1, 3000) +
                            line("d", 3, 2999) + line("e", 1, 9999) + line("f", 4, 5173);
    const QByteArray warning = "lsof: WARNING: can't stat() fuse.portal file system /run/user/1000/doc\n";
    const QByteArray badBytes = header + line(QByteArray("no\xff") + "de", 1, 3000) + line("caf\xc3\xa9", 2, 3001) +
                                line("\xed\xa0\x80", 3, 3002);
    const PortRange watched{3000, 9999};
    struct Case {
        const char *name;
        CommandRunResult run;
        PortRange range;
        std::variant<Rows, CommandRunnerError> expected;
    };
    const QList<Case> cases = {
        {"both ends of the range included, order kept", CommandResult{0, ends, {}}, watched,
         Rows{{1, 3000, "c"}, {4, 5173, "f"}, {1, 9999, "e"}, {2, 9999, "b"}}},
        {"a single port", CommandResult{0, ends, {}}, {5173, 5173}, Rows{{4, 5173, "f"}}},
        {"inverted range", CommandResult{0, ends, {}}, {9999, 3000}, Rows{}},
        {"nothing found: status 1, no output", CommandResult{1, {}, {}}, watched, Rows{}},
        {"status and standard error ignored", CommandResult{1, header + line("node", 5, 3000), warning}, watched,
         Rows{{5, 3000, "node"}}},
        {"ill-formed UTF-8 replaced, the rest decoded", CommandResult{0, badBytes, {}}, watched,
         Rows{{1, 3000, QStringLiteral("no\uFFFDde")},
              {2, 3001, QStringLiteral("caf\u00e9")},
              {3, 3002, QStringLiteral("\uFFFD\uFFFD\uFFFD")}}},
        {"the runner's failure passed through", CommandRunnerError::launchFailed, watched,
         CommandRunnerError::launchFailed},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Listing listing = list(c.run, c.range);
        EXPECT_EQ(outcome(listing.result), c.expected);
        EXPECT_EQ(listing.calls.size(), 1u) << "lsof runs once, even when the range holds no port";
    }
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
