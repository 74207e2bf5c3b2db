#pragma once

#include "model/WorkingDirectoryResolving.h"

namespace quaystone {

// Reads a process's details from /proc/<pid> afresh on every request: the working directory
// (the link cwd), the name (comm), the command line (cmdline), the start time (stat) and the
// owner (of the directory itself). A handful of small reads, no child process.
class ProcessWorkingDirectoryResolver final : public WorkingDirectoryResolving {
public:
    QCoro::Task<ProcessDetails> resolve(qint32 pid) override;

    // What resolve answers, read at once on the calling thread.
    static ProcessDetails read(qint32 pid);

    // The longest command line read, in bytes; a longer one is cut and ends in an ellipsis.
    static constexpr int commandLineLimit = 4096;
};

} // namespace quaystone
