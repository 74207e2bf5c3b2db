#pragma once

#include "kernel/Pidfd.h"

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <set>
#include <vector>

namespace quaystone::kernel {

// A process held fast: its pidfd (where the kernel has pidfds) and its start time, read after
// the pidfd was opened. Whatever is read under /proc/PID between pinning it and a successful
// stillPinned() belongs to this process, since its pid cannot pass to another while it lives.
struct PinnedProcess {
    int pid = 0;
    std::uint64_t startTime = 0;
    UniqueFd pidfd; // invalid where the kernel has no pidfds
};

// Absent when the process is gone or cannot be opened; errorNumber then says why (ESRCH: gone).
std::optional<PinnedProcess> pinProcess(int pid, int &errorNumber);
// Whether the pinned process still runs and its pid still names it.
bool stillPinned(const PinnedProcess &process);

// The real, effective and saved uid of a process, when all three are the same: a process of
// that user alone, which cannot take up another user's rights.
std::optional<uid_t> soleUid(int pid);

struct HolderScan {
    std::vector<PinnedProcess> holders;
    // A process whose descriptors could not be read, which may hide a holder.
    bool incomplete = false;
};

// The processes that hold a descriptor on one of the sockets, of one user only when uid is
// given. Each is pinned before its descriptors are read and checked again after. A process
// whose main thread has exited is read through the descriptor tables of its other threads.
HolderScan findSocketHolders(const std::set<std::uint64_t> &inodes, std::optional<uid_t> uid);

} // namespace quaystone::kernel
