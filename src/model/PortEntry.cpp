#include "PortEntry.h"

namespace quaystone {

bool canonicallyEqual(const QString &a, const QString &b) {
    if (a == b)
        return true;
    return a.normalized(QString::NormalizationForm_D) == b.normalized(QString::NormalizationForm_D);
}

bool operator==(const PortEntry &a, const PortEntry &b) {
    if (a.m_id != b.m_id || !canonicallyEqual(a.m_processName, b.m_processName))
        return false;
    if (a.m_workingDirectory.has_value() != b.m_workingDirectory.has_value())
        return false;
    return !a.m_workingDirectory || canonicallyEqual(*a.m_workingDirectory, *b.m_workingDirectory);
}

} // namespace quaystone
