#include "termination/ProcessHandle.h"

#include <utility>

#include <unistd.h>

namespace quaystone {

ProcessHandle::ProcessHandle(ProcessHandle &&other) noexcept
    : m_pid(other.m_pid)
    , m_pidfd(std::exchange(other.m_pidfd, -1)) {}

ProcessHandle &ProcessHandle::operator=(ProcessHandle &&other) noexcept {
    if (this != &other) {
        if (m_pidfd >= 0)
            ::close(m_pidfd);
        m_pid = other.m_pid;
        m_pidfd = std::exchange(other.m_pidfd, -1);
    }
    return *this;
}

ProcessHandle::~ProcessHandle() {
    if (m_pidfd >= 0)
        ::close(m_pidfd);
}

} // namespace quaystone
