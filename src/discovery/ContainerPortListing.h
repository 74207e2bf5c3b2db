#pragma once

#include "model/ContainerListing.h"
#include "model/PortListing.h"

#include <memory>

namespace quaystone {

// A listing that names the ports that containers publish. It asks the container engine while
// the wrapped listing runs; for each published port in range it shows one row for the
// container in place of the rows of the proxy that holds the port on the host (docker-proxy,
// rootlesskit, rootlessport, or, where that process cannot be seen, a listener of root's
// without a pid).
// Without an engine the wrapped listing's answer is passed on as it is.
class ContainerPortListing final : public PortListing {
public:
    ContainerPortListing(std::unique_ptr<PortListing> listing, std::unique_ptr<ContainerListing> containers);

    QCoro::Task<PortListingResult> listPorts(PortRange range) override;

    // The rows with the containers' ports put in, in display order.
    static QList<PortEntry> withContainers(QList<PortEntry> rows, const QList<RunningContainer> &containers,
                                           PortRange range);

private:
    std::unique_ptr<PortListing> m_listing;
    std::unique_ptr<ContainerListing> m_containers;
};

} // namespace quaystone
