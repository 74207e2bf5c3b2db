#pragma once

#include "model/PortEntry.h"
#include "model/RowError.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QStringList>

#include <optional>
#include <utility>

namespace quaystone {

// What a screen reader is told between two renders of the popup: a kill that ends or fails, and
// an update that fails. A kill's start is told only when asked for, once it has run a while, so
// that a quick stop is one message. The views see a kill only through the store's state (the
// process's rows leave while its pid is suppressed, and come back with errors if it failed),
// so the process's name and ports are remembered from the render before the kill.
class PopoverAnnouncements {
public:
    struct Snapshot {
        QList<PortEntry> entries;
        QHash<PortEntryID, RowError> rowErrors;
        QSet<qint32> suppressedPIDs;
        // The few words of the latest failed update, while the latest update failed.
        std::optional<QString> updateFailure;
        // The latest stop as administrator, and what it stopped: "postgres (pid 812) on port 5432".
        quint64 administratorStopSequence = 0;
        QStringList stoppedAsAdministrator = {};
    };

    // The messages for the change from the previous snapshot to this one, in order.
    QStringList update(Snapshot snapshot);
    // The processes whose kills began since the last call.
    QList<qint32> takeStartedKills() { return std::exchange(m_started, {}); }
    // "Stopping python3 on port 4243" while the process's kill runs and its start is untold.
    std::optional<QString> stillStopping(qint32 pid);

private:
    Snapshot m_previous;
    // "python3 on port 4243", for each process whose kill is running.
    QHash<qint32, QString> m_killing;
    QSet<qint32> m_toldStarting;
    QList<qint32> m_started;
};

} // namespace quaystone
