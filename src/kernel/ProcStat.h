#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quaystone::kernel {

// Field 22 of /proc/PID/stat, the start time in clock ticks after boot: with the pid, it names
// one process. Absent when the text is not a stat file's.
std::optional<std::uint64_t> parseStartTime(std::string_view stat);

// The start time of a process, read afresh; absent when it is gone (or pid is not one). A
// zombie still has one: whether a process still runs is its pidfd's to say.
std::optional<std::uint64_t> readStartTime(int pid);
// The same for the stat file below an open /proc/PID directory.
std::optional<std::uint64_t> readStartTimeAt(int procPidDirectory);

} // namespace quaystone::kernel
