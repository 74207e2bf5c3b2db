#pragma once

#include "termination/ProcessSignaling.h"

namespace quaystone {

// kill(2). Refuses a pid of 0 or below with EINVAL without calling it: those pids name a
// process group or every process the user may signal, never one process.
class PosixProcessSignaler final : public ProcessSignaling {
public:
    int send(int signal, qint32 pid) override;
};

} // namespace quaystone
