#pragma once

#include <QtGlobal>
#include <qcoro/qcorotask.h>

namespace quaystone {

class ProcessHandle;

class ProcessExitWaiting {
public:
    virtual ~ProcessExitWaiting() = default;

    // Suspends the calling task, without blocking its thread, until the process has exited
    // (true) or the time is up (false), whichever comes first. The handle must outlive the wait.
    virtual QCoro::Task<bool> waitForExit(const ProcessHandle &process, quint64 nanoseconds) = 0;
};

} // namespace quaystone
