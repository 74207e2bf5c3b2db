#include "PortEntry.h"

namespace quaystone {

namespace {

bool canonicallyEqualOptional(const std::optional<QString> &a, const std::optional<QString> &b) {
    if (a.has_value() != b.has_value())
        return false;
    return !a || canonicallyEqual(*a, *b);
}

} // namespace

bool canonicallyEqual(const QString &a, const QString &b) {
    if (a == b)
        return true;
    return a.normalized(QString::NormalizationForm_D) == b.normalized(QString::NormalizationForm_D);
}

PortEntry PortEntry::foreignListener(qint64 port, quint32 uid, QString ownerName) {
    // Its process, and so its name, cannot be seen from this account.
    PortEntry entry(0, port, QString());
    entry.m_id.ownerUid = uid;
    entry.m_details.uid = uid;
    entry.m_ownerName = std::move(ownerName);
    return entry;
}

PortEntry PortEntry::containerListener(qint64 port, ContainerInfo container) {
    PortEntry entry(0, port, container.name);
    // Rows without a pid are told apart by a key in place of the owner's uid. Negative keys
    // never meet a uid, and one drawn from the container's id keeps the row's identity stable
    // across passes and apart from another container published on the same port.
    quint64 hash = 14695981039346656037ULL; // FNV-1a
    for (const QChar c : std::as_const(container.id)) {
        hash ^= c.unicode();
        hash *= 1099511628211ULL;
    }
    entry.m_id.ownerUid = -2 - qint64(hash >> 2);
    entry.m_container = std::move(container);
    return entry;
}

PortEntry PortEntry::withDetails(ProcessDetails details) const {
    PortEntry copy = *this;
    if (details.name && !details.name->isEmpty())
        copy.m_processName = *details.name;
    copy.m_details = std::move(details);
    return copy;
}

bool operator==(const PortEntry &a, const PortEntry &b) {
    return a.m_id == b.m_id && canonicallyEqual(a.m_processName, b.m_processName) &&
           canonicallyEqualOptional(a.m_details.workingDirectory, b.m_details.workingDirectory) &&
           a.m_details.workingDirectoryDeleted == b.m_details.workingDirectoryDeleted &&
           canonicallyEqualOptional(a.m_details.commandLine, b.m_details.commandLine) &&
           a.m_details.startTime == b.m_details.startTime && a.m_details.uid == b.m_details.uid &&
           canonicallyEqual(a.m_ownerName, b.m_ownerName) && a.m_container == b.m_container &&
           a.m_service == b.m_service;
}

} // namespace quaystone
