// quaystone-stop-port PORT
//
// Run as root through pkexec, it stops every process that holds a listening TCP socket on
// PORT: the socket tables of the kernel name the sockets, the descriptors under /proc name
// their processes. It takes nothing from its caller but the port: the environment is
// dropped before anything else, and only absolute paths under /proc are read. Pid 1, the
// helper and its ancestors (pkexec, the app) are never signalled.

#include "model/StopPortHelperProtocol.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace quaystone::stopport;

constexpr long graceMilliseconds = 2000;
// After SIGKILL, how long to wait for the exit before reporting the process as surviving.
constexpr long killWaitMilliseconds = 1000;

struct Target {
    pid_t pid = 0;
    unsigned long long startTime = 0;
    std::string name;
    int pidfd = -1;
    bool exited = false;
    std::string failure; // empty while all is well
    ExitStatus failureStatus = failed;
};

std::optional<std::string> readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

// The inodes of the LISTEN sockets (state 0A) bound to port, from one socket table. Empty
// when the table is missing (no IPv6, say).
void collectListeningInodes(const char *table, int port, std::set<unsigned long> &inodes) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line); // the header
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
        unsigned long inode = 0;
        if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode))
            continue;
        const auto colon = local.rfind(':');
        if (colon == std::string::npos || state != "0A" || inode == 0)
            continue;
        if (std::strtol(local.c_str() + colon + 1, nullptr, 16) == port)
            inodes.insert(inode);
    }
}

std::set<unsigned long> listeningInodes(int port) {
    std::set<unsigned long> inodes;
    collectListeningInodes("/proc/net/tcp", port, inodes);
    collectListeningInodes("/proc/net/tcp6", port, inodes);
    return inodes;
}

// Field 22 of /proc/PID/stat, counted after the name, which may itself hold spaces and
// parentheses. Absent when the process is gone or already a zombie.
std::optional<unsigned long long> liveStartTime(pid_t pid) {
    const auto stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    if (!stat)
        return std::nullopt;
    const auto close = stat->rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    std::istringstream fields(stat->substr(close + 1));
    std::string field;
    unsigned long long startTime = 0;
    for (int index = 3; index <= 22 && fields >> field; ++index) {
        if (index == 3 && (field == "Z" || field == "X"))
            return std::nullopt;
        if (index == 22)
            startTime = std::strtoull(field.c_str(), nullptr, 10);
    }
    return startTime;
}

// A container engine's port forwarder: stopping it would leave its container running with the
// port cut off, so the container is to be stopped through its engine instead.
bool isContainerProxy(pid_t pid) {
    std::string name = readFile("/proc/" + std::to_string(pid) + "/comm").value_or("");
    if (!name.empty() && name.back() == '\n')
        name.pop_back();
    return name == "docker-proxy" || name == "rootlessport" || name == "rootlesskit";
}

// The kernel's name of the process, with anything that could steer a terminal escaped.
std::string displayName(pid_t pid) {
    std::string name = readFile("/proc/" + std::to_string(pid) + "/comm").value_or("?");
    if (!name.empty() && name.back() == '\n')
        name.pop_back();
    std::string shown;
    for (const unsigned char c : name) {
        if (c < 0x20 || c >= 0x7f || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            shown += escaped;
        } else {
            shown += static_cast<char>(c);
        }
    }
    return shown;
}

std::optional<pid_t> parentOf(pid_t pid) {
    const auto status = readFile("/proc/" + std::to_string(pid) + "/status");
    if (!status)
        return std::nullopt;
    const auto at = status->find("\nPPid:");
    if (at == std::string::npos)
        return std::nullopt;
    return static_cast<pid_t>(std::strtol(status->c_str() + at + 6, nullptr, 10));
}

// Pid 1, this process and every process above it: signalling any of them would stop the
// caller, or the system.
std::set<pid_t> protectedProcesses() {
    std::set<pid_t> pids{1, getpid()};
    pid_t pid = getpid();
    while (pid > 1) {
        const auto parent = parentOf(pid);
        if (!parent || *parent <= 0 || pids.count(*parent) != 0)
            break;
        pids.insert(*parent);
        pid = *parent;
    }
    return pids;
}

bool isDecimal(const char *name) {
    if (*name == '\0')
        return false;
    for (; *name; ++name) {
        if (*name < '0' || *name > '9')
            return false;
    }
    return true;
}

// Every process with a descriptor on one of the sockets. A process whose descriptors cannot
// be read sets unreadable, so that an unseen holder is not mistaken for none.
std::vector<pid_t> processesHolding(const std::set<unsigned long> &inodes, bool &unreadable) {
    std::vector<pid_t> holders;
    DIR *proc = opendir("/proc");
    if (!proc) {
        unreadable = true;
        return holders;
    }
    while (const dirent *process = readdir(proc)) {
        if (!isDecimal(process->d_name))
            continue;
        const std::string fdPath = std::string("/proc/") + process->d_name + "/fd";
        DIR *fds = opendir(fdPath.c_str());
        if (!fds) {
            // A process that exited since the listing is no holder; any other failure may hide one.
            if (errno != ENOENT)
                unreadable = true;
            continue;
        }
        while (const dirent *fd = readdir(fds)) {
            char target[64];
            const ssize_t length = readlinkat(dirfd(fds), fd->d_name, target, sizeof target - 1);
            if (length <= 0)
                continue;
            target[length] = '\0';
            unsigned long inode = 0;
            char close = 0;
            if (std::sscanf(target, "socket:[%lu%c", &inode, &close) == 2 && close == ']' && inodes.count(inode)) {
                holders.push_back(static_cast<pid_t>(std::strtol(process->d_name, nullptr, 10)));
                break;
            }
        }
        closedir(fds);
    }
    closedir(proc);
    std::sort(holders.begin(), holders.end());
    return holders;
}

long long monotonicMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Sends through the pidfd, which names the checked process even if its pid is reused; where
// pidfds are missing, through kill with the start time checked just before.
void sendSignal(Target &target, int signal) {
    if (target.exited || !target.failure.empty())
        return;
    int result = 0;
    if (target.pidfd >= 0) {
        result = static_cast<int>(syscall(SYS_pidfd_send_signal, target.pidfd, signal, nullptr, 0));
    } else {
        if (liveStartTime(target.pid) != target.startTime) {
            target.exited = true;
            return;
        }
        result = ::kill(target.pid, signal);
    }
    if (result == 0)
        return;
    if (errno == ESRCH) {
        target.exited = true;
    } else if (errno == EPERM) {
        target.failure = "permission denied";
        target.failureStatus = notPermitted;
    } else {
        target.failure = "could not be signalled";
    }
}

bool hasExited(const Target &target) {
    if (target.pidfd >= 0) {
        pollfd probe{target.pidfd, POLLIN, 0};
        return poll(&probe, 1, 0) > 0;
    }
    return liveStartTime(target.pid) != target.startTime;
}

// Waits until every signalled target has exited, and never past the deadline: a pidfd becomes
// readable when its process exits. Without pidfds, looks every 20 ms.
void awaitExits(std::vector<Target> &targets, long long deadline) {
    while (true) {
        std::vector<pollfd> waits;
        bool anyWithoutPidfd = false;
        for (Target &target : targets) {
            if (target.exited || !target.failure.empty())
                continue;
            if (hasExited(target)) {
                target.exited = true;
                continue;
            }
            if (target.pidfd >= 0)
                waits.push_back({target.pidfd, POLLIN, 0});
            else
                anyWithoutPidfd = true;
        }
        const long long now = monotonicMilliseconds();
        if ((waits.empty() && !anyWithoutPidfd) || now >= deadline)
            return;
        const long long remaining = deadline - now;
        const int timeout = static_cast<int>(anyWithoutPidfd ? std::min<long long>(remaining, 20) : remaining);
        if (waits.empty())
            ::poll(nullptr, 0, timeout);
        else
            ::poll(waits.data(), waits.size(), timeout);
    }
}

} // namespace

int main(int argc, char **argv) {
    // pkexec sanitises the environment; this helper does not rely on it and uses none.
    clearenv();

    if (argc != 2) {
        std::fputs("usage: quaystone-stop-port PORT (one port, 3000-9999)\n", stderr);
        return refusedInput;
    }
    const std::optional<int> port = parsePort(argv[1]);
    if (!port) {
        std::fputs("quaystone-stop-port: the port must be plain decimal digits in 3000-9999\n", stderr);
        return refusedInput;
    }

    const std::set<unsigned long> inodes = listeningInodes(*port);
    if (inodes.empty()) {
        std::fprintf(stderr, "quaystone-stop-port: nothing listens on port %d\n", *port);
        return noListener;
    }

    bool unreadable = false;
    const std::vector<pid_t> holders = processesHolding(inodes, unreadable);
    if (holders.empty()) {
        // The listener may have closed in the meantime; otherwise its process cannot be seen
        // from here (another PID namespace, or descriptors this helper may not read).
        if (listeningInodes(*port).empty()) {
            std::fprintf(stderr, "quaystone-stop-port: nothing listens on port %d\n", *port);
            return noListener;
        }
        std::fprintf(stderr, "quaystone-stop-port: no process that can be seen holds port %d\n", *port);
        return unreadable ? notPermitted : failed;
    }

    const std::set<pid_t> protectedPids = protectedProcesses();
    std::vector<Target> targets;
    for (const pid_t pid : holders) {
        Target target;
        target.pid = pid;
        target.name = displayName(pid);
        const auto startTime = liveStartTime(pid);
        if (!startTime) {
            target.exited = true;
        } else if (protectedPids.count(pid) != 0) {
            target.failure = "refused: pid 1, the helper or its caller";
        } else if (isContainerProxy(pid)) {
            target.failure = "refused: it forwards a container's port; stop the container instead";
        } else {
            target.startTime = *startTime;
            target.pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
            if (target.pidfd < 0 && errno == ESRCH)
                target.exited = true;
            else if (target.pidfd < 0 && errno != ENOSYS)
                target.failure = "could not be opened";
            // Checked after the pidfd is open, so the pidfd names the process that was found.
            else if (liveStartTime(pid) != target.startTime)
                target.exited = true;
        }
        targets.push_back(std::move(target));
    }

    for (Target &target : targets)
        sendSignal(target, SIGTERM);
    // The grace period is measured on the monotonic clock and ends no sooner than 2 s.
    awaitExits(targets, monotonicMilliseconds() + graceMilliseconds);
    for (Target &target : targets)
        sendSignal(target, SIGKILL);
    awaitExits(targets, monotonicMilliseconds() + killWaitMilliseconds);

    int status = stopped;
    for (Target &target : targets) {
        if (!target.exited && target.failure.empty())
            target.failure = "still running after SIGKILL";
        if (target.failure.empty()) {
            std::printf("stopped %d %s\n", static_cast<int>(target.pid), target.name.c_str());
        } else {
            std::printf("not stopped %d %s: %s\n", static_cast<int>(target.pid), target.name.c_str(),
                        target.failure.c_str());
            // A refusal by the system is told apart only when it is the sole kind of failure.
            status = (status == stopped || status == target.failureStatus) ? target.failureStatus : failed;
        }
        if (target.pidfd >= 0)
            ::close(target.pidfd);
    }
    return status;
}
