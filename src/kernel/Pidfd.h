#pragma once

#include <utility>

namespace quaystone::kernel {

// Owns one file descriptor and closes it.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd)
        : m_fd(fd) {}
    UniqueFd(UniqueFd &&other) noexcept
        : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept;
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    ~UniqueFd();

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd = -1;
};

// pidfd_open(2): a descriptor that names the process for as long as it is held, even after its
// pid is given to another. -1 with errno set when it fails (ESRCH: no such process; ENOSYS: a
// kernel without pidfds). Always close-on-exec.
int pidfdOpen(int pid);

// pidfd_send_signal(2): 0, or the error number.
int pidfdSendSignal(int pidfd, int signal);

// Whether every thread of the process has exited: its pidfd turns readable then.
bool pidfdHasExited(int pidfd);

} // namespace quaystone::kernel
