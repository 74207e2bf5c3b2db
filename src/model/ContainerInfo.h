#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

class QJsonObject;

namespace quaystone {

// The container behind a published port, as its engine names it.
struct ContainerInfo {
    QString id;
    QString name;
    QString image;
    // The engine's API socket: a stop goes back to the engine that listed the container.
    QString engineSocket;

    friend bool operator==(const ContainerInfo &, const ContainerInfo &) = default;
};

// A running container and the TCP ports it publishes on the host.
struct RunningContainer {
    ContainerInfo info;
    QList<qint64> publishedTcpPorts;

    friend bool operator==(const RunningContainer &, const RunningContainer &) = default;
};

// {"id", "name", "image"}: how the terminal listing writes a row's container.
QJsonObject containerJson(const ContainerInfo &container);

// True for the processes that hold a container's published port on the host (Docker's
// docker-proxy, rootless Docker's rootlesskit, Podman's rootlessport), also under lsof's
// 9-character cut of their names. Signalling one breaks its container's networking and leaves
// the container running (rootlesskit would take the whole rootless engine with it).
bool isContainerProxyName(const QString &processName);
// The units of the container engines, whose port forwarders publish containers' ports.
bool isContainerEngineUnit(const QString &unit);

} // namespace quaystone
