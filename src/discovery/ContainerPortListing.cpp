#include "ContainerPortListing.h"

#include <QMultiHash>

#include <algorithm>

namespace quaystone {

ContainerPortListing::ContainerPortListing(std::unique_ptr<PortListing> listing,
                                           std::unique_ptr<ContainerListing> containers)
    : m_listing(std::move(listing))
    , m_containers(std::move(containers)) {}

QCoro::Task<PortListingResult> ContainerPortListing::listPorts(PortRange range) {
    // The engine is asked first and awaited last: the two run side by side, so the engine's
    // deadline is all that it can add to a pass.
    QCoro::Task<ContainerListingResult> asking = m_containers->listContainers();
    PortListingResult listing = co_await m_listing->listPorts(range);
    const ContainerListingResult containers = co_await std::move(asking);
    if (!listing || !containers)
        co_return listing;
    co_return PortListingResult(withContainers(std::move(listing).value(), containers.value(), range));
}

QList<PortEntry> ContainerPortListing::withContainers(QList<PortEntry> rows, const QList<RunningContainer> &containers,
                                                      PortRange range) {
    QMultiHash<qint64, const ContainerInfo *> published;
    for (const RunningContainer &container : containers) {
        for (const qint64 port : container.publishedTcpPorts) {
            if (range.contains(port))
                published.insert(port, &container.info);
        }
    }
    if (published.isEmpty())
        return rows;

    rows.removeIf([&](const PortEntry &row) {
        if (!published.contains(row.port()))
            return false;
        const bool rootWithoutProcess = !row.hasProcess() && !row.container() && row.uid() == 0u;
        return isContainerProxyName(row.processName()) || rootWithoutProcess;
    });
    for (auto it = published.cbegin(); it != published.cend(); ++it)
        rows.append(PortEntry::containerListener(it.key(), *it.value()));
    std::stable_sort(rows.begin(), rows.end(), displayOrderLess);
    return rows;
}

} // namespace quaystone
