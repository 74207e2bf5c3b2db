#pragma once

#include "termination/Sleeping.h"

namespace quaystone {

// Sleeps on the calling thread's event loop, which keeps serving other work meanwhile.
class TaskSleeper final : public Sleeping {
public:
    QCoro::Task<bool> sleep(quint64 nanoseconds) override;
};

} // namespace quaystone
