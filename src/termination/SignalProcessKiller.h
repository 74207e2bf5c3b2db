#pragma once

#include "model/ProcessKilling.h"

#include <memory>

namespace quaystone {

class ProcessOpening;
class ProcessStartTimeReading;
class ProcessSignaling;
class ProcessExitWaiting;

// Stops a process with SIGTERM, a grace period that ends when the process exits, and SIGKILL if
// it is still there. Signals only the process that was listed: it takes hold of the pid through a
// pidfd, checks that its start time is still the listed one, and signals through that pidfd. Where
// the kernel has no pidfds, it signals the pid and checks the start time before each signal.
// Keeps no state between calls, so kills of the same or different processes may overlap.
class SignalProcessKiller final : public ProcessKilling {
public:
    static constexpr quint64 gracePeriodNanoseconds = 2'000'000'000;

    SignalProcessKiller(std::unique_ptr<ProcessOpening> opener, std::unique_ptr<ProcessStartTimeReading> startTimes,
                        std::unique_ptr<ProcessSignaling> signaler, std::unique_ptr<ProcessExitWaiting> exitWaiter);
    ~SignalProcessKiller() override;

    // Over pidfds, /proc and the event loop.
    static std::unique_ptr<SignalProcessKiller> makeDefault();

    QCoro::Task<ProcessKillOutcome> kill(qint32 pid, std::optional<quint64> startTime) override;

private:
    std::unique_ptr<ProcessOpening> m_opener;
    std::unique_ptr<ProcessStartTimeReading> m_startTimes;
    std::unique_ptr<ProcessSignaling> m_signaler;
    std::unique_ptr<ProcessExitWaiting> m_exitWaiter;
};

} // namespace quaystone
