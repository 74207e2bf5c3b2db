#pragma once

#include "model/PortListing.h"
#include "model/ServiceUnit.h"

#include <QHash>
#include <memory>

namespace quaystone {

// A listing that names the systemd unit of each listener: a process's from its cgroup, a port
// that a manager holds for a socket unit from that manager's socket units and their Listen
// addresses. Where systemd does not run, the wrapped listing's answer is passed on as it is.
class SystemdUnitPortListing final : public PortListing {
public:
    explicit SystemdUnitPortListing(std::unique_ptr<PortListing> listing);

    QCoro::Task<PortListingResult> listPorts(PortRange range) override;

    // The TCP ports in a socket unit's Listen property (a(ss): type and address) that it
    // holds, with "[::]:7777", "127.0.0.1:7777" or "7777"; paths and other families have none.
    static QList<qint64> streamPorts(const QList<std::pair<QString, QString>> &listen);

private:
    // Port to socket unit, for the manager of the scope.
    static QCoro::Task<QHash<qint64, QString>> socketUnits(ServiceScope scope);

    std::unique_ptr<PortListing> m_listing;
};

} // namespace quaystone
