#include "kernel/PinnedProcess.h"

#include "kernel/ProcStat.h"

#include <cerrno>
#include <cstdio>
#include <string>

namespace quaystone::kernel {

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

} // namespace quaystone::kernel
