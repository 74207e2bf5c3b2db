#pragma once

#include "discovery/WorkingDirectoryResolving.h"

namespace quaystone {

// Reads the target of the link /proc/<pid>/cwd afresh on every request.
class ProcessWorkingDirectoryResolver final : public WorkingDirectoryResolving {
public:
    QCoro::Task<std::optional<QString>> resolve(qint32 pid) override;
};

} // namespace quaystone
