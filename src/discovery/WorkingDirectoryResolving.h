#pragma once

#include <QString>
#include <qcoro/qcorotask.h>

#include <optional>

namespace quaystone {

class WorkingDirectoryResolving {
public:
    virtual ~WorkingDirectoryResolving() = default;

    // The process's current working directory, or none when it cannot be read.
    virtual QCoro::Task<std::optional<QString>> resolve(qint32 pid) = 0;
};

} // namespace quaystone
