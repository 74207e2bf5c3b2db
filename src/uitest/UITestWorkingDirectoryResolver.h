#pragma once

#include "model/WorkingDirectoryResolving.h"

namespace quaystone {

// Answers "/tmp/uitest/project" for every pid, listed or not, at once.
class UITestWorkingDirectoryResolver : public WorkingDirectoryResolving {
public:
    QCoro::Task<ProcessDetails> resolve(qint32 pid) override;
};

} // namespace quaystone
