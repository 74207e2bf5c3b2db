#include "termination/PkexecAdministratorStopper.h"
#include "model/StopPortHelperProtocol.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

using namespace quaystone;
using namespace quaystone::test;

namespace {

struct Call {
    QString program;
    QStringList arguments;
};

class FakeRunner : public CommandRunning {
public:
    FakeRunner(CommandRunResult answer, QList<Call> &calls)
        : m_answer(std::move(answer))
        , m_calls(calls) {}

    QCoro::Task<CommandRunResult> run(QString executablePath, QStringList arguments,
                                      std::chrono::milliseconds) override {
        m_calls.append({executablePath, arguments});
        co_return CommandRunResult(m_answer);
    }

private:
    CommandRunResult m_answer;
    QList<Call> &m_calls;
};

CommandResult exited(int status, QByteArray standardError = {}) {
    return CommandResult{status, {}, std::move(standardError)};
}

// Any executable on the machine stands in for pkexec and the helper.
QString anExecutable() {
    return QCoreApplication::applicationFilePath();
}

TEST(PkexecAdministratorStopper, ExitStatusesMapOntoOutcomes) {
    using O = AdministratorStopOutcome;
    const struct {
        CommandResult result;
        O expected;
    } cases[] = {
        {exited(0), O::stopped},
        {exited(3), O::noListener},
        {exited(4), O::notAuthorized},
        {exited(5), O::failed},
        {exited(2), O::failed},
        {exited(126, "Error executing command as another user: Request dismissed"), O::cancelled},
        {exited(127, "Error executing command as another user: Not authorized\n"), O::notAuthorized},
        {exited(127, "Error executing command as another user: No authentication agent found.\n"), O::notAuthorized},
        {exited(127, "Error getting authority: Error initializing authority: Could not connect\n"), O::unavailable},
        {exited(127, "Cannot run program /x/quaystone-stop-port: No such file or directory\n"), O::unavailable},
        // Killed by a signal, as the runner reports it.
        {exited(128 + 9), O::failed},
        {exited(1), O::failed},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.result.terminationStatus);
        EXPECT_EQ(PkexecAdministratorStopper::outcomeFor(c.result), c.expected);
    }
}

TEST(PkexecAdministratorStopper, RunsPkexecWithTheHelperThePortAndTheUidOnlyAndReadsWhatItStopped) {
    QList<Call> calls;
    CommandResult answer = exited(5);
    answer.standardOutput = "stopped 812 postgres\nnot stopped 813 a\\x3a b\\x1b\\xd0\\xb6: permission denied\n"
                            "stopped x y\nnot stopped 9 name\nstopped 12345678901 z\nstopped 7 \n";
    PkexecAdministratorStopper stopper(std::make_unique<FakeRunner>(answer, calls), anExecutable(),
                                       QStringLiteral("/bin/true"));
    const AdministratorStopResult result = awaitTask(stopper.stop(5000, 65534));
    EXPECT_EQ(result.outcome, AdministratorStopOutcome::failed);
    EXPECT_EQ(result.processes, (QList<AdministratorStoppedProcess>{
                                    {812, QStringLiteral("postgres"), {}},
                                    {813, QStringLiteral("a: b\x1b\u0436"), QStringLiteral("permission denied")},
                                    {7, {}, {}}}));
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls[0].program, anExecutable());
    EXPECT_EQ(calls[0].arguments,
              QStringList({QStringLiteral("/bin/true"), QStringLiteral("5000"), QStringLiteral("65534")}));
}

TEST(PkexecAdministratorStopper, WhatIsMissingOrOutOfRangeRunsNothing) {
    const struct {
        const char *what;
        QString pkexec;
        QString helper;
        qint64 port;
        CommandRunResult answer;
        AdministratorStopOutcome expected;
        int runs;
    } cases[] = {
        {"no helper", anExecutable(), QStringLiteral("/nonexistent/quaystone-stop-port"), 5000, exited(0),
         AdministratorStopOutcome::unavailable, 0},
        {"no pkexec", QStringLiteral("/nonexistent/pkexec"), anExecutable(), 5000, exited(0),
         AdministratorStopOutcome::unavailable, 0},
        {"pkexec fails to start", anExecutable(), anExecutable(), 5000, CommandRunnerError::launchFailed,
         AdministratorStopOutcome::unavailable, 1},
        {"port below the range", anExecutable(), anExecutable(), 2999, exited(0), AdministratorStopOutcome::failed, 0},
        {"port above the range", anExecutable(), anExecutable(), 10000, exited(0), AdministratorStopOutcome::failed, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        QList<Call> calls;
        PkexecAdministratorStopper stopper(std::make_unique<FakeRunner>(c.answer, calls), c.pkexec, c.helper);
        EXPECT_EQ(awaitTask(stopper.stop(c.port, 0)).outcome, c.expected);
        EXPECT_EQ(calls.size(), c.runs);
    }
}

TEST(StopPortHelperProtocol, OnlyPlainDecimalPortsInTheRangeAreAccepted) {
    for (const int port : {3000, 5000, 9999})
        EXPECT_EQ(stopport::parsePort(std::to_string(port)), port);
    // The last two: a NUL inside, and Arabic-Indic digits.
    const std::string withNul{'5', '0', '\0', '0', '0'};
    const std::string_view refused[] = {
        "2999",  "10000",  "05000", "0300",   "+5000", "-5000", " 5000",
        "5000 ", "5000\n", "5e3",   "0x1388", "",      withNul, "\xd9\xa5\xd9\xa0\xd9\xa0\xd9\xa0"};
    for (const std::string_view text : refused)
        EXPECT_EQ(stopport::parsePort(text), std::nullopt) << std::string(text);
}

} // namespace
