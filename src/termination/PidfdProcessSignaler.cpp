#include "termination/PidfdProcessSignaler.h"

#include "kernel/Pidfd.h"
#include "termination/ProcessHandle.h"

#include <cerrno>
#include <csignal>

namespace quaystone {

int PidfdProcessSignaler::send(int signal, const ProcessHandle &process) {
    if (process.hasPidfd())
        return kernel::pidfdSendSignal(process.pidfd(), signal);
    if (process.pid() <= 0)
        return EINVAL;
    return ::kill(process.pid(), signal) == 0 ? 0 : errno;
}

} // namespace quaystone
