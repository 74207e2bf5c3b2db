#include "kernel/ProcStat.h"

#include <cerrno>
#include <limits>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace quaystone::kernel {

std::optional<std::uint64_t> parseStartTime(std::string_view stat) {
    // The name (field 2) sits in parentheses and may itself hold spaces and ')', so the
    // fields are counted from the last ')': field 3 follows it. Read once per listed process
    // in every refresh, so it walks the text without allocating.
    const std::size_t close = stat.rfind(')');
    if (close == std::string_view::npos)
        return std::nullopt;
    std::size_t i = close + 1;
    const auto skipSpaces = [&] {
        while (i < stat.size() && stat[i] == ' ')
            ++i;
    };
    constexpr int startTimeField = 22;
    for (int field = 3; field < startTimeField; ++field) {
        skipSpaces();
        if (i == stat.size())
            return std::nullopt;
        while (i < stat.size() && stat[i] != ' ')
            ++i;
    }
    skipSpaces();
    const std::size_t begin = i;
    std::uint64_t ticks = 0;
    for (; i < stat.size() && stat[i] >= '0' && stat[i] <= '9'; ++i) {
        if (ticks > (std::numeric_limits<std::uint64_t>::max() - 9) / 10)
            return std::nullopt;
        ticks = ticks * 10 + std::uint64_t(stat[i] - '0');
    }
    if (i == begin || (i < stat.size() && stat[i] != ' ' && stat[i] != '\n'))
        return std::nullopt;
    return ticks;
}

std::optional<std::uint64_t> readStartTimeAt(int procPidDirectory) {
    const int fd = ::openat(procPidDirectory, "stat", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    // A stat line is a few hundred bytes; its 52 fields fit here whatever their values.
    char buffer[2048];
    ssize_t length;
    do {
        length = ::read(fd, buffer, sizeof buffer);
    } while (length < 0 && errno == EINTR);
    ::close(fd);
    if (length <= 0)
        return std::nullopt;
    return parseStartTime(std::string_view(buffer, std::size_t(length)));
}

std::optional<std::uint64_t> readStartTime(int pid) {
    if (pid <= 0)
        return std::nullopt;
    const std::string path = "/proc/" + std::to_string(pid);
    const int directory = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0)
        return std::nullopt;
    const std::optional<std::uint64_t> startTime = readStartTimeAt(directory);
    ::close(directory);
    return startTime;
}

} // namespace quaystone::kernel
