#pragma once

#include "model/ContainerInfo.h"
#include "model/Result.h"

#include <QList>
#include <qcoro/qcorotask.h>

namespace quaystone {

// Why no container engine answered. The list is then shown as it would be without one.
enum class ContainerEngineError {
    unavailable,      // no socket, or nothing listening on it
    permissionDenied, // the user may not use the socket
    timedOut,         // no complete answer within the deadline
    badAnswer,        // an answer that is not a container list
};

using ContainerListingResult = Result<QList<RunningContainer>, ContainerEngineError>;

class ContainerListing {
public:
    virtual ~ContainerListing() = default;

    // The running containers with the TCP ports they publish on the host.
    virtual QCoro::Task<ContainerListingResult> listContainers() = 0;
};

} // namespace quaystone
