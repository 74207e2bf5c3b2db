#include "kernel/Pidfd.h"

#include <cerrno>

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace quaystone::kernel {

UniqueFd &UniqueFd::operator=(UniqueFd &&other) noexcept {
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

UniqueFd::~UniqueFd() {
    if (m_fd >= 0)
        ::close(m_fd);
}

// Through syscall(2): Debian 12's glibc declares pidfd_open without C linkage (its
// <sys/pidfd.h> lacks __BEGIN_DECLS), so C++ cannot link against the wrapper.
int pidfdOpen(int pid) {
    if (pid <= 0) {
        errno = EINVAL;
        return -1;
    }
    return int(::syscall(SYS_pidfd_open, pid, 0u));
}

int pidfdSendSignal(int pidfd, int signal) {
    return ::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0u) == 0 ? 0 : errno;
}

bool pidfdHasExited(int pidfd) {
    pollfd entry{pidfd, POLLIN, 0};
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & (POLLIN | POLLHUP)) != 0;
}

} // namespace quaystone::kernel
