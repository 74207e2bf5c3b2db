#include "termination/PidfdProcessOpener.h"

#include <cerrno>

#include <sys/syscall.h>
#include <unistd.h>

namespace quaystone {

ProcessOpenResult PidfdProcessOpener::open(qint32 pid) {
    if (pid <= 0)
        return EINVAL;
    // pidfds are always close-on-exec, so no child of ours inherits one.
    // Through syscall(2): Debian 12's glibc declares pidfd_open without C linkage (its
    // <sys/pidfd.h> lacks __BEGIN_DECLS), so C++ cannot link against the wrapper.
    const int pidfd = int(::syscall(SYS_pidfd_open, pid, 0u));
    if (pidfd < 0)
        return errno;
    return ProcessHandle(pid, pidfd);
}

} // namespace quaystone
