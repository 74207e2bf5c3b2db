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
    PortEntry entry(0, port, ownerName);
    entry.m_id.ownerUid = uid;
    entry.m_details.uid = uid;
    entry.m_ownerName = std::move(ownerName);
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
           canonicallyEqual(a.m_ownerName, b.m_ownerName);
}

} // namespace quaystone
