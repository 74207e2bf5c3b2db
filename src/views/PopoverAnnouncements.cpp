#include "PopoverAnnouncements.h"

#include "PortRowView.h"
#include "model/DisplayText.h"

#include <QCoreApplication>

#include <algorithm>
#include <tuple>

namespace quaystone {

namespace {

QString tr(const char *text) {
    return QCoreApplication::translate("quaystone::PopoverAnnouncements", text);
}

// "python3 on port 4243", or "on ports 4243, 4244" for a process that listens on several. Rows
// without a process (another user's listener) stand alone.
QString describeProcess(const QList<PortEntry> &entries, const PortEntryID &id) {
    QString name;
    QStringList ports;
    for (const PortEntry &entry : entries) {
        if (id.pid > 0 ? entry.pid() != id.pid : entry.id() != id)
            continue;
        if (ports.isEmpty())
            name = displayText(entry.processName());
        const QString port = QString::number(entry.port());
        if (!ports.contains(port))
            ports.append(port);
    }
    if (ports.isEmpty())
        return {};
    return (ports.size() == 1 ? tr("%1 on port %2") : tr("%1 on ports %2")).arg(name, ports.join(QStringLiteral(", ")));
}

} // namespace

std::optional<QString> PopoverAnnouncements::stillStopping(qint32 pid) {
    const auto killing = m_killing.constFind(pid);
    if (killing == m_killing.cend() || m_toldStarting.contains(pid))
        return std::nullopt;
    m_toldStarting.insert(pid);
    return tr("Stopping %1").arg(*killing);
}

QStringList PopoverAnnouncements::update(Snapshot snapshot) {
    QStringList messages;
    QSet<qint32> told;
    for (const qint32 pid : std::as_const(snapshot.suppressedPIDs)) {
        if (m_previous.suppressedPIDs.contains(pid) || m_killing.contains(pid))
            continue;
        const QString process = describeProcess(m_previous.entries, PortEntryID{pid, 0});
        if (process.isEmpty())
            continue; // never shown, so nothing to tell
        m_killing.insert(pid, process);
        m_started.append(pid);
    }
    for (auto it = m_killing.begin(); it != m_killing.end();) {
        // A kill has ended when its process is no longer suppressed, or when its rows came back
        // (a refused kill puts them back, with their errors, before the suppression ends).
        const qint32 pid = it.key();
        const bool rowsBack = std::any_of(snapshot.entries.cbegin(), snapshot.entries.cend(),
                                          [pid](const PortEntry &entry) { return entry.pid() == pid; });
        if (snapshot.suppressedPIDs.contains(pid) && !rowsBack) {
            ++it;
            continue;
        }
        std::optional<RowError> error;
        for (auto record = snapshot.rowErrors.cbegin(); rowsBack && record != snapshot.rowErrors.cend() && !error;
             ++record) {
            if (record.key().pid == pid)
                error = *record;
        }
        if (error)
            messages.append(tr("Could not stop %1: %2").arg(*it, PortRowView::errorText(*error)));
        else
            messages.append(tr("Stopped %1").arg(*it));
        told.insert(pid);
        m_toldStarting.remove(pid);
        it = m_killing.erase(it);
    }
    // A kill that failed before any render saw it start still shows its error.
    QList<PortEntryID> newErrors;
    for (auto it = snapshot.rowErrors.cbegin(); it != snapshot.rowErrors.cend(); ++it) {
        const auto before = m_previous.rowErrors.constFind(it.key());
        if ((before == m_previous.rowErrors.cend() || *before != *it) && !told.contains(it.key().pid))
            newErrors.append(it.key());
    }
    std::sort(newErrors.begin(), newErrors.end(), [](const PortEntryID &a, const PortEntryID &b) {
        return std::tie(a.port, a.pid) < std::tie(b.port, b.pid);
    });
    for (const PortEntryID &id : std::as_const(newErrors)) {
        const QString process = describeProcess(snapshot.entries, id);
        if (process.isEmpty() || (id.pid > 0 && told.contains(id.pid)))
            continue; // a row that is not shown, or its process already told
        told.insert(id.pid);
        messages.append(tr("Could not stop %1: %2").arg(process, PortRowView::errorText(snapshot.rowErrors.value(id))));
    }
    if (snapshot.administratorStopSequence != m_previous.administratorStopSequence) {
        for (const QString &process : std::as_const(snapshot.stoppedAsAdministrator))
            messages.append(tr("Stopped %1").arg(process));
    }
    if (snapshot.updateFailure && snapshot.updateFailure != m_previous.updateFailure)
        messages.append(tr("Update failed: %1").arg(*snapshot.updateFailure));
    m_previous = std::move(snapshot);
    return messages;
}

} // namespace quaystone
