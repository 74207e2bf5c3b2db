#pragma once

#include "model/Result.h"
#include "termination/ProcessHandle.h"

namespace quaystone {

// A handle on the process, or the system's error number (ENOSYS: the kernel has no pidfds).
using ProcessOpenResult = Result<ProcessHandle, int>;

class ProcessOpening {
public:
    virtual ~ProcessOpening() = default;

    // Takes hold of the process that has pid now.
    virtual ProcessOpenResult open(qint32 pid) = 0;
};

} // namespace quaystone
