#include "app/TerminalStop.h"
#include "support/StoreFakes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using namespace quaystone;
using namespace quaystone::test;

namespace {

std::string contents(std::FILE *file) {
    std::rewind(file);
    std::string text;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file))
        text += static_cast<char>(c);
    return text;
}

// The kernel shows listeners of these owners on port 5000; the user is uid 1000, and its own
// process is python3 (pid 42).
terminalstop::Services over(FakeKiller &killer, FakeAdministratorStopper &administrator, QList<quint32> owners,
                            bool isRoot = false) {
    return {[owners](int, quint32 ownUid) {
                terminalstop::PortListeners listeners{owners, {}};
                if (owners.contains(ownUid))
                    listeners.ownProcesses.append({42, 7, QStringLiteral("python3")});
                return std::optional(listeners);
            },
            &killer, &administrator, 1000, isRoot};
}

TEST(TerminalStop, EachOutcomeHasItsStatusAndItsMessageOnTheRightStream) {
    using O = AdministratorStopOutcome;
    const QString p = QStringLiteral("postgres");
    const struct {
        O outcome;
        QList<AdministratorStoppedProcess> processes;
        int status;
        const char *out;
        const char *err;
    } cases[] = {
        {O::stopped, {{812, p, {}}}, terminalstop::stopped, "Stopped postgres (pid 812) on port 5000\n", ""},
        {O::stopped, {}, terminalstop::stopped, "Stopped the processes listening on port 5000.\n", ""},
        {O::noListener, {}, terminalstop::stopped, "Stopped the processes listening on port 5000.\n", ""},
        {O::cancelled, {}, terminalstop::cancelled, "", "Authentication was cancelled; nothing was stopped.\n"},
        {O::notAuthorized,
         {},
         terminalstop::notAuthorized,
         "",
         "Not authorized to stop the processes listening on port 5000.\n"},
        {O::unavailable,
         {},
         terminalstop::unavailable,
         "",
         "Stopping as administrator is unavailable (is pkexec installed, and the app's helper?).\n"},
        {O::failed,
         {{812, p, {}}, {813, QStringLiteral("a\nb"), QStringLiteral("still running after SIGKILL")}},
         terminalstop::failed,
         "Stopped postgres (pid 812) on port 5000\n",
         "Could not stop a\\nb (pid 813) on port 5000: still running after SIGKILL\n"
         "Could not stop every process listening on port 5000.\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.outcome));
        FakeKiller killer;
        FakeAdministratorStopper stopper;
        stopper.held = false;
        stopper.outcome = c.outcome;
        stopper.processes = c.processes;
        std::FILE *out = std::tmpfile();
        std::FILE *err = std::tmpfile();
        EXPECT_EQ(awaitTask(terminalstop::run(QStringLiteral("5000"), over(killer, stopper, {0}), out, err)), c.status);
        EXPECT_EQ(stopper.ports, QList<qint64>{5000});
        EXPECT_EQ(stopper.uids, QList<quint32>{0});
        EXPECT_EQ(contents(out), c.out);
        EXPECT_EQ(contents(err), c.err);
        std::fclose(out);
        std::fclose(err);
    }
}

TEST(TerminalStop, OwnListenersAreKilledDirectlyAndOnlyTheRestAsAdministrator) {
    using K = ProcessKillOutcome;
    const struct {
        const char *what;
        QList<quint32> owners;
        bool isRoot;
        K killOutcome;
        QList<qint32> killed;
        QList<quint32> asAdministrator;
        int status;
    } cases[] = {
        {"nothing listens", {}, false, K::killed, {}, {}, terminalstop::noListener},
        {"nothing listens, as root", {}, true, K::killed, {}, {}, terminalstop::noListener},
        {"own listener", {1000}, false, K::killed, {42}, {}, terminalstop::stopped},
        {"own listener gone meanwhile", {1000}, false, K::notRunning, {42}, {}, terminalstop::stopped},
        {"own listener refused", {1000}, false, K::permissionDenied, {42}, {1000}, terminalstop::stopped},
        {"own listener fails", {1000}, false, K::failed, {42}, {}, terminalstop::failed},
        {"own and root's", {1000, 0}, false, K::killed, {42}, {0}, terminalstop::stopped},
        {"as root, every owner in-process", {1000, 0}, true, K::killed, {}, {1000, 0}, terminalstop::stopped},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        FakeKiller killer;
        killer.held = false;
        killer.outcome = c.killOutcome;
        FakeAdministratorStopper stopper;
        stopper.held = false;
        std::FILE *out = std::tmpfile();
        std::FILE *err = std::tmpfile();
        EXPECT_EQ(
            awaitTask(terminalstop::run(QStringLiteral("5000"), over(killer, stopper, c.owners, c.isRoot), out, err)),
            c.status);
        EXPECT_EQ(killer.pids, c.killed);
        EXPECT_EQ(stopper.uids, c.asAdministrator);
        if (c.killOutcome == K::killed && !c.killed.isEmpty()) {
            EXPECT_EQ(contents(out), "Stopped python3 (pid 42) on port 5000\n");
        }
        std::fclose(out);
        std::fclose(err);
    }
}

TEST(TerminalStop, AnythingButAPlainPortInRangeIsAUsageErrorThatStopsNothing) {
    for (const char *argument : {"", "2999", "10000", "+5000", " 5000", "05000", "5000x", "٥٠٠٠"}) {
        SCOPED_TRACE(argument);
        FakeKiller killer;
        FakeAdministratorStopper stopper;
        std::FILE *out = std::tmpfile();
        std::FILE *err = std::tmpfile();
        EXPECT_EQ(awaitTask(terminalstop::run(QString::fromUtf8(argument), over(killer, stopper, {0}), out, err)),
                  terminalstop::usage);
        EXPECT_TRUE(stopper.ports.isEmpty());
        EXPECT_EQ(contents(out), "");
        EXPECT_NE(contents(err).find("usage: quaystone --stop PORT"), std::string::npos);
        std::fclose(out);
        std::fclose(err);
    }
}

} // namespace
