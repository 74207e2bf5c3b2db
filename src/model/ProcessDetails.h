#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace quaystone {

// What the per-row step reads of a listed process. Each field is absent when it could not be read.
struct ProcessDetails {
    std::optional<QString> workingDirectory;
    // The kernel marks a removed working directory; the path is then kept without that mark.
    bool workingDirectoryDeleted = false;
    // The kernel's name of the process, not cut short as lsof's is.
    std::optional<QString> name;
    // The arguments joined by spaces, control characters escaped, at most 4 KiB.
    std::optional<QString> commandLine;
    // Clock ticks since boot when the process started: with the pid, it names one process.
    std::optional<quint64> startTime;
    std::optional<quint32> uid;

    friend bool operator==(const ProcessDetails &, const ProcessDetails &) = default;
};

} // namespace quaystone
