#include "discovery/KernelPortListingService.h"
#include "discovery/DefaultPortListingService.h"
#include "discovery/ProcessCommandRunner.h"
#include "discovery/ProcessWorkingDirectoryResolver.h"
#include "support/StoreFakes.h"

#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

using namespace quaystone;
using quaystone::test::awaitTask;

namespace {

// "pid port name" per row, named by the per-row step's rule, or "failed".
QStringList rows(const PortListingResult &result, bool applyDetails) {
    if (!result)
        return {QStringLiteral("failed")};
    QStringList out;
    for (const PortEntry &e : result.value()) {
        const PortEntry named = applyDetails ? e.withDetails(ProcessWorkingDirectoryResolver::read(e.pid())) : e;
        out << QStringLiteral("%1 %2 %3").arg(e.pid()).arg(e.port()).arg(named.processName());
    }
    return out;
}

// scripts/lib/listener_loads.py, started by the given command line and ended as one process
// group however the test ends.
class Loads {
public:
    explicit Loads(QStringList command) {
        const QString program = command.takeFirst();
        m_process.start(program, command << QStringLiteral(QUAYSTONE_LISTENER_LOADS));
        const QStringList ports = answer().split(u' ');
        if (ports.size() == 2)
            range = {ports[0].toInt(), ports[1].toInt()};
    }
    ~Loads() {
        if (m_process.processId() > 0)
            ::kill(-pid_t(m_process.processId()), SIGKILL);
        m_process.waitForFinished(5000);
    }
    // The next line it prints, or an empty one when it says nothing within 20 s.
    QString answer() {
        for (int waits = 0; !m_process.canReadLine() && waits < 200 && m_process.state() != QProcess::NotRunning;
             ++waits)
            m_process.waitForReadyRead(100);
        return QString::fromUtf8(m_process.readLine()).trimmed();
    }
    QString command(const char *line) {
        m_process.write(line);
        return answer();
    }
    std::string error() { return m_process.readAllStandardError().toStdString(); }

    PortRange range{0, -1};
    static constexpr int lsofRows = 9;

private:
    QProcess m_process;
};

// lsof reads no descriptors of a process whose main thread has exited; the kernel listing reads
// them through another thread. Takes that one row out of rows.
qsizetype takeLeaderGone(QStringList &rows, PortRange range) {
    const QString port = QString::number(range.lowerBound + 4);
    return rows.removeIf([&](const QString &row) { return row.section(u' ', 1, 1) == port; });
}

} // namespace

// Both listings over the same real processes, pass after pass of one kernel listing: cold, with the
// holders known, after a worker was forked and after a holder was killed. The kernel listing may
// not fall back to lsof here, so a failing fallback stands in for it.
TEST(KernelPortListingService, ListsTheSameRowsAsLsofOverRealLoads) {
    Loads load({QStringLiteral("python3")});
    ASSERT_LE(load.range.lowerBound, load.range.upperBound) << load.error();

    DefaultPortListingService lsof(std::make_unique<ProcessCommandRunner>());
    auto failing = std::make_unique<test::FakeListing>();
    failing->answer = ListingError{};
    KernelPortListingService kernel(std::move(failing), std::nullopt);
    const struct {
        const char *before;
        int lsofRows;
    } passes[] = {{nullptr, Loads::lsofRows},
                  {nullptr, Loads::lsofRows},
                  {"fork\n", Loads::lsofRows + 1},
                  {"stop\n", Loads::lsofRows}};
    for (const auto &pass : passes) {
        SCOPED_TRACE(pass.before ? pass.before : "again");
        if (pass.before) {
            ASSERT_EQ(load.command(pass.before), "ok");
        }
        const QStringList expected = rows(awaitTask(lsof.listPorts(load.range)), true);
        ASSERT_EQ(expected.size(), pass.lsofRows) << expected.join(u'\n').toStdString();
        QStringList listed = rows(awaitTask(kernel.listPorts(load.range)), false);
        ASSERT_EQ(takeLeaderGone(listed, load.range), 1);
        EXPECT_EQ(listed.join(u'\n').toStdString(), expected.join(u'\n').toStdString());
    }
}

// A normal user reads only its own processes and sockets: the same loads and both listings run as
// a uid that nothing else on the machine uses.
TEST(KernelPortListingService, ListsTheSameRowsAsLsofForANormalUser) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "starting processes as another user needs root";
    // A python3 found through root's PATH may live where other users cannot go.
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"), {"/usr/bin", "/bin"});
    if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty() || python.isEmpty())
        GTEST_SKIP() << "setpriv or the system's python3 is missing";
    const QString uid = QStringLiteral("4000000003");
    const QStringList asUser{QStringLiteral("setpriv"), "--reuid=" + uid, "--regid=" + uid,
                             QStringLiteral("--clear-groups")};
    Loads load(asUser + QStringList{python});
    ASSERT_LE(load.range.lowerBound, load.range.upperBound) << load.error();

    const auto probe = [&](const char *listing) {
        QProcess run;
        run.start(asUser[0], asUser.mid(1)
                                 << QStringLiteral(QUAYSTONE_LISTING_PROBE) << listing
                                 << QString::number(load.range.lowerBound) << QString::number(load.range.upperBound));
        run.waitForFinished(30000);
        return QString::fromUtf8(run.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    };
    const QStringList expected = probe("lsof");
    ASSERT_EQ(expected.size(), Loads::lsofRows) << expected.join(u'\n').toStdString();
    QStringList listed = probe("kernel");
    ASSERT_EQ(takeLeaderGone(listed, load.range), 1) << listed.join(u'\n').toStdString();
    EXPECT_EQ(listed.join(u'\n').toStdString(), expected.join(u'\n').toStdString());
}
