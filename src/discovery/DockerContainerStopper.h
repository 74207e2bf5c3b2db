#pragma once

#include "model/ContainerStopping.h"

#include <chrono>

namespace quaystone {

// Stops a container with POST /containers/{id}/stop?t=2 on the engine socket that listed it:
// the engine sends SIGTERM, waits 2 seconds, then sends SIGKILL.
class DockerContainerStopper final : public ContainerStopping {
public:
    // The engine answers only once the container has stopped: the grace period and then some.
    static constexpr std::chrono::milliseconds stopDeadline{10000};

    QCoro::Task<ContainerStopResult> stop(ContainerInfo container) override;

    // True for an id that can go into the request's path as it stands.
    static bool isPlainContainerID(const QString &id);
};

} // namespace quaystone
