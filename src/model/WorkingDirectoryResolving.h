#pragma once

#include "model/ProcessDetails.h"

#include <qcoro/qcorotask.h>

namespace quaystone {

// The per-row step of a refresh: everything read of one listed process, in one visit.
class WorkingDirectoryResolving {
public:
    virtual ~WorkingDirectoryResolving() = default;

    // The process's working directory and its other details; absent fields could not be read.
    virtual QCoro::Task<ProcessDetails> resolve(qint32 pid) = 0;
};

} // namespace quaystone
