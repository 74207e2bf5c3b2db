#include "SystemPortListingService.h"

#include "discovery/SystemdCgroup.h"
#include "model/ContainerInfo.h"

#include <QHash>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

#include <pwd.h>
#include <unistd.h>

namespace quaystone {

SystemPortListingService::SystemPortListingService(std::unique_ptr<PortListing> processListing,
                                                   ListeningSocketTable socketTable, std::optional<quint32> ownUid)
    : m_processListing(std::move(processListing))
    , m_socketTable(std::move(socketTable))
    , m_ownUid(ownUid) {}

std::optional<quint32> SystemPortListingService::listingUser() {
    const uid_t uid = ::geteuid();
    if (uid == 0)
        return std::nullopt;
    return quint32(uid);
}

QCoro::Task<PortListingResult> SystemPortListingService::listPorts(PortRange range) {
    PortListingResult processes = co_await m_processListing->listPorts(range);
    if (!processes || !m_ownUid)
        co_return processes;

    const QList<ListeningSocket> sockets = m_socketTable.read();
    const QList<PortEntry> foreign = withServices(foreignListeners(sockets, range, *m_ownUid), sockets);
    if (foreign.isEmpty())
        co_return processes;
    const QList<PortEntry> &own = processes.value();
    QList<PortEntry> merged;
    merged.reserve(own.size() + foreign.size());
    std::merge(own.cbegin(), own.cend(), foreign.cbegin(), foreign.cend(), std::back_inserter(merged),
               displayOrderLess);
    co_return merged;
}

QList<PortEntry> SystemPortListingService::foreignListeners(const QList<ListeningSocket> &sockets, PortRange range,
                                                            quint32 ownUid) {
    // IPv4 and IPv6 sockets of one owner on one port, and sockets that one program shares
    // between its workers, are one row.
    std::vector<std::pair<quint16, quint32>> owners;
    for (const ListeningSocket &socket : sockets) {
        if (socket.uid != ownUid && socket.port >= range.lowerBound && socket.port <= range.upperBound)
            owners.emplace_back(socket.port, socket.uid);
    }
    std::sort(owners.begin(), owners.end());
    owners.erase(std::unique(owners.begin(), owners.end()), owners.end());

    QHash<quint32, QString> names;
    QList<PortEntry> rows;
    rows.reserve(qsizetype(owners.size()));
    for (const auto &[port, uid] : owners) {
        auto name = names.constFind(uid);
        if (name == names.cend())
            name = names.insert(uid, userName(uid));
        rows.append(PortEntry::foreignListener(port, uid, *name));
    }
    return rows;
}

// A process of another user cannot be read, but its socket's cgroup names its systemd unit.
QList<PortEntry> SystemPortListingService::withServices(QList<PortEntry> rows, const QList<ListeningSocket> &sockets) {
    if (!systemdcgroup::systemdIsRunning())
        return rows;
    QHash<std::pair<quint16, quint32>, quint64> cgroupOf;
    QSet<quint64> ids;
    for (const ListeningSocket &socket : sockets) {
        if (socket.cgroupId != 0 && !cgroupOf.contains({socket.port, socket.uid})) {
            cgroupOf.insert({socket.port, socket.uid}, socket.cgroupId);
            ids.insert(socket.cgroupId);
        }
    }
    const QHash<quint64, QByteArray> paths = systemdcgroup::pathsOfIds(ids);
    for (PortEntry &row : rows) {
        const QByteArray path = paths.value(cgroupOf.value({quint16(row.port()), quint32(row.id().ownerUid)}));
        if (path.isEmpty())
            continue;
        const CgroupPlacement placement = systemdcgroup::placementOf(path);
        // A container's port forwarder runs in its engine's unit: stopping that unit would stop
        // the engine and every container, so such a row keeps its administrator stop, which
        // refuses forwarders.
        if (placement.kind == CgroupPlacement::Kind::service && !isContainerEngineUnit(placement.unit->name))
            row = row.withService(placement.unit);
    }
    return rows;
}

QString SystemPortListingService::userName(quint32 uid) {
    std::vector<char> buffer(1024);
    passwd entry{};
    passwd *found = nullptr;
    for (;;) {
        const int error = ::getpwuid_r(uid_t(uid), &entry, buffer.data(), buffer.size(), &found);
        if (error == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 4);
            continue;
        }
        break;
    }
    if (!found || !found->pw_name || !*found->pw_name)
        return QString::number(uid);
    return QString::fromUtf8(found->pw_name);
}

} // namespace quaystone
