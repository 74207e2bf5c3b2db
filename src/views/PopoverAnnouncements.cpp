#include "PopoverAnnouncements.h"

#include "PortRowView.h"

#include <QCoreApplication>

namespace quaystone {

namespace {

QString tr(const char *text) {
    return QCoreApplication::translate("quaystone::PopoverAnnouncements", text);
}

// "python3 on port 4243", or "on ports 4243, 4244" for a process that listens on several.
QString describeProcess(const QList<PortEntry> &entries, qint32 pid) {
    QString name;
    QStringList ports;
    for (const PortEntry &entry : entries) {
        if (entry.pid() != pid)
            continue;
        if (ports.isEmpty())
            name = entry.processName();
        const QString port = QString::number(entry.port());
        if (!ports.contains(port))
            ports.append(port);
    }
    if (ports.isEmpty())
        return {};
    return (ports.size() == 1 ? tr("%1 on port %2") : tr("%1 on ports %2")).arg(name, ports.join(QStringLiteral(", ")));
}

} // namespace

QStringList PopoverAnnouncements::update(Snapshot snapshot) {
    QStringList messages;
    QSet<qint32> told;
    for (const qint32 pid : std::as_const(snapshot.suppressedPIDs)) {
        if (m_previous.suppressedPIDs.contains(pid) || m_killing.contains(pid))
            continue;
        const QString process = describeProcess(m_previous.entries, pid);
        if (process.isEmpty())
            continue; // never shown, so nothing to tell
        m_killing.insert(pid, process);
        messages.append(tr("Stopping %1").arg(process));
    }
    for (auto it = m_killing.begin(); it != m_killing.end();) {
        if (snapshot.suppressedPIDs.contains(it.key())) {
            ++it;
            continue;
        }
        std::optional<RowError> error;
        for (const PortEntry &entry : std::as_const(snapshot.entries)) {
            if (entry.pid() == it.key() && snapshot.rowErrors.contains(entry.id())) {
                error = snapshot.rowErrors.value(entry.id());
                break;
            }
        }
        if (error) {
            messages.append(tr("Could not stop %1: %2").arg(*it, PortRowView::errorText(*error)));
            told.insert(it.key());
        } else {
            messages.append(tr("Stopped %1").arg(*it));
        }
        it = m_killing.erase(it);
    }
    // A kill that failed before any render saw it start still shows its error.
    for (const PortEntry &entry : std::as_const(snapshot.entries)) {
        const auto error = snapshot.rowErrors.constFind(entry.id());
        if (error == snapshot.rowErrors.cend() || told.contains(entry.pid()))
            continue;
        const auto before = m_previous.rowErrors.constFind(entry.id());
        if (before != m_previous.rowErrors.cend() && *before == *error)
            continue;
        told.insert(entry.pid());
        messages.append(tr("Could not stop %1: %2")
                            .arg(describeProcess(snapshot.entries, entry.pid()), PortRowView::errorText(*error)));
    }
    if (snapshot.updateFailure && snapshot.updateFailure != m_previous.updateFailure)
        messages.append(tr("Update failed: %1").arg(*snapshot.updateFailure));
    m_previous = std::move(snapshot);
    return messages;
}

} // namespace quaystone
