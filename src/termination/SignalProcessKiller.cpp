#include "termination/SignalProcessKiller.h"

#include "termination/PidfdExitWaiter.h"
#include "termination/PidfdProcessOpener.h"
#include "termination/PidfdProcessSignaler.h"
#include "termination/ProcStatStartTimeReader.h"

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

SignalProcessKiller::SignalProcessKiller(std::unique_ptr<ProcessOpening> opener,
                                         std::unique_ptr<ProcessStartTimeReading> startTimes,
                                         std::unique_ptr<ProcessSignaling> signaler,
                                         std::unique_ptr<ProcessExitWaiting> exitWaiter)
    : m_opener(std::move(opener))
    , m_startTimes(std::move(startTimes))
    , m_signaler(std::move(signaler))
    , m_exitWaiter(std::move(exitWaiter)) {}

SignalProcessKiller::~SignalProcessKiller() = default;

std::unique_ptr<SignalProcessKiller> SignalProcessKiller::makeDefault() {
    return std::make_unique<SignalProcessKiller>(
        std::make_unique<PidfdProcessOpener>(), std::make_unique<ProcStatStartTimeReader>(),
        std::make_unique<PidfdProcessSignaler>(), std::make_unique<PidfdExitWaiter>());
}

QCoro::Task<ProcessKillOutcome> SignalProcessKiller::kill(qint32 pid, std::optional<quint64> startTime) {
    // kill(2) reads 0 as "my process group" and -1 as "every process I may signal".
    if (pid <= 0)
        co_return ProcessKillOutcome::failed;
    // Without its start time the listed process cannot be told from a later one with its pid, so
    // nothing is signalled. Not notRunning: the rows would vanish while the process may well run.
    if (!startTime)
        co_return ProcessKillOutcome::failed;

    ProcessOpenResult opened = m_opener->open(pid);
    if (!opened && opened.error() != ENOSYS)
        co_return outcomeForErrorNumber(opened.error());
    const ProcessHandle process = opened ? std::move(opened).value() : ProcessHandle(pid);

    // Read after the pidfd is open: if pid still names the listed process now, the pidfd holds that
    // process, and signals through it can reach no other. Without a pidfd the check is repeated
    // before each signal, which narrows the window but cannot close it.
    const auto isStillListed = [&] { return m_startTimes->startTime(pid) == startTime; };
    if (!isStillListed())
        co_return ProcessKillOutcome::notRunning;
    if (const int error = m_signaler->send(SIGTERM, process))
        co_return outcomeForErrorNumber(error);

    bool exited = false;
    // A wait cut short by an error only brings SIGKILL forward.
    try {
        exited = co_await m_exitWaiter->waitForExit(process, gracePeriodNanoseconds);
    } catch (...) {
    }
    if (exited)
        co_return ProcessKillOutcome::notRunning;

    if (!process.hasPidfd() && !isStillListed())
        co_return ProcessKillOutcome::notRunning;
    if (const int error = m_signaler->send(SIGKILL, process))
        co_return outcomeForErrorNumber(error);
    co_return ProcessKillOutcome::killed;
}

} // namespace quaystone
