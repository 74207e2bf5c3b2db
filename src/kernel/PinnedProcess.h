#pragma once

#include "kernel/Pidfd.h"

#include <sys/types.h>

#include <cstdint>
#include <optional>

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

} // namespace quaystone::kernel
