#include "SystemdUnitPortListing.h"

#include "discovery/SystemdBus.h"
#include "discovery/SystemdCgroup.h"
#include "model/ContainerInfo.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>

#include <unistd.h>

namespace quaystone {

namespace {

// The manager of a row whose port it holds itself, for a socket unit.
enum class Holder { none, systemManager, ownManager };

} // namespace

SystemdUnitPortListing::SystemdUnitPortListing(std::unique_ptr<PortListing> listing)
    : m_listing(std::move(listing)) {}

QList<qint64> SystemdUnitPortListing::streamPorts(const QList<std::pair<QString, QString>> &listen) {
    QList<qint64> ports;
    for (const auto &[type, address] : listen) {
        if (type != QLatin1String("Stream") || address.startsWith(u'/') || address.startsWith(u'@'))
            continue;
        bool ok = false;
        const qint64 port = address.mid(address.lastIndexOf(u':') + 1).toLongLong(&ok);
        if (ok && port > 0 && port <= 65535)
            ports.append(port);
    }
    return ports;
}

QCoro::Task<QHash<qint64, QString>> SystemdUnitPortListing::socketUnits(ServiceScope scope) {
    QHash<qint64, QString> units;
    const QDBusConnection connection = systemdbus::connectionFor(scope);
    QDBusMessage list = systemdbus::managerCall(QStringLiteral("ListUnitsByPatterns"));
    list << QStringList{QStringLiteral("active")} << QStringList{QStringLiteral("*.socket")};
    const QDBusMessage reply = co_await systemdbus::call(connection, list);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        co_return units;
    // a(ssssssouso): name, description, load, active and sub state, follower, path, job...
    QStringList names;
    const QDBusArgument array = reply.arguments().constFirst().value<QDBusArgument>();
    array.beginArray();
    while (!array.atEnd()) {
        QString name, description, load, active, sub, follower, jobType;
        QDBusObjectPath path, jobPath;
        uint jobId = 0;
        array.beginStructure();
        array >> name >> description >> load >> active >> sub >> follower >> path >> jobId >> jobType >> jobPath;
        array.endStructure();
        names.append(name);
    }
    array.endArray();
    for (const QString &name : std::as_const(names)) {
        const QVariant listen = co_await systemdbus::unitProperty(
            connection, name, QStringLiteral("org.freedesktop.systemd1.Socket"), QStringLiteral("Listen"));
        QList<std::pair<QString, QString>> entries;
        const QDBusArgument value = listen.value<QDBusArgument>();
        if (value.currentType() != QDBusArgument::ArrayType)
            continue;
        value.beginArray();
        while (!value.atEnd()) {
            QString type, address;
            value.beginStructure();
            value >> type >> address;
            value.endStructure();
            entries.append({type, address});
        }
        value.endArray();
        for (const qint64 port : streamPorts(entries))
            units.insert(port, name);
    }
    co_return units;
}

QCoro::Task<PortListingResult> SystemdUnitPortListing::listPorts(PortRange range) {
    PortListingResult listing = co_await m_listing->listPorts(range);
    if (!listing || !systemdcgroup::systemdIsRunning())
        co_return listing;

    const quint32 ownUid = quint32(::geteuid());
    QList<PortEntry> rows = std::move(listing).value();
    QHash<qint32, CgroupPlacement> placements;
    QList<Holder> holders(rows.size(), Holder::none);
    bool askSystem = false;
    bool askOwn = false;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const PortEntry &row = rows.at(i);
        // A container's proxy runs in its engine's unit: stopping that would stop every container.
        if (row.container() || row.service() || isContainerProxyName(row.processName()))
            continue;
        if (!row.hasProcess()) {
            // Another user's socket that names no service: root's manager holds it, if anyone.
            if (row.uid() == 0u)
                holders[i] = Holder::systemManager;
        } else {
            auto placement = placements.constFind(row.pid());
            if (placement == placements.cend())
                placement = placements.insert(row.pid(), systemdcgroup::placementOfProcess(row.pid()));
            if (placement->kind == CgroupPlacement::Kind::service)
                rows[i] = row.withService(placement->unit);
            else if (placement->kind == CgroupPlacement::Kind::systemManager)
                holders[i] = Holder::systemManager;
            else if (placement->kind == CgroupPlacement::Kind::userManager && placement->userUid == ownUid)
                holders[i] = Holder::ownManager;
        }
        askSystem = askSystem || holders[i] == Holder::systemManager;
        askOwn = askOwn || holders[i] == Holder::ownManager;
    }
    QHash<qint64, QString> systemSockets;
    QHash<qint64, QString> ownSockets;
    if (askSystem)
        systemSockets = co_await socketUnits(ServiceScope::system);
    if (askOwn)
        ownSockets = co_await socketUnits(ServiceScope::user);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (holders[i] == Holder::systemManager && systemSockets.contains(rows[i].port()))
            rows[i] = rows[i].withService(ServiceUnit{systemSockets.value(rows[i].port()), ServiceScope::system, 0});
        else if (holders[i] == Holder::ownManager && ownSockets.contains(rows[i].port()))
            rows[i] = rows[i].withService(ServiceUnit{ownSockets.value(rows[i].port()), ServiceScope::user, ownUid});
    }
    co_return rows;
}

} // namespace quaystone
