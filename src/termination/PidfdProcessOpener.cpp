#include "termination/PidfdProcessOpener.h"

#include "kernel/Pidfd.h"

#include <cerrno>

namespace quaystone {

ProcessOpenResult PidfdProcessOpener::open(qint32 pid) {
    if (pid <= 0)
        return EINVAL;
    // pidfds are always close-on-exec, so no child of ours inherits one.
    const int pidfd = kernel::pidfdOpen(pid);
    if (pidfd < 0)
        return errno;
    return ProcessHandle(pid, pidfd);
}

} // namespace quaystone
