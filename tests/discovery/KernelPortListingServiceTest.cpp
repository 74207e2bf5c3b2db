#include "discovery/KernelPortListingService.h"
#include "discovery/DefaultPortListingService.h"
#include "discovery/ProcessCommandRunner.h"
#include "discovery/ProcessWorkingDirectoryResolver.h"
#include "support/StoreFakes.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <csignal>

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

// The load's next line, or an empty one when it says nothing within 20 s.
QString answer(QProcess &load) {
    for (int waits = 0; !load.canReadLine() && waits < 200 && load.state() != QProcess::NotRunning; ++waits)
        load.waitForReadyRead(100);
    return QString::fromUtf8(load.readLine()).trimmed();
}

} // namespace

// Both listings over the same real processes, pass after pass of one kernel listing: cold, with the
// holders known, after a worker was forked and after a holder was killed. The kernel listing may
// not fall back to lsof here, so a failing fallback stands in for it.
TEST(KernelPortListingService, ListsTheSameRowsAsLsofOverRealLoads) {
    QProcess load;
    load.start(QStringLiteral("python3"), {QStringLiteral(QUAYSTONE_LISTENER_LOADS)});
    // The loads are one process group, ended whole however the test ends.
    const std::unique_ptr<QProcess, void (*)(QProcess *)> group(&load, [](QProcess *p) {
        if (p->processId() > 0)
            ::kill(-pid_t(p->processId()), SIGKILL);
        p->waitForFinished(5000);
    });
    const QStringList ports = answer(load).split(u' ');
    ASSERT_EQ(ports.size(), 2) << load.readAllStandardError().toStdString();
    const PortRange range{ports[0].toInt(), ports[1].toInt()};

    DefaultPortListingService lsof(std::make_unique<ProcessCommandRunner>());
    auto failing = std::make_unique<test::FakeListing>();
    failing->answer = ListingError{};
    KernelPortListingService kernel(std::move(failing), std::nullopt);
    const struct {
        const char *before;
        int lsofRows;
    } passes[] = {{nullptr, 9}, {nullptr, 9}, {"fork\n", 10}, {"stop\n", 9}};
    for (const auto &pass : passes) {
        SCOPED_TRACE(pass.before ? pass.before : "again");
        if (pass.before) {
            load.write(pass.before);
            ASSERT_EQ(answer(load), "ok");
        }
        const QStringList expected = rows(awaitTask(lsof.listPorts(range)), true);
        ASSERT_EQ(expected.size(), pass.lsofRows) << expected.join(u'\n').toStdString();
        QStringList listed = rows(awaitTask(kernel.listPorts(range)), false);
        // lsof reads no descriptors of a process whose main thread has exited; the kernel listing
        // reads them through another thread.
        const QString leaderGone = QString::number(range.lowerBound + 4);
        ASSERT_EQ(listed.removeIf([&](const QString &row) { return row.section(u' ', 1, 1) == leaderGone; }), 1);
        EXPECT_EQ(listed.join(u'\n').toStdString(), expected.join(u'\n').toStdString());
    }
}
