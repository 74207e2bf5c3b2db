#include "termination/PidfdProcessSignaler.h"

#include "termination/ProcessHandle.h"

#include <cerrno>
#include <csignal>

#include <sys/syscall.h>
#include <unistd.h>

namespace quaystone {

int PidfdProcessSignaler::send(int signal, const ProcessHandle &process) {
    // syscall(2) for the reason given in PidfdProcessOpener.cpp.
    if (process.hasPidfd())
        return ::syscall(SYS_pidfd_send_signal, process.pidfd(), signal, nullptr, 0u) == 0 ? 0 : errno;
    if (process.pid() <= 0)
        return EINVAL;
    return ::kill(process.pid(), signal) == 0 ? 0 : errno;
}

} // namespace quaystone
