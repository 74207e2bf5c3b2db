#include "support/TestSupport.h"
#include "termination/PosixProcessLivenessChecker.h"
#include "termination/PosixProcessSignaler.h"
#include "termination/SignalProcessKiller.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <limits>

using namespace quaystone;

// The victims are QProcess children: QProcess reaps them from the event loop, which runs
// during the grace period. An unreaped zombie would still answer kill(pid, 0).

namespace {

// Waits until the QProcess has seen its child end and reaped it.
bool reaped(QProcess &process) {
    return test::spinUntil([&] { return process.state() == QProcess::NotRunning; }, 10000);
}

} // namespace

TEST(PosixProcessKillTest, AProcessThatObeysSigtermEndsNotRunning) {
    QProcess victim;
    victim.start(QStringLiteral("/bin/sleep"), {QStringLiteral("30")});
    ASSERT_TRUE(victim.waitForStarted());
    const auto pid = qint32(victim.processId());

    EXPECT_EQ(QCoro::waitFor(SignalProcessKiller::makeDefault()->kill(pid)), ProcessKillOutcome::notRunning);
    ASSERT_TRUE(reaped(victim));
    EXPECT_EQ(victim.exitStatus(), QProcess::CrashExit);
}

TEST(PosixProcessKillTest, AProcessThatIgnoresSigtermIsKilled) {
    QProcess victim;
    // The shell says "ready" only once SIGTERM is ignored; sleep inherits the ignored signal.
    victim.start(QStringLiteral("/bin/sh"),
                 {QStringLiteral("-c"), QStringLiteral("trap '' TERM; echo ready; exec sleep 30")});
    ASSERT_TRUE(victim.waitForStarted());
    ASSERT_TRUE(victim.waitForReadyRead(10000));
    ASSERT_EQ(victim.readAllStandardOutput(), QByteArray("ready\n"));
    const auto pid = qint32(victim.processId());

    EXPECT_EQ(QCoro::waitFor(SignalProcessKiller::makeDefault()->kill(pid)), ProcessKillOutcome::killed);
    ASSERT_TRUE(reaped(victim));
    EXPECT_EQ(victim.exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(PosixProcessLivenessChecker().probe(pid), ESRCH);
}

TEST(PosixProcessKillTest, APidAboveEveryPossiblePidIsNotRunning) {
    const qint32 pid = std::numeric_limits<qint32>::max();
    EXPECT_EQ(PosixProcessLivenessChecker().probe(pid), ESRCH);
    EXPECT_EQ(QCoro::waitFor(SignalProcessKiller::makeDefault()->kill(pid)), ProcessKillOutcome::notRunning);
}

TEST(PosixProcessKillTest, GroupPidsAreRefusedWithoutASystemCall) {
    for (qint32 pid : {0, -1}) {
        SCOPED_TRACE(pid);
        // kill(pid, 0) would succeed for both, so EINVAL shows that no call was made. Only
        // then is the real killer tried: a SIGTERM to -1 would reach every process we own.
        ASSERT_EQ(PosixProcessLivenessChecker().probe(pid), EINVAL);
        ASSERT_EQ(PosixProcessSignaler().send(0, pid), EINVAL);
        EXPECT_EQ(QCoro::waitFor(SignalProcessKiller::makeDefault()->kill(pid)), ProcessKillOutcome::failed);
    }
    EXPECT_EQ(PosixProcessLivenessChecker().probe(qint32(QCoreApplication::applicationPid())), 0);
}
