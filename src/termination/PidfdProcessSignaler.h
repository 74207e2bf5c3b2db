#pragma once

#include "termination/ProcessSignaling.h"

namespace quaystone {

// pidfd_send_signal(2) through the handle's pidfd; kill(2) for a handle without one. Refuses a
// pid of 0 or below with EINVAL without calling kill(2): those pids name a process group or
// every process the user may signal, never one process.
class PidfdProcessSignaler final : public ProcessSignaling {
public:
    int send(int signal, const ProcessHandle &process) override;
};

} // namespace quaystone
