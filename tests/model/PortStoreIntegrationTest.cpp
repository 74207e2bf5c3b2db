// The store over the real services against a real process listening inside the range.
#include "discovery/DefaultPortListingService.h"
#include "discovery/ProcessCommandRunner.h"
#include "discovery/ProcessWorkingDirectoryResolver.h"
#include "model/PortStore.h"
#include "support/TestSupport.h"
#include "termination/SignalProcessKiller.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace quaystone;
using namespace quaystone::test;

namespace {

// A port in the watched range that nobody listens on right now.
quint16 freePortInRange() {
    for (quint16 port = 7300; port < 9999; ++port) {
        QTcpServer probe;
        if (probe.listen(QHostAddress::LocalHost, port))
            return port;
    }
    return 0;
}

std::optional<PortEntry> listedRow(const PortStore &store, qint64 pid) {
    for (const PortEntry &e : store.entries()) {
        if (e.pid() == pid)
            return e;
    }
    return std::nullopt;
}

TEST(PortStoreIntegration, ListsARealListenerWithItsDirectoryAndKillsIt) {
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const quint16 port = freePortInRange();
    ASSERT_NE(port, 0);

    QProcess server;
    server.setWorkingDirectory(directory.path());
    server.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"), QStringLiteral("import socket,time\n"
                                                       "s=socket.socket(); s.bind(('127.0.0.1', %1)); s.listen()\n"
                                                       "print('ready', flush=True)\n"
                                                       "time.sleep(60)")
                                            .arg(port)});
    ASSERT_TRUE(server.waitForStarted());
    ASSERT_TRUE(spinUntil([&] { return server.readAllStandardOutput().contains("ready"); }, 10000));
    const qint64 pid = server.processId();

    PortStore store(std::make_unique<DefaultPortListingService>(std::make_unique<ProcessCommandRunner>()),
                    std::make_unique<ProcessWorkingDirectoryResolver>(), SignalProcessKiller::makeDefault());
    QCoro::waitFor(store.refresh());

    const auto row = listedRow(store, pid);
    ASSERT_TRUE(row) << "the listener on port " << port << " is listed";
    EXPECT_EQ(row->port(), port);
    EXPECT_EQ(row->workingDirectory(), QDir(directory.path()).canonicalPath());
    EXPECT_EQ(store.refreshState(), RefreshState::loaded);

    auto kill = store.kill(row->id());
    EXPECT_FALSE(listedRow(store, pid)) << "the row goes at once";
    QCoro::waitFor(std::move(kill));
    // The kill's nested event loop may already have seen the child end.
    EXPECT_TRUE(server.state() == QProcess::NotRunning || server.waitForFinished(5000)) << "the process is gone";
    EXPECT_FALSE(store.rowError(row->id()));
    EXPECT_FALSE(listedRow(store, pid)) << "the refresh after the kill does not list it";

    QCoro::waitFor(store.refresh());
    EXPECT_FALSE(listedRow(store, pid));
}

// A stand-in for lsof that hangs as a stalled one would, or answers with one listener, as the file
// `mode` beside it says.
class StandInLsof {
public:
    StandInLsof() {
        QFile script(path());
        script.open(QIODevice::WriteOnly);
        script.write("#!/bin/sh\n"
                     "case $(cat \"$(dirname \"$0\")/mode\") in\n"
                     "sleep) exec sleep 30 ;;\n"
                     "partial) echo 'COMMAND PID USER FD TYPE DEVICE SIZE/OFF NODE NAME'\n"
                     "         echo 'node 12 u 3u IPv4 0x1 0t0 TCP *:4000 (LISTEN)'; exec sleep 30 ;;\n"
                     "*) echo 'COMMAND PID USER FD TYPE DEVICE SIZE/OFF NODE NAME'\n"
                     "   echo 'node 34 u 3u IPv4 0x1 0t0 TCP *:4321 (LISTEN)' ;;\n"
                     "esac\n");
        script.close();
        script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    QString path() const { return m_directory.filePath("lsof"); }
    void setMode(const QByteArray &mode) {
        QFile file(m_directory.filePath("mode"));
        file.open(QIODevice::WriteOnly);
        file.write(mode);
    }

private:
    QTemporaryDir m_directory;
};

TEST(PortStoreIntegration, AHungListingTimesOutAndTheNextPassRunsNormally) {
    using namespace std::chrono_literals;
    StandInLsof lsof;
    PortStore store(std::make_unique<DefaultPortListingService>(std::make_unique<ProcessCommandRunner>(), LsofParser{},
                                                                lsof.path(), 300ms),
                    std::make_unique<ProcessWorkingDirectoryResolver>(), SignalProcessKiller::makeDefault());
    for (const char *mode : {"sleep", "partial"}) {
        SCOPED_TRACE(mode);
        lsof.setMode(mode);
        const QList<PortEntry> before = store.entries();
        QCoro::waitFor(store.refresh());
        EXPECT_EQ(store.refreshFailure(), (ListingError{ListingFailure::timedOut, lsof.path()}));
        EXPECT_FALSE(store.isRefreshing()) << "the store is free for the next refresh";
        EXPECT_EQ(store.entries(), before) << "nothing of the partial output is shown";

        lsof.setMode("answer");
        QCoro::waitFor(store.refresh());
        EXPECT_FALSE(store.refreshFailure());
        ASSERT_EQ(store.entries().size(), 1);
        EXPECT_EQ(store.entries().first().port(), 4321);
        EXPECT_EQ(store.refreshState(), RefreshState::loaded);
    }
}

} // namespace
