// The default killer against real child processes.
#include "support/TestSupport.h"
#include "termination/PidfdExitWaiter.h"
#include "termination/PidfdProcessOpener.h"
#include "termination/PidfdProcessSignaler.h"
#include "termination/ProcStatStartTimeReader.h"
#include "termination/ProcessHandle.h"
#include "termination/SignalProcessKiller.h"

#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>

#include <unistd.h>

using namespace quaystone;
using namespace quaystone::test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// A shell child that has set up its traps once it says "ready".
struct Child {
    explicit Child(const char *script) {
        process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QString::fromLatin1(script)});
        ready = process.waitForReadyRead(10000);
        pid = qint32(process.processId());
        startTime = ProcStatStartTimeReader().startTime(pid);
    }
    ~Child() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    bool hasEnded() {
        return test::spinUntil([&] { return process.state() == QProcess::NotRunning; }, 10000);
    }
    // The signal that ended the child, or 0 when it exited by itself.
    int endingSignal() const { return process.exitStatus() == QProcess::CrashExit ? process.exitCode() : 0; }

    QProcess process;
    bool ready = false;
    qint32 pid = 0;
    std::optional<quint64> startTime;
};

TEST(PidfdProcessKill, StopsARealChildOnlyWhenItIsTheListedOne) {
    using enum ProcessKillOutcome;
    enum class Listed { asRead, later, absent };
    const struct {
        const char *name;
        const char *script;
        Listed listed;
        ProcessKillOutcome outcome;
        int endedBy; // 0: exited by itself, or not signalled at all
        bool withinGrace;
    } cases[] = {
        {"obeys SIGTERM", "echo ready; exec sleep 30", Listed::asRead, notRunning, SIGTERM, true},
        // sleep inherits the ignored signal.
        {"ignores SIGTERM", "trap '' TERM; echo ready; exec sleep 30", Listed::asRead, killed, SIGKILL, false},
        {"exits by itself during the grace period", "trap '' TERM; echo ready; sleep 0.3; exit 7", Listed::asRead,
         notRunning, 0, true},
        {"pid now names another process", "echo ready; exec sleep 30", Listed::later, notRunning, 0, true},
        {"listed without a start time", "echo ready; exec sleep 30", Listed::absent, failed, 0, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Child child(c.script);
        ASSERT_TRUE(child.ready && child.startTime);
        const std::optional<quint64> listed = c.listed == Listed::asRead  ? child.startTime
                                              : c.listed == Listed::later ? std::optional(*child.startTime + 1)
                                                                          : std::nullopt;
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(QCoro::waitFor(SignalProcessKiller::makeDefault()->kill(child.pid, listed)), c.outcome);
        const Clock::duration elapsed = Clock::now() - start;
        // Behaviour, not speed: the grace period ends with the process, and never before 2 s otherwise.
        if (c.withinGrace) {
            EXPECT_LT(elapsed, 1500ms);
        } else {
            EXPECT_GE(elapsed, 2s);
        }

        if (c.listed != Listed::asRead) {
            drainEvents();
            ASSERT_EQ(child.process.state(), QProcess::Running) << "nothing was signalled";
            ::kill(child.pid, SIGKILL);
            ASSERT_TRUE(child.hasEnded());
            EXPECT_EQ(child.endingSignal(), SIGKILL) << "the child met no signal before the test's own";
            continue;
        }
        ASSERT_TRUE(child.hasEnded());
        EXPECT_EQ(child.endingSignal(), c.endedBy);
        if (c.endedBy == 0) {
            EXPECT_EQ(child.process.exitCode(), 7);
        }
    }
}

TEST(PidfdProcessKill, SignalsNothingWithoutOneLiveProcess) {
    EXPECT_EQ(QCoro::waitFor(SignalProcessKiller::makeDefault()->kill(INT_MAX, 1)), ProcessKillOutcome::notRunning);
    for (const qint32 pid : {0, -1}) {
        SCOPED_TRACE(pid);
        // kill(pid, 0) would succeed for both, so EINVAL shows that no call was made. Only then is the
        // killer tried: a SIGTERM to -1 would reach every process we own.
        ASSERT_EQ(PidfdProcessSignaler().send(0, ProcessHandle(pid)), EINVAL);
        ASSERT_EQ(PidfdProcessOpener().open(pid).error(), EINVAL);
        EXPECT_EQ(QCoro::waitFor(SignalProcessKiller::makeDefault()->kill(pid, 1)), ProcessKillOutcome::failed);
    }
}

TEST(PidfdExitWaiter, NeverEndsBeforeItsTimeUnlessTheProcessExits) {
    Child child("echo ready; exec sleep 30");
    ASSERT_TRUE(child.ready);
    ProcessOpenResult opened = PidfdProcessOpener().open(child.pid);
    ASSERT_TRUE(opened) << "pidfd_open: " << opened.error();
    const ProcessHandle withPidfd = std::move(opened).value();
    const ProcessHandle pidOnly(child.pid);
    for (const auto duration : {1ms, 20ms, 150ms, 400ms}) {
        for (const ProcessHandle *process : {&withPidfd, &pidOnly}) {
            SCOPED_TRACE(testing::Message() << duration.count() << " ms, pidfd " << process->hasPidfd());
            const Clock::time_point start = Clock::now();
            EXPECT_FALSE(QCoro::waitFor(PidfdExitWaiter().waitForExit(*process, quint64(duration / 1ns))));
            EXPECT_GE(Clock::now() - start, duration);
        }
    }
    ::kill(child.pid, SIGTERM);
    EXPECT_TRUE(
        QCoro::waitFor(PidfdExitWaiter().waitForExit(withPidfd, quint64(std::chrono::nanoseconds(10s).count()))));
}

TEST(ProcStatStartTimeReader, ReadsField22AfterTheLastParenthesis) {
    const auto tail = QByteArray(" S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 4242 20 21\n");
    const struct {
        QByteArray stat;
        std::optional<quint64> startTime;
    } cases[] = {
        {"17 (sleep)" + tail, 4242},
        // A name may hold spaces and parentheses of its own.
        {"17 (a) b ) 1 (c)" + tail, 4242},
        {"17 ()" + tail, 4242},
        {"17 (sleep) S 1 2 3", std::nullopt},
        {"17 (sleep)" + QByteArray(tail).replace("4242", "42x2"), std::nullopt},
        {"17 (sleep)" + QByteArray(tail).replace("4242", "-1"), std::nullopt},
        {"17 sleep S 1", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.stat.constData());
        EXPECT_EQ(ProcStatStartTimeReader::parseStartTime(c.stat), c.startTime);
    }
    QFile self(QStringLiteral("/proc/self/stat"));
    ASSERT_TRUE(self.open(QIODevice::ReadOnly));
    const std::optional<quint64> own = ProcStatStartTimeReader::parseStartTime(self.readAll());
    ASSERT_TRUE(own);
    EXPECT_EQ(ProcStatStartTimeReader().startTime(qint32(::getpid())), own);
    EXPECT_EQ(ProcStatStartTimeReader().startTime(INT_MAX), std::nullopt);
}

} // namespace
