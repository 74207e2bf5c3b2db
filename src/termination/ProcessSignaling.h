#pragma once

namespace quaystone {

class ProcessHandle;

class ProcessSignaling {
public:
    virtual ~ProcessSignaling() = default;

    // Sends signal to the process. Returns 0 on success, otherwise the system's error number.
    virtual int send(int signal, const ProcessHandle &process) = 0;
};

} // namespace quaystone
