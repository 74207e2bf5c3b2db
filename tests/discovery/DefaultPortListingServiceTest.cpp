#include "discovery/DefaultPortListingService.h"
#include "discovery/ProcessCommandRunner.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QtConcurrent/QtConcurrentMap>
#include <gtest/gtest.h>

#include <algorithm>

using namespace quaystone;
using quaystone::test::awaitTask;

namespace {

// Answers every run with one result and records each command line it was asked to run.
struct FakeCommandRunner final : CommandRunning {
    FakeCommandRunner(CommandRunResult result, QStringList &calls)
        : result(std::move(result))
        , calls(calls) {}
    QCoro::Task<CommandRunResult> run(QString executablePath, QStringList arguments,
                                      std::chrono::milliseconds timeLimit) override {
        calls << QStringLiteral("%1 %2 within %3 ms").arg(executablePath, arguments.join(u' ')).arg(timeLimit.count());
        co_return CommandRunResult(result);
    }
    CommandRunResult result;
    QStringList &calls;
};

QByteArray line(const QByteArray &name, int pid, int port) {
    return name + ' ' + QByteArray::number(pid) + " u 3u IPv4 0x1 0t0 TCP *:" + QByteArray::number(port) +
           " (LISTEN)\n";
}

TEST(DefaultPortListingService, ListsWhatLsofPrintsOnStandardOutputInsideTheRange) {
    // Status 1 and a warning on standard error: what lsof gives when some file system cannot be read.
    const CommandResult lsof{1,
                             "COMMAND PID USER FD TYPE DEVICE SIZE/OFF NODE NAME\n" + line("a", 9, 10000) +
                                 line("b", 2, 9999) + line("c", 1, 3000) + line("d", 3, 2999) +
                                 line("no\377de", 4, 5173),
                             "lsof: WARNING: can't stat() fuse.portal file system /run/user/1000/doc\n"};
    struct Case {
        CommandRunResult run;
        PortRange range;
        QStringList expected; // "pid port name" per entry, or the error
    };
    const Case cases[] = {
        {lsof, {3000, 9999}, {"1 3000 c", QStringLiteral("4 5173 no\uFFFDde"), "2 9999 b"}},
        {lsof, {9999, 3000}, {}},
        {CommandRunnerError::launchFailed, {3000, 9999}, {"launchFailed"}},
        {CommandRunnerError::programMissing, {3000, 9999}, {"toolMissing"}},
        {CommandRunnerError::notExecutable, {3000, 9999}, {"toolNotExecutable"}},
        {CommandRunnerError::timedOut, {3000, 9999}, {"timedOut"}},
        {CommandRunnerError::interrupted, {3000, 9999}, {"launchFailed"}},
    };
    const QHash<QString, ListingFailure> failures{{"launchFailed", ListingFailure::launchFailed},
                                                  {"toolMissing", ListingFailure::toolMissing},
                                                  {"toolNotExecutable", ListingFailure::toolNotExecutable},
                                                  {"timedOut", ListingFailure::timedOut}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.expected.join(", ").toStdString());
        QStringList calls;
        DefaultPortListingService service(std::make_unique<FakeCommandRunner>(c.run, calls), LsofParser{},
                                          "/opt/tools/lsof");
        const PortListingResult result = awaitTask(service.listPorts(c.range));
        QStringList entries;
        for (const PortEntry &e : result ? result.value() : QList<PortEntry>{})
            entries << QStringLiteral("%1 %2 %3").arg(e.pid()).arg(e.port()).arg(e.processName());
        if (result) {
            EXPECT_EQ(entries, c.expected);
        } else {
            EXPECT_EQ(result.error(), (ListingError{failures.value(c.expected.value(0)), "/opt/tools/lsof"}));
        }
        // Once, even when the range can hold no port.
        EXPECT_EQ(calls, QStringList{"/opt/tools/lsof -n -P -iTCP -sTCP:LISTEN within 10000 ms"});
    }
}

TEST(DefaultPortListingService, FindsThisProcessListeningThroughTheRealLsof) {
    QTcpServer server;
    for (quint16 port = 6100; port <= 9999 && !server.isListening(); ++port)
        server.listen(QHostAddress::LocalHost, port);
    ASSERT_TRUE(server.isListening());

    DefaultPortListingService service(std::make_unique<ProcessCommandRunner>());
    const PortListingResult result = awaitTask(service.listPorts(PortRange{3000, 9999}));
    ASSERT_TRUE(result.hasValue()) << "lsof at " << DefaultPortListingService::defaultLsofPath().toStdString();
    const PortEntryID id{qint32(QCoreApplication::applicationPid()), server.serverPort()};
    EXPECT_TRUE(std::ranges::any_of(result.value(), [&](const PortEntry &e) { return e.id() == id; }))
        << "port " << server.serverPort() << " not listed";
}

// Decoding and parsing run on worker threads, several at once when passes overlap a quit or a
// test: every thread must read the same entries as the main thread.
TEST(DefaultPortListingService, ReadsTheSameEntriesOnWorkerThreads) {
    QByteArray output = "COMMAND PID USER FD TYPE DEVICE SIZE/OFF NODE NAME\n";
    for (int i = 0; i < 3000; ++i)
        output +=
            line(i % 7 ? "node" : "\xd1\x81\xd0\xb5\xd1\x80\xd0\xb2\xd0\xb5\xd1\x80\xcc\x81", 100 + i % 50, 2990 + i);
    const LsofParser parser;
    const QList<PortEntry> expected = DefaultPortListingService::entriesInRange(parser, output, {3000, 9999});
    ASSERT_EQ(expected.size(), 2990);
    const QList<QList<PortEntry>> onWorkers = QtConcurrent::blockingMapped(QList<int>(8), [&](int) {
        return DefaultPortListingService::entriesInRange(parser, output, {3000, 9999});
    });
    for (const QList<PortEntry> &entries : onWorkers)
        EXPECT_TRUE(entries == expected);
}

} // namespace
