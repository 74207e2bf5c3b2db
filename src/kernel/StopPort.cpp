#include "kernel/StopPort.h"

#include "kernel/ListeningSockets.h"
#include "kernel/Pidfd.h"
#include "kernel/ProcStat.h"
#include "kernel/SocketHolderScan.h"
#include "model/StopPortHelperProtocol.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <set>
#include <sstream>
#include <string_view>

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quaystone::kernel {

namespace {

using namespace quaystone::stopport;

constexpr long graceMilliseconds = 2000;
// After SIGKILL, how long to wait for the exit before reporting the process as surviving.
constexpr long killWaitMilliseconds = 1000;

struct Target {
    PinnedProcess process;
    std::string name;
    bool exited = false;
    std::string failure; // empty while all is well
    ExitStatus failureStatus = failed;
};

std::string readFirstLine(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    std::getline(in, line);
    return line;
}

std::set<std::uint64_t> listeningInodes(int port, uid_t uid, bool &unreadable) {
    std::set<std::uint64_t> inodes;
    const std::optional<std::vector<ListeningSocket>> sockets = readListeningSockets();
    unreadable = !sockets;
    for (const ListeningSocket &socket : sockets.value_or(std::vector<ListeningSocket>{})) {
        if (socket.port == port && socket.uid == uid)
            inodes.insert(socket.inode);
    }
    return inodes;
}

// A container engine's port forwarder, told by the program it runs: any process may give itself
// one of these names. Stopping it would leave its container running with the port cut off, so
// the container is to be stopped through its engine instead.
bool isContainerProxy(int pid) {
    char target[4096];
    const ssize_t length = ::readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), target, sizeof target - 1);
    if (length <= 0)
        return false;
    std::string_view path(target, std::size_t(length));
    // The kernel marks a program replaced since it started.
    constexpr std::string_view deleted = " (deleted)";
    if (path.size() > deleted.size() && path.substr(path.size() - deleted.size()) == deleted)
        path.remove_suffix(deleted.size());
    const std::string_view base = path.substr(path.rfind('/') + 1);
    return base == "docker-proxy" || base == "rootlessport" || base == "rootlesskit";
}

// The system service (a .service unit of pid 1's) that runs the process, from its cgroup; empty
// for a scope, a user's own unit, or where systemd does not run. Its manager would start a
// signalled process again, so such a process is left to a stop of its unit.
std::string systemServiceOf(int pid) {
    struct stat status {};
    if (::lstat("/run/systemd/system", &status) != 0 || !S_ISDIR(status.st_mode))
        return {};
    std::ifstream file("/proc/" + std::to_string(pid) + "/cgroup");
    std::string line, path;
    while (std::getline(file, line)) {
        // "0::PATH" on the unified hierarchy; "N:name=systemd:PATH" on a hybrid one.
        if (line.rfind("0::", 0) == 0 && line.size() > 4)
            path = line.substr(3);
        else if (const auto named = line.find(":name=systemd:"); named != std::string::npos && path.empty())
            path = line.substr(named + 14);
    }
    if (path.find("/user@") != std::string::npos)
        return {};
    std::string unit;
    for (std::size_t begin = 0; begin < path.size();) {
        const std::size_t end = std::min(path.find('/', begin), path.size());
        const std::string_view component = std::string_view(path).substr(begin, end - begin);
        constexpr std::string_view suffix = ".service";
        if (component.size() > suffix.size() && component.substr(component.size() - suffix.size()) == suffix)
            unit = component;
        begin = end + 1;
    }
    return unit;
}

std::optional<int> parentOf(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("PPid:", 0) == 0)
            return std::atoi(line.c_str() + 5);
    }
    return std::nullopt;
}

// Pid 1, this process and every process above it: signalling any of them would stop the
// caller, or the system.
std::set<int> protectedProcesses() {
    std::set<int> pids{1, int(::getpid())};
    int pid = int(::getpid());
    while (pid > 1) {
        const auto parent = parentOf(pid);
        if (!parent || *parent <= 0 || pids.count(*parent) != 0)
            break;
        pids.insert(*parent);
        pid = *parent;
    }
    return pids;
}

long long monotonicMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Sends through the pidfd, which names the pinned process even if its pid is reused; where
// pidfds are missing, through kill with the start time checked just before.
void sendSignal(Target &target, int signal) {
    if (target.exited || !target.failure.empty())
        return;
    int error = 0;
    if (target.process.pidfd.valid()) {
        error = pidfdSendSignal(target.process.pidfd.get(), signal);
    } else if (!stillPinned(target.process)) {
        error = ESRCH;
    } else {
        error = ::kill(target.process.pid, signal) == 0 ? 0 : errno;
    }
    if (error == 0)
        return;
    if (error == ESRCH) {
        target.exited = true;
    } else if (error == EPERM) {
        target.failure = "permission denied";
        target.failureStatus = notPermitted;
    } else {
        target.failure = "could not be signalled";
    }
}

bool hasExited(const Target &target) {
    if (target.process.pidfd.valid())
        return pidfdHasExited(target.process.pidfd.get());
    return !stillPinned(target.process);
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
            if (target.process.pidfd.valid())
                waits.push_back({target.process.pidfd.get(), POLLIN, 0});
            else
                anyWithoutPidfd = true;
        }
        const long long now = monotonicMilliseconds();
        if ((waits.empty() && !anyWithoutPidfd) || now >= deadline)
            return;
        const long long remaining = deadline - now;
        const int timeout = static_cast<int>(anyWithoutPidfd ? std::min<long long>(remaining, 20) : remaining);
        ::poll(waits.empty() ? nullptr : waits.data(), waits.size(), timeout);
    }
}

} // namespace

StopPortResult stopPort(int port, uid_t uid) {
    StopPortResult result;
    const std::string portText = std::to_string(port);
    bool unreadable = false;
    const std::set<std::uint64_t> inodes = listeningInodes(port, uid, unreadable);
    if (inodes.empty()) {
        result.status = unreadable ? failed : noListener;
        result.message = unreadable ? "the kernel's socket tables cannot be read"
                                    : "nothing of user " + std::to_string(uid) + " listens on port " + portText;
        return result;
    }

    SocketHolderScan::Pinned scan = SocketHolderScan::pinAll(inodes, uid);
    if (scan.holders.empty()) {
        // The listener may have closed in the meantime; otherwise no process of its user that can
        // be seen from here holds it (another PID namespace, or it was passed to another user).
        if (listeningInodes(port, uid, unreadable).empty() && !unreadable) {
            result.status = noListener;
            result.message = "nothing of user " + std::to_string(uid) + " listens on port " + portText;
        } else {
            result.status = scan.incomplete ? notPermitted : failed;
            result.message = "no process of user " + std::to_string(uid) + " that can be seen holds port " + portText;
        }
        return result;
    }

    const std::set<int> protectedPids = protectedProcesses();
    std::vector<Target> targets;
    for (PinnedProcess &process : scan.holders) {
        Target target;
        target.name = readFirstLine("/proc/" + std::to_string(process.pid) + "/comm");
        if (protectedPids.count(process.pid) != 0)
            target.failure = "refused: pid 1, the helper or its caller";
        else if (isContainerProxy(process.pid))
            target.failure = "refused: it forwards a container's port; stop the container instead";
        else if (const std::string unit = systemServiceOf(process.pid); !unit.empty())
            target.failure = "refused: it belongs to the system service " + unit + "; stop the unit instead";
        target.process = std::move(process);
        // The name and the program were read from the pinned process only if it still runs.
        if (!stillPinned(target.process))
            target.exited = true;
        targets.push_back(std::move(target));
    }

    for (Target &target : targets)
        sendSignal(target, SIGTERM);
    // The grace period is measured on the monotonic clock and ends no sooner than 2 s.
    awaitExits(targets, monotonicMilliseconds() + graceMilliseconds);
    for (Target &target : targets)
        sendSignal(target, SIGKILL);
    awaitExits(targets, monotonicMilliseconds() + killWaitMilliseconds);

    result.status = stopped;
    for (Target &target : targets) {
        if (!target.exited && target.failure.empty())
            target.failure = "still running after SIGKILL";
        if (!target.failure.empty()) {
            // A refusal by the system is told apart only when it is the sole kind of failure.
            const ExitStatus status = target.failureStatus;
            result.status = (result.status == stopped || result.status == status) ? status : failed;
        }
        result.processes.push_back({target.process.pid, target.name, target.failure});
    }
    // Every holder of that user is gone, yet the socket listens: a process of another user holds it.
    if (result.status == stopped && !listeningInodes(port, uid, unreadable).empty()) {
        result.status = failed;
        result.message = "port " + portText + " is still held by a process of another user";
    }
    return result;
}

std::string reportLine(const StoppedProcess &process) {
    std::string name;
    for (const unsigned char c : process.name) {
        if (c < 0x20 || c >= 0x7f || c == '\\' || c == ':') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            name += escaped;
        } else {
            name += char(c);
        }
    }
    const std::string head = std::to_string(process.pid) + " " + name;
    return process.failure.empty() ? "stopped " + head : "not stopped " + head + ": " + process.failure;
}

std::optional<StoppedProcess> parseReportLine(std::string_view line) {
    StoppedProcess process;
    bool stopped = true;
    if (line.rfind("stopped ", 0) == 0) {
        line.remove_prefix(8);
    } else if (line.rfind("not stopped ", 0) == 0) {
        line.remove_prefix(12);
        stopped = false;
    } else {
        return std::nullopt;
    }
    std::size_t digits = 0;
    while (digits < line.size() && digits < 10 && line[digits] >= '0' && line[digits] <= '9')
        process.pid = process.pid * 10 + (line[digits++] - '0');
    if (digits == 0 || digits == 10 || digits >= line.size() || line[digits] != ' ')
        return std::nullopt;
    line.remove_prefix(digits + 1);
    // The name's own colons are escaped: the first one ends it.
    if (!stopped) {
        const std::size_t colon = line.find(": ");
        if (colon == std::string_view::npos || colon + 2 == line.size())
            return std::nullopt;
        process.failure = std::string(line.substr(colon + 2));
        line = line.substr(0, colon);
    }
    const auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 3 < line.size() && line[i + 1] == 'x' && hex(line[i + 2]) && hex(line[i + 3])) {
            process.name += char(std::stoi(std::string(line.substr(i + 2, 2)), nullptr, 16));
            i += 3;
        } else {
            process.name += line[i];
        }
    }
    return process;
}

} // namespace quaystone::kernel
