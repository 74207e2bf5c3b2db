#pragma once

#include "model/ServiceUnit.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QSet>
#include <QString>

#include <optional>

namespace quaystone {

// Where a process or socket sits in systemd's cgroup tree, as far as stopping it goes.
struct CgroupPlacement {
    enum class Kind {
        other,         // a scope (a terminal's, a session's), or not under systemd at all
        service,       // a .service unit: unit is set
        systemManager, // pid 1 itself, which holds the sockets of its socket units
        userManager,   // a user's own systemd, likewise for the user's socket units: userUid is set
    };
    Kind kind = Kind::other;
    std::optional<ServiceUnit> unit;
    quint32 userUid = 0;

    friend bool operator==(const CgroupPlacement &, const CgroupPlacement &) = default;
};

namespace systemdcgroup {

// Whether systemd is the running init (it creates /run/systemd/system at boot).
bool systemdIsRunning();

// The cgroup path in the text of /proc/PID/cgroup: the unified hierarchy's line ("0::"), or
// the name=systemd line of a hybrid one where the unified line says nothing.
std::optional<QByteArray> pathOfProcessFile(QByteArrayView text);

// What a cgroup path says: the last .service component (a user unit when it lies under
// user@UID.service, whose own cgroup is the user's manager), or the manager's init.scope.
CgroupPlacement placementOf(QByteArrayView path);

// The placement of a running process, read from /proc/PID/cgroup.
CgroupPlacement placementOfProcess(qint32 pid);

// The paths, relative to the cgroup2 mount, of the cgroups with these ids (a cgroup's id is
// the inode number of its directory). Ids that name no cgroup are left out.
QHash<quint64, QByteArray> pathsOfIds(const QSet<quint64> &ids);

} // namespace systemdcgroup
} // namespace quaystone
