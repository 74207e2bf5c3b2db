#include "kernel/SocketHolders.h"

#include "kernel/ProcStat.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace quaystone::kernel {

namespace {

bool isDecimal(const char *name) {
    if (*name == '\0')
        return false;
    for (; *name; ++name) {
        if (*name < '0' || *name > '9')
            return false;
    }
    return true;
}

enum class FdTable { holds, holdsNot, empty, unreadable };

// Looks through one descriptor table (a /proc/PID/fd or /proc/PID/task/TID/fd directory).
FdTable scanFdTable(int parent, const char *path, const std::set<std::uint64_t> &inodes) {
    const int directory = ::openat(parent, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0)
        return errno == ENOENT ? FdTable::empty : FdTable::unreadable;
    DIR *fds = ::fdopendir(directory);
    if (!fds) {
        ::close(directory);
        return FdTable::unreadable;
    }
    FdTable result = FdTable::empty;
    while (const dirent *fd = ::readdir(fds)) {
        if (!isDecimal(fd->d_name))
            continue;
        result = FdTable::holdsNot;
        char target[64];
        const ssize_t length = ::readlinkat(::dirfd(fds), fd->d_name, target, sizeof target - 1);
        if (length <= 0)
            continue;
        target[length] = '\0';
        unsigned long long inode = 0;
        char close = 0;
        if (std::sscanf(target, "socket:[%llu%c", &inode, &close) == 2 && close == ']' && inodes.count(inode)) {
            result = FdTable::holds;
            break;
        }
    }
    ::closedir(fds);
    return result;
}

// Whether any thread's descriptor table holds one of the sockets: read where the leader's table
// is gone because the main thread has exited while others run.
FdTable scanThreads(int processDirectory, const std::set<std::uint64_t> &inodes) {
    const int directory = ::openat(processDirectory, "task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0)
        return FdTable::unreadable;
    DIR *tasks = ::fdopendir(directory);
    if (!tasks) {
        ::close(directory);
        return FdTable::unreadable;
    }
    FdTable result = FdTable::empty;
    while (const dirent *task = ::readdir(tasks)) {
        if (!isDecimal(task->d_name))
            continue;
        const FdTable table = scanFdTable(::dirfd(tasks), (std::string(task->d_name) + "/fd").c_str(), inodes);
        if (table == FdTable::holds || table == FdTable::unreadable) {
            result = table;
            if (table == FdTable::holds)
                break;
        } else if (table == FdTable::holdsNot && result == FdTable::empty) {
            result = table;
        }
    }
    ::closedir(tasks);
    return result;
}

} // namespace

std::optional<PinnedProcess> pinProcess(int pid, int &errorNumber) {
    PinnedProcess process;
    process.pid = pid;
    process.pidfd = UniqueFd(pidfdOpen(pid));
    if (!process.pidfd.valid() && errno != ENOSYS) {
        errorNumber = errno;
        return std::nullopt;
    }
    // Read after the pidfd is open: if the process still runs afterwards, this is its start time.
    const std::optional<std::uint64_t> startTime = readStartTime(pid);
    if (!startTime || (process.pidfd.valid() && pidfdHasExited(process.pidfd.get()))) {
        errorNumber = ESRCH;
        return std::nullopt;
    }
    process.startTime = *startTime;
    return process;
}

bool stillPinned(const PinnedProcess &process) {
    if (process.pidfd.valid() && pidfdHasExited(process.pidfd.get()))
        return false;
    return readStartTime(process.pid) == process.startTime;
}

std::optional<uid_t> soleUid(int pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/status";
    std::FILE *status = std::fopen(path.c_str(), "re");
    if (!status)
        return std::nullopt;
    char line[256];
    std::optional<uid_t> uid;
    while (std::fgets(line, sizeof line, status)) {
        unsigned long real = 0, effective = 0, saved = 0;
        if (std::sscanf(line, "Uid: %lu %lu %lu", &real, &effective, &saved) == 3) {
            if (real == effective && effective == saved)
                uid = uid_t(real);
            break;
        }
    }
    std::fclose(status);
    return uid;
}

HolderScan findSocketHolders(const std::set<std::uint64_t> &inodes, std::optional<uid_t> uid) {
    HolderScan scan;
    DIR *proc = ::opendir("/proc");
    if (!proc) {
        scan.incomplete = true;
        return scan;
    }
    while (const dirent *entry = ::readdir(proc)) {
        if (!isDecimal(entry->d_name))
            continue;
        const int pid = std::atoi(entry->d_name);
        int error = 0;
        std::optional<PinnedProcess> process = pinProcess(pid, error);
        if (!process) {
            // A process that exited since the listing is no holder; any other failure may hide one.
            if (error != ESRCH)
                scan.incomplete = true;
            continue;
        }
        if (uid && soleUid(pid) != uid)
            continue;
        const int directory = ::openat(::dirfd(proc), entry->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (directory < 0)
            continue;
        FdTable table = scanFdTable(directory, "fd", inodes);
        if (table == FdTable::empty)
            table = scanThreads(directory, inodes);
        ::close(directory);
        // Checked again after: the descriptors read were this process's only if it still runs.
        if (!stillPinned(*process) || (uid && soleUid(pid) != uid))
            continue;
        if (table == FdTable::unreadable)
            scan.incomplete = true;
        else if (table == FdTable::holds)
            scan.holders.push_back(std::move(*process));
    }
    ::closedir(proc);
    return scan;
}

} // namespace quaystone::kernel
