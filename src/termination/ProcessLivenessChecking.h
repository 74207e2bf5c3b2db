#pragma once

#include <QtGlobal>

namespace quaystone {

class ProcessLivenessChecking {
public:
    virtual ~ProcessLivenessChecking() = default;

    // Returns 0 when the process exists and may be signalled, otherwise the system's
    // error number.
    virtual int probe(qint32 pid) = 0;
};

} // namespace quaystone
