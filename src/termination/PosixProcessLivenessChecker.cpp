#include "termination/PosixProcessLivenessChecker.h"

#include <cerrno>
#include <csignal>

namespace quaystone {

int PosixProcessLivenessChecker::probe(qint32 pid) {
    if (pid <= 0)
        return EINVAL;
    if (::kill(pid, 0) == 0)
        return 0;
    return errno;
}

} // namespace quaystone
