#include "kernel/SocketHolderScan.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quaystone::kernel {

namespace {

constexpr std::string_view socketPrefix = "socket:[";

// The inode of a link target "socket:[12345]"; 0 for any other target.
std::uint64_t socketInode(const char *target, ssize_t length) {
    if (length <= ssize_t(socketPrefix.size()) + 1 || std::memcmp(target, socketPrefix.data(), socketPrefix.size()) ||
        target[length - 1] != ']')
        return 0;
    std::uint64_t inode = 0;
    for (ssize_t i = ssize_t(socketPrefix.size()); i < length - 1; ++i) {
        if (target[i] < '0' || target[i] > '9' || inode > (UINT64_MAX - 9) / 10)
            return 0;
        inode = inode * 10 + std::uint64_t(target[i] - '0');
    }
    return inode;
}

struct Process {
    pid_t pid = 0;
    pid_t ppid = 0;
    uid_t uid = 0;
    // The descriptors it holds where the kernel says (6.2 on), else 0.
    off_t descriptors = 0;
    // The thread-group leader has exited while other threads run on: its fd directory is empty
    // and the descriptors are read through a thread.
    bool leaderGone = false;
    bool read = false;
};

// Parent pid, and whether the leader has exited with threads left, from /proc/PID/stat:
// "pid (comm) S ppid ... num_threads(20) ...". The name may hold any byte, ')' included.
bool readStat(int procDir, Process &process) {
    char path[32];
    std::snprintf(path, sizeof path, "%d/stat", int(process.pid));
    const int fd = ::openat(procDir, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[1024];
    ssize_t length;
    do
        length = ::read(fd, buffer, sizeof buffer - 1);
    while (length < 0 && errno == EINTR);
    ::close(fd);
    if (length <= 0)
        return false;
    buffer[length] = '\0';
    const char *close = std::strrchr(buffer, ')');
    if (!close)
        return false;
    char state = 0;
    int ppid = 0;
    long threads = 0;
    // Fields 5 to 19 are skipped as words: a number read into no variable may still overflow.
    if (std::sscanf(close + 1, " %c %d %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %ld", &state, &ppid,
                    &threads) != 3)
        return false;
    process.ppid = ppid;
    process.leaderGone = state == 'Z' && threads > 1;
    return true;
}

// What reading one descriptor table came to, in rising order of what it tells a stop.
enum class Table { empty, read, unreadable };

class Scan {
public:
    // pinUid: read for a stop, which needs every holder of that sole uid, pinned.
    Scan(const std::vector<WantedSocket> &sockets, std::optional<uid_t> pinUid = std::nullopt)
        : m_procDir(::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC))
        , m_sockets(sockets)
        , m_pinUid(pinUid) {
        for (std::size_t i = 0; i < sockets.size(); ++i)
            m_index.emplace(sockets[i].inode, i);
        m_holderCount.assign(sockets.size(), 0);
        m_unresolved = sockets.size();
    }

    // Counts the holder at once; its family is read by settle().
    void confirm(const SocketHolder &known) {
        const auto wanted = m_index.find(known.inode);
        if (wanted == m_index.end() || known.fd < 0)
            return;
        char path[48];
        std::snprintf(path, sizeof path, "%d/fd/%d", int(known.pid), known.fd);
        char target[64];
        const ssize_t length = ::readlinkat(m_procDir.get(), path, target, sizeof target);
        ++m_descriptorsRead;
        if (length > 0 && socketInode(target, length) == known.inode)
            record(wanted->second, known.pid, known.fd);
    }

    // False when /proc could not be opened or listed.
    bool listProcesses(const std::optional<uid_t> &onlyUid) {
        if (!m_procDir.valid())
            return false;
        const int listing = ::openat(m_procDir.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR *dir = listing < 0 ? nullptr : ::fdopendir(listing);
        if (!dir) {
            if (listing >= 0)
                ::close(listing);
            return false;
        }
        while (const dirent *entry = ::readdir(dir)) {
            char *end = nullptr;
            const long pid = std::strtol(entry->d_name, &end, 10);
            if (pid <= 0 || *end != '\0')
                continue;
            Process process;
            process.pid = pid_t(pid);
            // The process's directory belongs to its user (its fd directory to root once the main
            // thread has exited), and the fd directory's size is its descriptor count.
            struct stat status {};
            if (::fstatat(m_procDir.get(), entry->d_name, &status, 0) != 0 || (onlyUid && status.st_uid != *onlyUid))
                continue;
            process.uid = status.st_uid;
            char path[32];
            std::snprintf(path, sizeof path, "%ld/fd", pid);
            if (::fstatat(m_procDir.get(), path, &status, 0) == 0)
                process.descriptors = status.st_size;
            if (!readStat(m_procDir.get(), process))
                continue;
            m_position.emplace(process.pid, m_processes.size());
            m_processes.push_back(process);
        }
        ::closedir(dir);
        for (std::size_t i = 0; i < m_processes.size(); ++i) {
            if (const auto parent = m_position.find(m_processes[i].ppid); parent != m_position.end())
                m_children.emplace(m_processes[i].ppid, i);
        }
        return true;
    }

    // Reads the rest in the order most likely to meet the missing sockets soon: processes of the
    // sockets' owners first, then those with the fewest descriptors (servers hold few, browsers
    // and editors thousands), newest first. A stop reads them all.
    void readUntilResolved() {
        settle();
        if (resolved())
            return;
        std::unordered_set<uid_t> owners;
        for (std::size_t i = 0; i < m_sockets.size(); ++i) {
            if (m_holderCount[i] == 0)
                owners.insert(m_sockets[i].uid);
        }
        std::vector<std::size_t> order(m_processes.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            const Process &p = m_processes[a];
            const Process &q = m_processes[b];
            const bool pOwner = owners.contains(p.uid);
            const bool qOwner = owners.contains(q.uid);
            if (pOwner != qOwner)
                return pOwner;
            if (p.descriptors != q.descriptors)
                return p.descriptors < q.descriptors;
            return p.pid > q.pid;
        });
        for (const std::size_t i : order) {
            if (resolved())
                break;
            readProcess(i);
            settle();
        }
    }

    std::vector<SocketHolder> takeHolders() { return std::move(m_holders); }
    std::vector<PinnedProcess> takePinned() { return std::move(m_pinned); }
    std::size_t descriptorsRead() const { return m_descriptorsRead; }
    bool incomplete() const { return m_incomplete; }

private:
    // (socket index, descriptor) found in one process.
    using Found = std::vector<std::pair<std::size_t, int>>;

    bool resolved() const { return m_unresolved == 0 && !m_pinUid; }

    void record(std::size_t socket, pid_t pid, int fd) {
        const std::uint64_t key = (std::uint64_t(socket) << 32) | std::uint32_t(pid);
        if (!m_recorded.insert(key).second)
            return;
        m_holders.push_back({m_sockets[socket].inode, pid, fd});
        if (m_holderCount[socket]++ == 0)
            --m_unresolved;
        m_pending.push_back({socket, pid});
    }

    bool holds(std::size_t socket, pid_t pid) const {
        return m_recorded.contains((std::uint64_t(socket) << 32) | std::uint32_t(pid));
    }

    Table readDescriptors(const char *directory, Found &found) {
        const int fdDir = ::openat(m_procDir.get(), directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR *dir = fdDir < 0 ? nullptr : ::fdopendir(fdDir);
        if (!dir) {
            // No such directory: the process or thread has gone, and holds nothing.
            const bool gone = fdDir < 0 && errno == ENOENT;
            if (fdDir >= 0)
                ::close(fdDir);
            return gone ? Table::empty : Table::unreadable;
        }
        Table table = Table::empty;
        char target[64];
        while (const dirent *entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            table = Table::read;
            const ssize_t length = ::readlinkat(fdDir, entry->d_name, target, sizeof target);
            ++m_descriptorsRead;
            const std::uint64_t inode = length > 0 ? socketInode(target, length) : 0;
            if (inode == 0)
                continue;
            if (const auto wanted = m_index.find(inode); wanted != m_index.end())
                found.emplace_back(wanted->second, std::atoi(entry->d_name));
        }
        ::closedir(dir);
        return table;
    }

    Table readTables(const Process &process, Found &found) {
        char path[48];
        if (!process.leaderGone) {
            std::snprintf(path, sizeof path, "%d/fd", int(process.pid));
            const Table table = readDescriptors(path, found);
            // A stop looks further where the table shows nothing: the leader may have exited since.
            if (table != Table::empty || !m_pinUid)
                return table;
        }
        // Threads share one table unless one unshared it: a listing reads the first live thread's,
        // a stop every thread's.
        std::snprintf(path, sizeof path, "%d/task", int(process.pid));
        const int taskDir = ::openat(m_procDir.get(), path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR *dir = taskDir < 0 ? nullptr : ::fdopendir(taskDir);
        if (!dir) {
            if (taskDir >= 0)
                ::close(taskDir);
            return Table::unreadable;
        }
        Table tables = Table::empty;
        while (const dirent *entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == process.pid)
                continue;
            std::snprintf(path, sizeof path, "%d/task/%.16s/fd", int(process.pid), entry->d_name);
            tables = std::max(tables, readDescriptors(path, found));
            if (!m_pinUid)
                break;
        }
        ::closedir(dir);
        return tables;
    }

    void readProcess(std::size_t i) {
        Process &process = m_processes[i];
        if (process.read)
            return;
        process.read = true;
        m_found.clear();
        if (!m_pinUid)
            readTables(process, m_found);
        else if (!readPinned(process))
            return;
        for (const auto &[socket, fd] : m_found)
            record(socket, process.pid, fd);
    }

    // Reads a process for a stop, pinned first and checked again after, so that the descriptors
    // read were its own. False when they count for nothing.
    bool readPinned(Process &process) {
        int error = 0;
        std::optional<PinnedProcess> pinned = pinProcess(process.pid, error);
        if (!pinned) {
            // A process that exited since /proc was listed is no holder; any other failure may hide one.
            m_incomplete = m_incomplete || error != ESRCH;
            return false;
        }
        // Its stat is read again: the pid may have passed to another process since it was listed.
        if (soleUid(process.pid) != m_pinUid || !readStat(m_procDir.get(), process))
            return false;
        const Table table = readTables(process, m_found);
        if (!stillPinned(*pinned) || soleUid(process.pid) != m_pinUid)
            return false;
        m_incomplete = m_incomplete || table == Table::unreadable;
        if (!m_found.empty())
            m_pinned.push_back(std::move(*pinned));
        return true;
    }

    // Reads the family of every holder found so far, which may find more holders in turn.
    void settle() {
        while (!m_pending.empty()) {
            const auto [socket, pid] = m_pending.front();
            m_pending.pop_front();
            pid_t top = pid;
            for (;;) {
                const auto self = m_position.find(top);
                if (self == m_position.end())
                    break;
                const auto parent = m_position.find(m_processes[self->second].ppid);
                if (parent == m_position.end())
                    break;
                readProcess(parent->second);
                if (!holds(socket, m_processes[parent->second].pid))
                    break;
                top = m_processes[parent->second].pid;
            }
            if (!m_settledTops.insert((std::uint64_t(socket) << 32) | std::uint32_t(top)).second)
                continue;
            std::deque<pid_t> family{top};
            while (!family.empty()) {
                const auto [first, last] = m_children.equal_range(family.front());
                family.pop_front();
                for (auto child = first; child != last; ++child) {
                    readProcess(child->second);
                    family.push_back(m_processes[child->second].pid);
                }
            }
        }
    }

    UniqueFd m_procDir;
    const std::vector<WantedSocket> &m_sockets;
    std::optional<uid_t> m_pinUid;
    Found m_found;
    std::vector<PinnedProcess> m_pinned;
    bool m_incomplete = false;
    std::unordered_map<std::uint64_t, std::size_t> m_index;
    std::vector<std::size_t> m_holderCount;
    std::size_t m_unresolved = 0;
    std::vector<Process> m_processes;
    std::unordered_map<pid_t, std::size_t> m_position;
    std::unordered_multimap<pid_t, std::size_t> m_children;
    std::unordered_set<std::uint64_t> m_recorded;
    std::unordered_set<std::uint64_t> m_settledTops;
    std::deque<std::pair<std::size_t, pid_t>> m_pending;
    std::vector<SocketHolder> m_holders;
    std::size_t m_descriptorsRead = 0;
};

} // namespace

SocketHolderScan::Outcome SocketHolderScan::find(const std::vector<WantedSocket> &sockets, const Options &options) {
    Outcome outcome;
    if (sockets.empty())
        return outcome;
    Scan scan(sockets);
    for (const SocketHolder &known : options.known)
        scan.confirm(known);
    outcome.procReadable = scan.listProcesses(options.onlyUid);
    scan.readUntilResolved();
    outcome.holders = scan.takeHolders();
    outcome.descriptorsRead = scan.descriptorsRead();
    return outcome;
}

SocketHolderScan::Pinned SocketHolderScan::pinAll(const std::set<std::uint64_t> &inodes, uid_t uid) {
    Pinned pinned;
    if (inodes.empty())
        return pinned;
    std::vector<WantedSocket> sockets;
    for (const std::uint64_t inode : inodes)
        sockets.push_back({inode, uid});
    Scan scan(sockets, uid);
    // The user's processes are told by their directory's owner, the effective uid, first.
    pinned.incomplete = !scan.listProcesses(uid);
    scan.readUntilResolved();
    pinned.incomplete = pinned.incomplete || scan.incomplete();
    pinned.holders = scan.takePinned();
    std::sort(pinned.holders.begin(), pinned.holders.end(),
              [](const PinnedProcess &a, const PinnedProcess &b) { return a.pid < b.pid; });
    return pinned;
}

bool SocketHolderScan::procShowsProcesses(bool asRoot) {
    if (::access("/proc/self/fd", R_OK | X_OK) != 0)
        return false;
    if (asRoot)
        return true;
    std::FILE *mounts = std::fopen("/proc/self/mountinfo", "re");
    if (!mounts)
        return false;
    // "36 25 0:5 / /proc rw,nosuid - proc proc rw,hidepid=invisible": the mount point is the fifth
    // field, the super options come last.
    bool hidden = false;
    char line[4096];
    while (std::fgets(line, sizeof line, mounts)) {
        const std::string_view text(line);
        std::size_t field = 0;
        for (int skipped = 0; skipped < 4 && field != std::string_view::npos; ++skipped)
            field = text.find(' ', field + (skipped > 0));
        const std::size_t separator = text.find(" - proc ");
        if (field == std::string_view::npos || separator == std::string_view::npos ||
            text.substr(field + 1, 6) != "/proc ")
            continue;
        const std::size_t hidepid = text.find("hidepid=", separator);
        if (hidepid == std::string_view::npos)
            continue;
        const std::size_t start = hidepid + 8;
        const std::string_view value = text.substr(start, text.find_first_of(", \n", start) - start);
        hidden = value != "0" && value != "off";
    }
    std::fclose(mounts);
    return !hidden;
}

} // namespace quaystone::kernel
