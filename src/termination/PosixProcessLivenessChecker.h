#pragma once

#include "termination/ProcessLivenessChecking.h"

namespace quaystone {

// kill(2) with signal 0. A pid of 0 or below is refused with EINVAL without calling it, as
// the probe would otherwise answer for a whole process group.
class PosixProcessLivenessChecker final : public ProcessLivenessChecking {
public:
    int probe(qint32 pid) override;
};

} // namespace quaystone
