#include "termination/SignalProcessKiller.h"

#include "termination/PosixProcessLivenessChecker.h"
#include "termination/PosixProcessSignaler.h"
#include "termination/TaskSleeper.h"

#include <cerrno>
#include <csignal>

namespace quaystone {

namespace {

ProcessKillOutcome outcomeForErrorNumber(int errorNumber) {
    switch (errorNumber) {
    case ESRCH:
        return ProcessKillOutcome::notRunning;
    case EPERM:
        return ProcessKillOutcome::permissionDenied;
    default:
        return ProcessKillOutcome::failed;
    }
}

} // namespace

SignalProcessKiller::SignalProcessKiller(std::unique_ptr<ProcessSignaling> signaler,
                                         std::unique_ptr<ProcessLivenessChecking> livenessChecker,
                                         std::unique_ptr<Sleeping> sleeper)
    : m_signaler(std::move(signaler))
    , m_livenessChecker(std::move(livenessChecker))
    , m_sleeper(std::move(sleeper)) {}

SignalProcessKiller::~SignalProcessKiller() = default;

std::unique_ptr<SignalProcessKiller> SignalProcessKiller::makeDefault() {
    return std::make_unique<SignalProcessKiller>(std::make_unique<PosixProcessSignaler>(),
                                                 std::make_unique<PosixProcessLivenessChecker>(),
                                                 std::make_unique<TaskSleeper>());
}

QCoro::Task<ProcessKillOutcome> SignalProcessKiller::kill(qint32 pid, std::optional<quint64> startTime) {
    Q_UNUSED(startTime);
    // kill(2) reads 0 as "my process group" and -1 as "every process I may signal".
    if (pid <= 0)
        co_return ProcessKillOutcome::failed;

    if (const int error = m_signaler->send(SIGTERM, pid))
        co_return outcomeForErrorNumber(error);
    if (const int error = m_livenessChecker->probe(pid))
        co_return outcomeForErrorNumber(error);

    // A grace period cut short, by a false result or an error, only brings the next step forward.
    try {
        co_await m_sleeper->sleep(gracePeriodNanoseconds);
    } catch (...) {
    }

    if (const int error = m_livenessChecker->probe(pid))
        co_return outcomeForErrorNumber(error);
    if (const int error = m_signaler->send(SIGKILL, pid))
        co_return outcomeForErrorNumber(error);
    co_return ProcessKillOutcome::killed;
}

} // namespace quaystone
