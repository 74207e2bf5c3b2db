#pragma once

#include "ContainerInfo.h"
#include "PortEntryID.h"
#include "ProcessDetails.h"
#include "ServiceUnit.h"

#include <QString>

#include <optional>

namespace quaystone {

// One listening TCP socket and what is known of its process. An immutable value:
// a changed entry is a new value (see withWorkingDirectory and withDetails).
class PortEntry {
public:
    PortEntry(qint32 pid, qint64 port, QString processName, std::optional<QString> workingDirectory = std::nullopt)
        : m_id{pid, port}
        , m_processName(std::move(processName)) {
        m_details.workingDirectory = std::move(workingDirectory);
    }

    // A listener of another user, known only from the kernel's socket table: no pid, no
    // directory, no name; its owner's user name (the uid when the user has no name).
    static PortEntry foreignListener(qint64 port, quint32 uid, QString ownerName);
    // A port that a container publishes, named after the container; the process holding it on
    // the host (a proxy) is not the thing to stop.
    static PortEntry containerListener(qint64 port, ContainerInfo container);

    PortEntryID id() const { return m_id; }
    qint32 pid() const { return m_id.pid; }
    qint64 port() const { return m_id.port; }
    // Empty when unknown (another user's listener).
    const QString &processName() const { return m_processName; }
    const std::optional<QString> &workingDirectory() const { return m_details.workingDirectory; }
    bool workingDirectoryDeleted() const { return m_details.workingDirectoryDeleted; }
    const std::optional<QString> &commandLine() const { return m_details.commandLine; }
    std::optional<quint64> startTime() const { return m_details.startTime; }
    std::optional<quint32> uid() const { return m_details.uid; }
    // False for a listener of another user that only the socket table shows.
    bool hasProcess() const { return m_id.pid > 0; }
    // The owner's user name, set for rows without a process.
    const QString &ownerName() const { return m_ownerName; }
    // Set for a port published by a container: the row stands for the container.
    const std::optional<ContainerInfo> &container() const { return m_container; }
    // Set for a listener that a systemd .service unit runs (or a socket unit's manager holds):
    // the unit is what stops it, since its manager would start a signalled process again.
    const std::optional<ServiceUnit> &service() const { return m_service; }

    PortEntry withWorkingDirectory(std::optional<QString> workingDirectory) const {
        PortEntry copy = *this;
        copy.m_details.workingDirectory = std::move(workingDirectory);
        return copy;
    }
    PortEntry withService(std::optional<ServiceUnit> service) const {
        PortEntry copy = *this;
        copy.m_service = std::move(service);
        return copy;
    }
    // The per-row step's reading; the kernel's name replaces lsof's shortened one.
    PortEntry withDetails(ProcessDetails details) const;

    // Field by field; strings compare by canonical equivalence, so names that differ only
    // in Unicode normalisation are equal.
    friend bool operator==(const PortEntry &a, const PortEntry &b);

private:
    // The id is stored once; pid() and port() read it, so they can never disagree with it.
    PortEntryID m_id;
    QString m_processName;
    ProcessDetails m_details;
    QString m_ownerName;
    std::optional<ContainerInfo> m_container;
    std::optional<ServiceUnit> m_service;
};

// True when the two strings are canonically equivalent Unicode text.
bool canonicallyEqual(const QString &a, const QString &b);

// The list order used everywhere: port ascending, then pid ascending, then owner.
inline bool displayOrderLess(const PortEntry &a, const PortEntry &b) {
    if (a.port() != b.port())
        return a.port() < b.port();
    if (a.pid() != b.pid())
        return a.pid() < b.pid();
    return a.id().ownerUid < b.id().ownerUid;
}

} // namespace quaystone
