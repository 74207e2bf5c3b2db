#pragma once

#include <QtGlobal>
#include <qcoro/qcorotask.h>

namespace quaystone {

class Sleeping {
public:
    virtual ~Sleeping() = default;

    // Suspends the calling task without blocking its thread. Completes with true when the
    // time is up, or early with false when the wait was cut short.
    virtual QCoro::Task<bool> sleep(quint64 nanoseconds) = 0;
};

} // namespace quaystone
