#pragma once

#include "model/WorkingDirectoryResolving.h"

namespace quaystone {

// Reads the target of the link /proc/<pid>/cwd afresh on every request.
class ProcessWorkingDirectoryResolver final : public WorkingDirectoryResolving {
public:
    QCoro::Task<ProcessDetails> resolve(qint32 pid) override;
};

} // namespace quaystone
