#pragma once

#include "model/ProcessKilling.h"

#include <memory>

namespace quaystone {

class ProcessSignaling;
class ProcessLivenessChecking;
class Sleeping;

// Stops a process with SIGTERM, a grace period and SIGKILL if it is still there. Keeps no
// state between calls, so kills of the same or different processes may overlap.
class SignalProcessKiller final : public ProcessKilling {
public:
    static constexpr quint64 gracePeriodNanoseconds = 2'000'000'000;

    SignalProcessKiller(std::unique_ptr<ProcessSignaling> signaler,
                        std::unique_ptr<ProcessLivenessChecking> livenessChecker, std::unique_ptr<Sleeping> sleeper);
    ~SignalProcessKiller() override;

    // Over kill(2) and the event loop's sleep.
    static std::unique_ptr<SignalProcessKiller> makeDefault();

    QCoro::Task<ProcessKillOutcome> kill(qint32 pid, std::optional<quint64> startTime) override;

private:
    std::unique_ptr<ProcessSignaling> m_signaler;
    std::unique_ptr<ProcessLivenessChecking> m_livenessChecker;
    std::unique_ptr<Sleeping> m_sleeper;
};

} // namespace quaystone
