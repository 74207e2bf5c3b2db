#pragma once

#include <QtGlobal>

namespace quaystone {

// One process as the killer holds it: its pid and, where the kernel has them, a pidfd. Unlike the
// pid, the pidfd keeps naming the same process after it exits, so a signal sent through it can
// never reach a later process that was given the same pid. Owns the pidfd and closes it.
class ProcessHandle {
public:
    explicit ProcessHandle(qint32 pid, int pidfd = -1)
        : m_pid(pid)
        , m_pidfd(pidfd) {}
    ProcessHandle(ProcessHandle &&other) noexcept;
    ProcessHandle &operator=(ProcessHandle &&other) noexcept;
    ProcessHandle(const ProcessHandle &) = delete;
    ProcessHandle &operator=(const ProcessHandle &) = delete;
    ~ProcessHandle();

    qint32 pid() const { return m_pid; }
    // -1 where the kernel gave none.
    int pidfd() const { return m_pidfd; }
    bool hasPidfd() const { return m_pidfd >= 0; }

private:
    qint32 m_pid;
    int m_pidfd;
};

} // namespace quaystone
