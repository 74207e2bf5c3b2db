#include "support/TestSupport.h"
#include "termination/PosixProcessLivenessChecker.h"
#include "termination/PosixProcessSignaler.h"
#include "termination/SignalProcessKiller.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <tuple>

using namespace quaystone;

namespace {

ProcessKillOutcome kill(qint32 pid) {
    return QCoro::waitFor(SignalProcessKiller::makeDefault()->kill(pid, std::nullopt));
}

// QProcess reaps its child from the event loop, which runs during the grace period: an unreaped child
// would still answer kill(pid, 0).
TEST(PosixProcessKill, StopsARealChildWithTheSignalItHeeds) {
    using enum ProcessKillOutcome;
    // In the second, sleep inherits the ignored signal.
    for (const auto &[script, outcome, endedBy] :
         {std::tuple{"echo ready; exec sleep 30", notRunning, SIGTERM},
          std::tuple{"trap '' TERM; echo ready; exec sleep 30", killed, SIGKILL}}) {
        SCOPED_TRACE(script);
        QProcess child;
        child.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QString::fromLatin1(script)});
        ASSERT_TRUE(child.waitForReadyRead(10000)) << "the shell is ready once its trap is set";
        const auto pid = qint32(child.processId());
        EXPECT_EQ(kill(pid), outcome);
        ASSERT_TRUE(test::spinUntil([&] { return child.state() == QProcess::NotRunning; }, 10000));
        EXPECT_EQ(child.exitCode(), endedBy);
        EXPECT_EQ(PosixProcessLivenessChecker().probe(pid), ESRCH);
    }
}

TEST(PosixProcessKill, SignalsNothingWithoutOneLiveProcess) {
    EXPECT_EQ(kill(INT_MAX), ProcessKillOutcome::notRunning);
    for (const qint32 pid : {0, -1}) {
        SCOPED_TRACE(pid);
        // kill(pid, 0) would succeed for both, so EINVAL shows that no call was made. Only then is the
        // killer tried: a SIGTERM to -1 would reach every process we own.
        ASSERT_EQ(PosixProcessLivenessChecker().probe(pid), EINVAL);
        ASSERT_EQ(PosixProcessSignaler().send(0, pid), EINVAL);
        EXPECT_EQ(kill(pid), ProcessKillOutcome::failed);
    }
}

} // namespace
