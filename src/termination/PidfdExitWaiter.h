#pragma once

#include "termination/ProcessExitWaiting.h"

namespace quaystone {

// Watches the handle's pidfd, which becomes readable when the process exits, from the calling
// thread's event loop. A handle without a pidfd is waited for the whole time. Never returns
// false before the time asked for has passed on the monotonic clock.
class PidfdExitWaiter final : public ProcessExitWaiting {
public:
    QCoro::Task<bool> waitForExit(const ProcessHandle &process, quint64 nanoseconds) override;
};

} // namespace quaystone
