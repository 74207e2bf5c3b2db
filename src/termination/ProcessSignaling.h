#pragma once

#include <QtGlobal>

namespace quaystone {

class ProcessSignaling {
public:
    virtual ~ProcessSignaling() = default;

    // Sends signal to pid. Returns 0 on success, otherwise the system's error number.
    virtual int send(int signal, qint32 pid) = 0;
};

} // namespace quaystone
