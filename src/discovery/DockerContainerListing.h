#pragma once

#include "model/ContainerListing.h"

#include <QByteArray>
#include <QStringList>

#include <optional>

namespace quaystone {

// Asks each container engine socket that exists (Docker's, Podman's Docker-compatible one)
// for its running containers, all at once, each within the listing's deadline.
class DockerContainerListing final : public ContainerListing {
public:
    explicit DockerContainerListing(QStringList socketPaths = defaultSocketPaths());

    QCoro::Task<ContainerListingResult> listContainers() override;

    static QStringList defaultSocketPaths();

    // The body of GET /containers/json: running containers with their published TCP ports,
    // each port once (an IPv4 and an IPv6 publication are one). None when it is not a list.
    static std::optional<QList<RunningContainer>> parseContainers(const QByteArray &body, const QString &engineSocket);

private:
    QStringList m_socketPaths;
};

} // namespace quaystone
