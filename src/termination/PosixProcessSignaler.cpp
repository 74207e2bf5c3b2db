#include "termination/PosixProcessSignaler.h"

#include <cerrno>
#include <csignal>

namespace quaystone {

int PosixProcessSignaler::send(int signal, qint32 pid) {
    if (pid <= 0)
        return EINVAL;
    if (::kill(pid, signal) == 0)
        return 0;
    return errno;
}

} // namespace quaystone
